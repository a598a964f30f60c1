// The scenario interpreter: scenario files, the byte-code interpreter, text
// windows, choice menus and diagnostics.
#pragma once

#include <cstdint>

#include "engine.h"

// ---------------------------------------------------------------------------
// Scenario files
// ---------------------------------------------------------------------------

constexpr const char* SCENARIO_FILE_STEM = "S00000";

// Loads <name>.KVL and <name>.KVY through asset_read. True when both were read.
bool script_load(Engine* engine, const char* name);

// Message string number index inside kvl_data; null when no scenario is loaded;
// "[KVL_ERR]" when the number or its offset is out of range.
const char* script_string(Engine* engine, int32_t index);

// Address of the segment's first byte inside code_base; null when the number is
// above 511 or its entry is not below code_size.
const uint8_t* script_scene_entry(Engine* engine, uint32_t segment);

// The start segment named by the tables file (0 before a load).
uint32_t script_start_segment(const Engine* engine);
