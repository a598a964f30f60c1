// The player's settings: config.ini in the working directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t CFG_LANG_CAPACITY = 16;
constexpr size_t CFG_MESSAGES_CAPACITY = 512;
constexpr const char* CONFIG_FILE_NAME = "config.ini";

struct Config {
    uint8_t use_hd_graphics;
    uint8_t scale_to_screen;
    uint8_t use_scanlines;
    uint8_t use_antialiasing;
    uint8_t mute_audio;
    int32_t game_speed;
    int32_t window_x;  // negative: not set
    int32_t window_y;  // negative: not set
    int32_t window_w;  // below 1: not set
    int32_t window_h;  // below 1: not set
    int32_t saved_rect[4];
    char script_lang[CFG_LANG_CAPACITY];  // empty: script.dat
};

extern Config g_config;
extern char g_config_messages[CFG_MESSAGES_CAPACITY];

// Sets the defaults, then reads the file over them. False when the file
// cannot be opened or is no regular file (the defaults stay).
bool cfg_load(const char* path);

// Sets the defaults, then reads config.ini text from an open stream over them
// to its end (what cfg_load does once the file is open).
void cfg_read_stream(FILE* file);

// Writes every setting of g_config, through a link to the file it leads to;
// a file that cannot be created, one this user may not write, or a path that
// holds something other than a regular file is left as it is, silently.
void cfg_save(const char* path);

// Corrects inconsistent settings; returns g_config_messages when it holds
// correction lines, else null.
const char* cfg_validate();
