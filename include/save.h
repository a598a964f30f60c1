// Saved games: the save files, their writer and loader, and the slot screen.
#pragma once

#include <cstdint>

#include "engine.h"

constexpr int SAVE_SLOT_COUNT = 32;
constexpr int32_t SAVE_SLOT_SCREEN_SAVE = 0;
constexpr int32_t SAVE_SLOT_SCREEN_LOAD = 1;
constexpr int32_t SAVE_SLOT_NONE = -1;

constexpr int32_t SAVE_RESULT_OK = 0;
constexpr int32_t SAVE_RESULT_FAILED = 1;
constexpr int32_t SAVE_RESULT_REFUSED = 2;  // the reason was already shown to the player

// The modal slot screen (mode SAVE_SLOT_SCREEN_SAVE or _LOAD). Returns the
// chosen slot 0..31, or SAVE_SLOT_NONE when the player cancelled.
int32_t save_slot_screen(Engine* engine, int32_t mode);

// Writes slot 0..31 from the current state with the thumbnail PNG (or null and
// 0). SAVE_RESULT_OK when the whole file was written, else SAVE_RESULT_FAILED.
int32_t save_write_slot(Engine* engine, int32_t slot, const uint8_t* png, int32_t png_size);

// Loads slot 0..31: SAVE_RESULT_OK, _FAILED, or _REFUSED after a message box.
int32_t save_load_slot(Engine* engine, int32_t slot);
