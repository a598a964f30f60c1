// The application shell: start-up, the main loop, event handling, window
// placement and the shell's globals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

struct SDL_Cursor;

constexpr const char* WINDOW_TITLE = "Kavrel Engine v0.7 - Sorvella";
constexpr size_t SCREENSHOT_PATH_CAPACITY = 4096;  // the longest path the system opens

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

// The 16:10 shape of the window rules: the height is 5/8 of the width,
// rounded down, and the window is never smaller than the SD screen.
constexpr int64_t ASPECT_HEIGHT_PARTS = 5;
constexpr int64_t ASPECT_WIDTH_PARTS = 8;
constexpr int32_t MIN_WINDOW_WIDTH = SCREEN_WIDTH;
constexpr int32_t MIN_WINDOW_HEIGHT = SCREEN_HEIGHT;

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

// Where and how large the window's client area opens, from the settings and
// the usable bounds of display 0: the saved size or the default one (the
// largest fitting multiple with scale_to_screen), each side cut to the bounds,
// brought to 16:10 and raised to the mode's minimum; the saved position pulled
// back so that the area and the title reserve above it lie inside the bounds,
// or the window centred.
ScreenRect win_startup_placement_in(const Config& config, uint8_t hd_mode, const ScreenRect& usable);

// The largest client size of the 16:10 rule (height 5/8 of the width) that
// fits the usable bounds below the title reserve, never below 640 x 400.
void win_largest_fit(const ScreenRect& usable, int* w, int* h);

// Sets the client size and centres the window on its display, below the
// reserve. While the window is maximised or fullscreen nothing is asked of
// the window manager: the centred rectangle is saved only if the game ends
// before the window leaves that state.
void win_set_size_centered(SDL_Window* window, int w, int h);

// Puts the client area of a window just shown at the start-up placement,
// whether its window manager puts the frame or the client area where a
// window asks to be; waits up to a second for the manager to tell the
// frame's size and up to another for the move. Does nothing to a window
// without a frame, nor to one the manager keeps at a size of its own. The
// placement is the window's normal rectangle until it has had one of its own.
void win_move_to_placement(SDL_Window* window, const ScreenRect& placed);

// Applies the 16:10 rule to a reported client size w x h where the window
// system lets it: a maximised or fullscreen window, or one lying exactly over
// its display, keeps the size its manager chose and is asked for none; a size
// once refused is not asked for again; while a pointer button is held (the
// manager's drag of the frame) nothing is asked until
// win_settle_pending_resize. Wherever the window keeps another
// size than the one asked for, SDL is given the real one back, so that the
// picture is letterboxed in the client area the window has. A window the
// rule resized that then hangs off the usable bounds is moved back in.
void win_apply_resize_rule(SDL_Window* window, int w, int h);

// win_apply_resize_rule for the client size the window really has, as the
// X server records it, where no event reports it.
void win_apply_resize_rule_to_real_size(SDL_Window* window);

// Applies the rule held back by a held pointer button once no button is
// held; nothing when none waits.
void win_settle_pending_resize(SDL_Window* window);

// Notes the window's rectangle as its normal one when it is neither
// maximised, fullscreen nor minimised and has a size the 16:10 rule keeps.
void win_note_normal_placement(SDL_Window* window);

// Stores the window's position and size in g_config and writes config.ini,
// unless a change of graphics mode is pending. A window maximised,
// fullscreen or kept by its manager at any size the 16:10 rule would not
// keep (a tile) is stored at its normal rectangle, so the next start opens
// on the screen at a rectangle the window had.
void app_save_window_placement(Engine* engine);

// ---------------------------------------------------------------------------
// Main loop, pacing and shutdown
// ---------------------------------------------------------------------------

// The speed tables, indexed by the speed row (PC-98, Normal, Fast, Ultra):
// wait frames removed per frame, interpreter steps per frame at most, and the
// sleep after each frame in milliseconds.
constexpr int SPEED_ROWS = 4;
constexpr int SPEED_ROW_DEFAULT = 1;
extern const uint32_t SPEED_WAIT_STEP[SPEED_ROWS];
extern const uint32_t SPEED_VM_STEPS[SPEED_ROWS];
extern const uint32_t SPEED_FRAME_DELAY_MS[SPEED_ROWS];

// The clock and the sleep of the main loop, the throttled pump and start-up.
// Tests put in their own so that pacing is checked without the real clock;
// null puts SDL's back.
void app_set_clock(uint32_t (*ticks)(), void (*delay)(uint32_t ms));

// Sleeps ms milliseconds through the clock above.
void app_sleep(uint32_t ms);

// The speed row of a game_speed value: the value itself in 0..3, else row 1.
int app_speed_row(int32_t game_speed);

// One pass of the main loop: handle events, count a text wait down or run a
// batch of interpreter steps, draw and present the frame (writing a pending
// screenshot), then sleep for the speed row.
void app_run_frame(Engine* engine);

// Carries out a chain the last top-level step requested: the segment becomes
// the running one (and the restart segment unless a call is running). Does
// nothing without a request or when the segment has no entry.
void app_carry_out_chain(Engine* engine);

// Runs passes while g_running is set.
void app_run_main_loop(Engine* engine);

// The orderly end after the main loop: saves the window placement (unless a
// graphics mode switch is pending), frees the cursors, the history, the music
// device, the renderer and the window, and quits SDL. Returns the exit status, 0.
int app_shutdown(Engine* engine);

// The interpreter's step callback: handles events at most every 16 ms, or at
// once after the running segment changed, and never while paused. Saves the
// window placement and ends the process with status 0 when the game is to quit.
void app_pump_events_throttled(Engine* engine);

// The interpreter's pump callback: handles events; saves the window placement
// and ends the process with status 0 when the game is to quit.
void app_pump_events_exit_on_quit(Engine* engine);

// Reset Game: stops the music, clears the canvas, the text layer, the script
// variables, the sprites, window 0 and the history, takes the play settings
// from g_config again, lifts the pause and re-enters the start segment. The
// palette, tint, planes, choice layout and picture-command fields stay.
void app_reset_game(Engine* engine);

// Puts the interpreter at the top of the start segment the scenario tables
// name, with no block end, chain or restart segment. False, with nothing
// changed, when that segment has no entry.
bool app_enter_start_segment(Engine* engine);

// ---------------------------------------------------------------------------
// Event handling and input
// ---------------------------------------------------------------------------

struct TextWindow;
struct tm;

// Lines one page of the history scrolls when no text window gives its rows.
constexpr int32_t HISTORY_PAGE_DEFAULT = 25;

// Handles every pending SDL event, then returns. Clears *running on a quit
// request or a close of the main window; never sets it.
void app_handle_events(Engine* engine, uint8_t* running);

// The SDL event type that carries a menu command (its id in user.code),
// registered on the first call; (uint32_t)-1 when SDL has no type left.
uint32_t app_menu_event_type();

// From now on a window offered the focus by the window manager takes it, in
// every loop that reads events, the loading screen's too.
void app_take_offered_focus();

// The text window that VAR_CUR_WINDOW names when it is 0..255 and active, else null.
const TextWindow* app_current_text_window(const Engine* engine);

// Inverts g_paused, pausing or resuming the music device with it.
void app_toggle_pause(Engine* engine);

// Sets g_screenshot_path to a file named after the local time in the
// executable's folder; the main loop writes it after the next frame. A
// folder too long for a path takes no screenshot: the path stays empty.
void app_request_screenshot();

// Formats "<folder>screenshot_YYYYMMDD_HHMMSS.png" into out. False when it
// had to be cut to capacity.
bool app_format_screenshot_path(char* out, size_t capacity, const char* folder, const struct tm* when);

// The window size the 16:10 rule wants for a reported client size w x h on a
// display with these usable bounds: the width raised to 640, the height 5/8
// of the reported width raised to 400; a width whose size would not fit the
// bounds below the title reserve gives win_largest_fit instead. False when
// the window already has that size.
bool app_resize_target(int w, int h, const ScreenRect& usable, int* want_w, int* want_h);

// ---------------------------------------------------------------------------
// Menu bar, menu commands and restart
// ---------------------------------------------------------------------------

union SDL_Event;

constexpr int32_t IDM_PAUSE = 101;
constexpr int32_t IDM_RESET = 102;
constexpr int32_t IDM_EXIT = 103;
constexpr int32_t IDM_SAVE = 104;
constexpr int32_t IDM_LOAD = 105;
constexpr int32_t IDM_SCREENSHOT = 106;
constexpr int32_t IDM_HD_GRAPHICS = 203;
constexpr int32_t IDM_SCALE_TO_SCREEN = 204;
constexpr int32_t IDM_MUTE = 301;
constexpr int32_t IDM_SCANLINES = 302;
constexpr int32_t IDM_ANTIALIASING = 303;
constexpr int32_t IDM_SPEED_PC_98 = 309;
constexpr int32_t IDM_SPEED_NORMAL = 310;
constexpr int32_t IDM_SPEED_FAST = 311;
constexpr int32_t IDM_SPEED_ULTRA = 312;
constexpr int32_t IDM_ABOUT = 401;
constexpr int32_t IDM_LANGUAGE_BASE = 500;  // + the language's index

constexpr int MENU_ITEM_CAPACITY = 16;
constexpr size_t MENU_LABEL_CAPACITY = 40;

enum MenuItemKind : uint8_t {
    MENU_ITEM_COMMAND,
    MENU_ITEM_SEPARATOR,
    MENU_ITEM_SUBMENU,
};

struct MenuItem {
    MenuItemKind kind;
    int32_t id;       // command id, 0 for separators and submenus
    int32_t submenu;  // MenuIndex of a submenu item
    uint8_t checked;
    uint8_t enabled;
    char label[MENU_LABEL_CAPACITY];  // a tab separates the key name shown on the right
};

struct Menu {
    char title[MENU_LABEL_CAPACITY];
    MenuItem items[MENU_ITEM_CAPACITY];
    int32_t count;
};

// The bar's four menus come first, in bar order, then the two submenus.
enum MenuIndex : int32_t {
    MENU_FILE,
    MENU_VIEW,
    MENU_SETTINGS,
    MENU_HELP,
    MENU_SPEED,
    MENU_LANGUAGE,
    MENU_COUNT,
};
constexpr int32_t MENU_BAR_MENUS = MENU_HELP + 1;
constexpr int32_t MENU_NONE = -1;

// The drawn menu bar: its menus and what is shown and open.
struct MenuBar {
    Menu menus[MENU_COUNT];
    uint8_t built;
    uint8_t visible;
    int32_t open;           // the open bar menu, or MENU_NONE
    int32_t highlight;      // highlighted item of the open menu, or MENU_NONE
    int32_t open_sub;       // the open submenu, or MENU_NONE
    int32_t sub_highlight;  // highlighted item of the open submenu, or MENU_NONE
};

extern MenuBar g_menu_bar;

// Builds the menus (languages from the installed list) once the window
// exists; without a window there is no menu bar.
void win_build_menu_bar(SDL_Window* window);

// Sets every check mark and grey state from g_paused, g_config and g_engine.
void win_update_menu_checks(SDL_Window* window);

// The item carrying command id in any menu, or null.
MenuItem* menu_find_item(MenuBar* bar, int32_t id);

// Carries out menu command id; ids without a command do nothing. Exit
// clears *running; HD Graphics and a new language end the process.
void app_menu_command(Engine* engine, uint8_t* running, int32_t id);

// Starts a new instance and ends this one at once with status 0, without the
// orderly shutdown.
[[noreturn]] void app_restart();

// Where the pointer is over the drawn bar, in 640x400 screen units.
struct MenuHit {
    int32_t menu;  // MenuIndex, or MENU_NONE when outside the bar and open menus
    int32_t item;  // item of that menu, or MENU_NONE for a title on the bar
};

constexpr int32_t MENU_BAR_HEIGHT = 20;  // screen units
constexpr int32_t MENU_REVEAL_EDGE = 4;  // the pointer this close to the top shows the bar

// What lies under (x, y): a title on a visible bar, an item of the open menu
// or of its open submenu, or nothing.
MenuHit menu_bar_hit(const MenuBar& bar, int32_t x, int32_t y);

// Gives an event of the main window to the bar first. True when the bar took
// it: the game never sees input while a menu is open. A chosen item arrives
// later as the menu command event.
bool menu_bar_handle_event(Engine* engine, const SDL_Event& event);

// Draws the bar and its open menus over the frame when shown.
void menu_bar_draw(Engine* engine);

// ---------------------------------------------------------------------------
// About panel
// ---------------------------------------------------------------------------

constexpr int32_t ABOUT_WIDTH = 430;
constexpr int32_t ABOUT_HEIGHT = 348;

enum AboutHit {
    ABOUT_HIT_NONE,
    ABOUT_HIT_LINK,
    ABOUT_HIT_OK,
    ABOUT_HIT_CLOSE,  // the caption's close box
};

// What lies under (x, y), in 640x400 screen units, of the centred panel.
AboutHit about_hit(int32_t x, int32_t y);

// Shows the about panel over the game's frame and returns once OK, the close
// box, Enter or Esc closed it. It takes only the window's keys and mouse:
// every other event stays queued for the game, and a quit or a close of the
// window waiting there closes the panel too. Without a renderer nothing is shown.
void about_show_dialog(Engine* engine);
