// The scenario interpreter: scenario files, the byte-code interpreter, text
// windows, choice menus and diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

// ---------------------------------------------------------------------------
// Scenario files
// ---------------------------------------------------------------------------

constexpr const char* SCENARIO_FILE_STEM = "S00000";

// Loads <name>.KVL and <name>.KVY through asset_read. True when both were read.
bool script_load(Engine* engine, const char* name);

// Takes ownership of two malloc'd buffers as the loaded pair (freeing the
// previous ones), then reads the segment table and parameter 0 from the tables.
// Header words a short tables file lacks read as 0; no segment entry changes
// when the table's position word is missing.
void script_install(Engine* engine, uint8_t* tables, size_t tables_size, uint8_t* code, size_t code_size);

// Message string number index inside kvl_data; null when no scenario is loaded;
// "[KVL_ERR]" when the number or its offset is out of range, or when the string
// has no terminating zero before the end of the file.
const char* script_string(Engine* engine, int32_t index);

// Address of the segment's first byte inside code_base; null when the number is
// above 511 or its entry leaves no room for the 3-byte segment head before code_size.
const uint8_t* script_scene_entry(Engine* engine, uint32_t segment);

// The start segment named by the tables file (0 before a load).
uint32_t script_start_segment(const Engine* engine);
