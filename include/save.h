// Saved games: the save files, their writer and loader, and the slot screen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

constexpr int SAVE_SLOT_COUNT = 32;
constexpr uint8_t SAVE_MAGIC[4] = {'K', 'V', 'R', 0x1A};
constexpr uint8_t SAVE_MAGIC_WEB[4] = {'K', 'V', 'W', 0x1A};  // saves of the web edition
constexpr uint32_t SAVE_VERSION = 2;
constexpr uint32_t SAVE_VERSION_OLD = 1;  // held a command log instead of the canvas
constexpr uint32_t SAVE_MAX_COMPRESSED = 0x4000000;
constexpr uint32_t SAVE_PREVIEW_MAX_PNG = 1048576;

constexpr int32_t SAVE_SLOT_SCREEN_SAVE = 0;
constexpr int32_t SAVE_SLOT_SCREEN_LOAD = 1;
constexpr int32_t SAVE_SLOT_NONE = -1;

constexpr int32_t SAVE_RESULT_OK = 0;
constexpr int32_t SAVE_RESULT_FAILED = 1;
constexpr int32_t SAVE_RESULT_REFUSED = 2;  // the reason was already shown to the player

// Formats the file name of slot (01..32 in the name) into out: the sav/
// folder beside the executable, the script language and the configured
// mode. The first call of the run creates the folder. The slot is not checked.
void save_build_path(uint32_t slot, char* out, size_t out_size);

// The modal slot screen (mode SAVE_SLOT_SCREEN_SAVE or _LOAD). Returns the
// chosen slot 0..31, or SAVE_SLOT_NONE when the player cancelled.
int32_t save_slot_screen(Engine* engine, int32_t mode);

// Writes slot 0..31 from the current state with the thumbnail PNG (or null and
// 0). SAVE_RESULT_OK when the whole file was written, else SAVE_RESULT_FAILED.
int32_t save_write_slot(Engine* engine, int32_t slot, const uint8_t* png, int32_t png_size);

// Loads slot 0..31: SAVE_RESULT_OK, _FAILED, or _REFUSED after a message box.
int32_t save_load_slot(Engine* engine, int32_t slot);
