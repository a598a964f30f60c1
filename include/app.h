// The application shell: start-up, the main loop, event handling, window
// placement and the shell's globals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

struct SDL_Cursor;

constexpr const char* WINDOW_TITLE = "Kavrel Engine v0.7 - Sorvella";
constexpr size_t SCREENSHOT_PATH_CAPACITY = 512;

extern Engine* g_engine;
extern Engine* g_engine_for_wndproc;
extern SDL_Cursor* g_cursor_arrow;
extern SDL_Cursor* g_cursor_hand;
extern uint8_t g_running;
extern uint8_t g_paused;
extern uint8_t g_step_once;
extern char g_screenshot_path[SCREENSHOT_PATH_CAPACITY];

// The program's main: brings the engine up, runs it and shuts it down.
// Returns 0 after a normal end or a restart, 1 after a fatal start-up failure.
int app_main(int argc, char** argv);

// The start-up placement of the window, from g_config and the display's
// usable bounds.
struct WindowRect {
    int x, y, w, h;
};
WindowRect win_startup_placement(int scale);
