// app_main: brings the engine up in its fixed order. Each fatal step returns
// its exit status at once; nothing is released on the way out, the process
// ends right after.
#include "app.h"
#include "archive.h"
#include "config.h"
#include "music.h"
#include "platform.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

Engine* g_engine = nullptr;
Engine* g_engine_for_wndproc = nullptr;
SDL_Cursor* g_cursor_arrow = nullptr;
SDL_Cursor* g_cursor_hand = nullptr;
uint8_t g_running = 1;
uint8_t g_paused = 0;
uint8_t g_step_once = 0;
char g_screenshot_path[SCREENSHOT_PATH_CAPACITY] = "";

constexpr int EXIT_OK = 0;
constexpr int EXIT_FATAL = 1;
constexpr int CONFIG_WARNING_CAPACITY = 600;
constexpr int MESSAGE_CAPACITY = 256;
// A failed scenario load leaves the loading screen up this long before the program ends.
constexpr uint32_t SCRIPT_FAILURE_DELAY_MS = 2000;

static void create_cursors()
{
    g_cursor_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    g_cursor_hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
    SDL_SetCursor(g_cursor_arrow);
}

// Reads config.ini, corrects it and tells the player what was corrected; a
// missing file is written with the defaults.
static void load_configuration()
{
    if (!cfg_load(CONFIG_FILE_NAME)) {
        cfg_save(CONFIG_FILE_NAME);
        return;
    }
    const char* corrections = cfg_validate();
    if (!corrections)
        return;
    cfg_save(CONFIG_FILE_NAME);
    char text[CONFIG_WARNING_CAPACITY];
    snprintf(text, sizeof text,
             "The following invalid settings were found in config.ini and have been corrected:\n\n%s",
             corrections);
    plat_message_box(nullptr, PLAT_BOX_WARNING, "Configuration Warning", text);
}

// Creates the window and its renderer at the start-up placement. False when
// no window can be made.
static bool open_window(Engine* engine, const ScreenRect& placed)
{
    const int scale = engine_scale(engine);
    engine->window = SDL_CreateWindow(WINDOW_TITLE, placed.x, placed.y, placed.w, placed.h,
                                      SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!engine->window)
        return false;

    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    engine->renderer = SDL_CreateRenderer(engine->window, -1, SDL_RENDERER_ACCELERATED);
    if (!engine->renderer) {
        // Without an accelerated renderer (no GPU, a headless display) the
        // game still plays on SDL's software renderer.
        engine->renderer = SDL_CreateRenderer(engine->window, -1, SDL_RENDERER_SOFTWARE);
    }
    // The GL renderer makes SDL create the window anew, without the minimum size.
    SDL_SetWindowMinimumSize(engine->window, SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale);
    SDL_RenderSetLogicalSize(engine->renderer, SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale);
    SDL_ShowWindow(engine->window);
    win_move_to_placement(engine->window, placed);
    // The loading screen drops the window's events; a maximise meanwhile
    // still finds the rectangle to give back and to save.
    win_note_normal_placement(engine->window);
    return true;
}

static void report_missing_archive(const char* file_name)
{
    char text[MESSAGE_CAPACITY];
    snprintf(text, sizeof text,
             "%s was not found.\n\nThis file is required to run the game.\nPlease reinstall the game.",
             file_name);
    plat_message_box(nullptr, PLAT_BOX_ERROR, "Missing Archive", text);
}

// HD mode needs an hd.dat that carries HD assets. Without one, HD mode is
// switched off for good and the program starts afresh in SD mode. True when
// start-up may go on.
static bool hd_assets_usable()
{
    if (!g_config.use_hd_graphics || (arc_hd_loaded() && arc_hd_has_hd_assets()))
        return true;
    g_config.use_hd_graphics = 0;
    cfg_save(CONFIG_FILE_NAME);
    plat_message_box(nullptr, PLAT_BOX_WARNING, "HD Assets Missing",
                     arc_hd_loaded() ? "hd.dat was found but it does not contain HD assets.\n\n"
                                       "HD Graphics mode has been disabled."
                                     : "hd.dat was not found.\n\nHD Graphics mode has been disabled.");
    plat_restart_self();
    return false;
}

// Opens the configured language's scenario archive, falling back to the
// default language (and saving that choice) when it is missing.
static void open_scenario_archive()
{
    if (arc_open_script(g_config.script_lang) || g_config.script_lang[0] == '\0')
        return;
    char text[MESSAGE_CAPACITY];
    snprintf(text, sizeof text, "script_%s.dat was not found.\n\nThe language has been reset to Japanese.",
             g_config.script_lang);
    plat_message_box(nullptr, PLAT_BOX_WARNING, "Language File Missing", text);
    g_config.script_lang[0] = '\0';
    cfg_save(CONFIG_FILE_NAME);
    arc_open_script("");
}

// The settings that can change during play live in the Engine; g_config is
// what gets written back.
static void copy_play_settings(Engine* engine)
{
    engine->game_speed = g_config.game_speed;
    engine->mute = g_config.mute_audio;
    engine->scanlines = g_config.use_scanlines;
    engine->antialias = g_config.use_antialiasing;
}

// Base, HD and scenario archives, each with what the player is told when it
// is missing. False when start-up must end, with the exit status in *status.
static bool check_archives(int* status)
{
    arc_open_base_and_hd();
    if (!arc_base_loaded()) {
        report_missing_archive("base.dat");
        *status = EXIT_FATAL;
        return false;
    }
    if (!hd_assets_usable()) {
        *status = EXIT_OK;
        return false;
    }
    arc_discover_languages();
    if (!arc_default_script_present()) {
        report_missing_archive("script.dat");
        *status = EXIT_FATAL;
        return false;
    }
    open_scenario_archive();
    return true;
}

// The "Initializing engine" stage.
static void init_engine_state(Engine* engine)
{
    vm_reset_text_windows(engine);
    hist_init(&engine->history);
    copy_play_settings(engine);
    dbg_reset(engine);
}

// The interpreter handles events while it runs synchronously, and waits out
// the pause, through these.
static void install_callbacks(Engine* engine)
{
    engine->step_cb = app_pump_events_throttled;
    engine->pump_events_cb = app_pump_events_exit_on_quit;
    engine->paused_flag_ptr = &g_paused;
}

// Without a display SDL falls back to a video driver whose windows nobody
// sees; unless the player chose that driver, the game would run unseen.
static bool display_reachable()
{
    const char* chosen = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (chosen && chosen[0] != '\0')
        return true;
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && strcmp(driver, "offscreen") != 0 && strcmp(driver, "dummy") != 0;
}

int app_main(int, char**)
{
    // No window exists to show a box in, so standard error alone says why.
    if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "SDL_Init failed: %s\n", SDL_GetError());
        return EXIT_FATAL;
    }
    if (!display_reachable()) {
        fprintf(stderr, "No display was found to open the game's window on: DISPLAY (or WAYLAND_DISPLAY) "
                        "names none that can be reached.\n");
        return EXIT_FATAL;
    }
    create_cursors();
    bgm_init();
    // Menu commands reach the event handler as this registered event.
    app_menu_event_type();
    app_take_offered_focus();
    load_configuration();

    // The one Engine lives for the whole run; static storage keeps its
    // 300-odd kilobytes off the stack.
    static Engine engine;
    engine_init(&engine, g_config.use_hd_graphics);
    bgm_set_hd(engine.hd_mode);
    g_engine = &engine;

    const ScreenRect placed = win_startup_placement_in(g_config, engine.hd_mode, win_usable_bounds(0));
    if (!open_window(&engine, placed))
        return EXIT_FATAL;
    gfx_init_screen(&engine);

    int status = EXIT_OK;
    if (!check_archives(&status))
        return status;

    font_init(engine.renderer, engine.hd_mode);
    engine.text_layer = text_layer_get();
    splash_run(&engine);

    splash_status(&engine, "Initializing engine");
    init_engine_state(&engine);

    splash_status(&engine, "Initializing audio");
    bgm_set_mute(engine.mute);

    splash_status(&engine, "Loading image assets");
    asset_load_manifest(&engine);
    if (engine.antialias)
        gfx_set_smoothing(&engine, 1);

    splash_status(&engine, "Loading scripts");
    if (!script_load(&engine, SCENARIO_FILE_STEM)) {
        app_sleep(SCRIPT_FAILURE_DELAY_MS);
        return EXIT_FATAL;
    }
    if (!app_enter_start_segment(&engine))
        return EXIT_FATAL;

    install_callbacks(&engine);

    splash_finish(&engine, 0);
    win_build_menu_bar(engine.window);
    // What the window manager or the player did to the window while the
    // loading screen dropped its events is taken in before the first frame.
    win_apply_resize_rule_to_real_size(engine.window);
    win_note_normal_placement(engine.window);

    g_running = 1;
    app_run_main_loop(&engine);
    return app_shutdown(&engine);
}
