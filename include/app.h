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

// ---------------------------------------------------------------------------
// Window placement and sizing
// ---------------------------------------------------------------------------

struct SDL_Window;
struct Config;

// Pixels kept free above the client area for the caption and the menu bar.
constexpr int MENU_TITLE_RESERVE = 56;

struct ScreenRect {
    int x, y, w, h;
};

// What a display whose usable bounds cannot be read is assumed to offer.
constexpr ScreenRect DEFAULT_USABLE_BOUNDS = {0, 0, 1920, 1080};

// The usable bounds of a display, DEFAULT_USABLE_BOUNDS when SDL cannot tell.
ScreenRect win_usable_bounds(int display);

// Largest whole scale s >= 1 at which base_w x base_h fits the usable bounds
// below the title reserve (the height test never asks for less than base_h).
int win_fit_scale_in(const ScreenRect& usable, int base_w, int base_h);

// win_fit_scale_in on the window's display (display 0 without a window).
int win_calc_fit_scale(int base_w, int base_h, SDL_Window* window);

// Where and how large the window opens, from the settings and the usable
// bounds of display 0: the saved rectangle pulled back on screen, or a
// centred default size (the largest fitting multiple with scale_to_screen).
ScreenRect win_startup_placement_in(const Config& config, uint8_t hd_mode, const ScreenRect& usable);

// Sets the client size and centres the window on its display, below the reserve.
void win_set_size_centered(SDL_Window* window, int w, int h);

// Stores the window's position and size in g_config and writes config.ini,
// unless a change of graphics mode is pending.
void app_save_window_placement(Engine* engine);
