// The menus as data, their check marks, and what each menu command does.
// Most commands change one setting and write config.ini at once; HD Graphics
// and the language take effect only at start-up, so they restart the program.
#include "app.h"
#include "archive.h"
#include "config.h"
#include "music.h"
#include "platform.h"
#include "save.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

MenuBar g_menu_bar;

constexpr int EXIT_RESTARTED = 0;
constexpr size_t RESTART_TEXT_CAPACITY = 256;
constexpr int32_t SPEED_FIRST_ID = IDM_SPEED_PC_98;
constexpr int32_t SPEED_LAST_ID = IDM_SPEED_ULTRA;
constexpr int32_t RECT_VALUES = 4;
constexpr int32_t POSITION_UNSET = -1;

struct MenuEntry {
    int32_t menu;
    MenuItemKind kind;
    int32_t id;
    int32_t submenu;
    const char* label;
};

static const char* const MENU_TITLES[MENU_COUNT] = {"File", "View", "Settings", "Help", "Speed",
                                                   "Language [Restart]"};

// Every fixed item in order; the language list is filled in at build time.
static const MenuEntry MENU_ENTRIES[] = {
    {MENU_FILE, MENU_ITEM_COMMAND, IDM_PAUSE, MENU_NONE, "Pause/Resume\tF5"},
    {MENU_FILE, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_FILE, MENU_ITEM_COMMAND, IDM_RESET, MENU_NONE, "Reset Game"},
    {MENU_FILE, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_FILE, MENU_ITEM_COMMAND, IDM_SAVE, MENU_NONE, "Save Game..."},
    {MENU_FILE, MENU_ITEM_COMMAND, IDM_LOAD, MENU_NONE, "Load Game..."},
    {MENU_FILE, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_FILE, MENU_ITEM_COMMAND, IDM_EXIT, MENU_NONE, "Exit"},
    {MENU_VIEW, MENU_ITEM_COMMAND, IDM_SCALE_TO_SCREEN, MENU_NONE, "Scale to Screen"},
    {MENU_VIEW, MENU_ITEM_COMMAND, IDM_SCREENSHOT, MENU_NONE, "Take Screenshot\tF12"},
    {MENU_VIEW, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_VIEW, MENU_ITEM_COMMAND, IDM_SCANLINES, MENU_NONE, "Scanlines"},
    {MENU_VIEW, MENU_ITEM_COMMAND, IDM_HD_GRAPHICS, MENU_NONE, "HD Graphics [Restart]"},
    {MENU_VIEW, MENU_ITEM_COMMAND, IDM_ANTIALIASING, MENU_NONE, "Antialiasing (HD only)"},
    {MENU_SETTINGS, MENU_ITEM_SUBMENU, 0, MENU_SPEED, "Speed"},
    {MENU_SETTINGS, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_SETTINGS, MENU_ITEM_COMMAND, IDM_MUTE, MENU_NONE, "Mute Audio"},
    {MENU_SETTINGS, MENU_ITEM_SEPARATOR, 0, MENU_NONE, ""},
    {MENU_SETTINGS, MENU_ITEM_SUBMENU, 0, MENU_LANGUAGE, "Language [Restart]"},
    {MENU_HELP, MENU_ITEM_COMMAND, IDM_ABOUT, MENU_NONE, "About..."},
    {MENU_SPEED, MENU_ITEM_COMMAND, IDM_SPEED_PC_98, MENU_NONE, "PC-98 (0x)"},
    {MENU_SPEED, MENU_ITEM_COMMAND, IDM_SPEED_NORMAL, MENU_NONE, "Normal (1x)"},
    {MENU_SPEED, MENU_ITEM_COMMAND, IDM_SPEED_FAST, MENU_NONE, "Fast (2x)"},
    {MENU_SPEED, MENU_ITEM_COMMAND, IDM_SPEED_ULTRA, MENU_NONE, "Ultra (3x)"},
};

static MenuItem* append_item(Menu* menu, MenuItemKind kind, int32_t id, int32_t submenu,
                             const char* label)
{
    if (menu->count >= MENU_ITEM_CAPACITY)
        return nullptr;
    MenuItem* item = &menu->items[menu->count++];
    item->kind = kind;
    item->id = id;
    item->submenu = submenu;
    item->checked = 0;
    item->enabled = 1;
    snprintf(item->label, sizeof item->label, "%s", label);
    return item;
}

void win_build_menu_bar(SDL_Window* window)
{
    g_menu_bar = MenuBar{};
    g_menu_bar.open = g_menu_bar.highlight = MENU_NONE;
    g_menu_bar.open_sub = g_menu_bar.sub_highlight = MENU_NONE;
    if (!window)
        return;
    for (int32_t i = 0; i < MENU_COUNT; i++)
        snprintf(g_menu_bar.menus[i].title, MENU_LABEL_CAPACITY, "%s", MENU_TITLES[i]);
    for (const MenuEntry& entry : MENU_ENTRIES)
        append_item(&g_menu_bar.menus[entry.menu], entry.kind, entry.id, entry.submenu, entry.label);

    uint32_t count = 0;
    const Language* languages = arc_get_languages(&count);
    Menu* language_menu = &g_menu_bar.menus[MENU_LANGUAGE];
    for (uint32_t i = 0; i < count && i < LANG_TABLE_SIZE; i++)
        append_item(language_menu, MENU_ITEM_COMMAND, IDM_LANGUAGE_BASE + static_cast<int32_t>(i),
                    MENU_NONE, languages[i].display_name);
    if (count == 0) {
        MenuItem* none = append_item(language_menu, MENU_ITEM_COMMAND, IDM_LANGUAGE_BASE, MENU_NONE,
                                     "(none found)");
        none->enabled = 0;
    }
    g_menu_bar.built = 1;
    gfx_set_frame_overlay(menu_bar_draw);
    win_update_menu_checks(window);
}

MenuItem* menu_find_item(MenuBar* bar, int32_t id)
{
    if (id == 0)
        return nullptr;
    for (Menu& menu : bar->menus)
        for (int32_t i = 0; i < menu.count; i++)
            if (menu.items[i].kind == MENU_ITEM_COMMAND && menu.items[i].id == id)
                return &menu.items[i];
    return nullptr;
}

static void set_item(int32_t id, bool checked, bool enabled)
{
    MenuItem* item = menu_find_item(&g_menu_bar, id);
    if (!item)
        return;
    item->checked = checked;
    item->enabled = enabled;
}

void win_update_menu_checks(SDL_Window*)
{
    if (!g_menu_bar.built)
        return;
    set_item(IDM_PAUSE, g_paused, true);
    const Engine* engine = g_engine;
    if (!engine)
        return;
    set_item(IDM_SCALE_TO_SCREEN, g_config.scale_to_screen, true);
    set_item(IDM_HD_GRAPHICS, engine->hd_mode, arc_hd_loaded());
    set_item(IDM_SCANLINES, engine->scanlines, true);
    set_item(IDM_ANTIALIASING, engine->antialias, engine->hd_mode);
    set_item(IDM_MUTE, engine->mute, true);
    for (int32_t id = SPEED_FIRST_ID; id <= SPEED_LAST_ID; id++)
        set_item(id, engine->game_speed == id - SPEED_FIRST_ID, true);

    uint32_t count = 0;
    const Language* languages = arc_get_languages(&count);
    for (uint32_t i = 0; i < count && i < LANG_TABLE_SIZE; i++)
        set_item(IDM_LANGUAGE_BASE + static_cast<int32_t>(i),
                 strcmp(languages[i].code, g_config.script_lang) == 0, true);
}

void app_restart()
{
    // A failed start cannot be helped from here: config.ini already holds the
    // new setting, so the next start by hand picks it up.
    plat_restart_self();
    exit(EXIT_RESTARTED);
}

static void save_setting(Engine* engine)
{
    cfg_save(CONFIG_FILE_NAME);
    win_update_menu_checks(engine->window);
}

static void forget_window_position()
{
    g_config.window_x = g_config.window_y = POSITION_UNSET;
    g_config.window_w = g_config.window_h = POSITION_UNSET;
}

static void command_save(Engine* engine)
{
    if (!engine->vm_blocked && !engine->choice_active) {
        plat_message_box(engine->window, PLAT_BOX_INFORMATION, "Save Game",
                         "Save is only available when the game is waiting for input.");
        return;
    }
    uint8_t* png = nullptr;
    int32_t size = 0;
    // A failed capture leaves png null: the save simply has no thumbnail.
    gfx_capture_thumbnail(engine, &png, &size);
    const int32_t slot = save_slot_screen(engine, SAVE_SLOT_SCREEN_SAVE);
    if (slot >= 0)
        save_write_slot(engine, slot, png, size);
    free(png);
}

static void command_load(Engine* engine)
{
    const int32_t slot = save_slot_screen(engine, SAVE_SLOT_SCREEN_LOAD);
    if (slot < 0)
        return;
    save_load_slot(engine, slot);
    win_update_menu_checks(engine->window);
}

static void command_hd_graphics(Engine* engine)
{
    if (!arc_hd_loaded())
        return;
    g_config.use_hd_graphics = !g_config.use_hd_graphics;
    forget_window_position();
    for (int32_t i = 0; i < RECT_VALUES; i++)
        g_config.saved_rect[i] = POSITION_UNSET;
    save_setting(engine);
    char text[RESTART_TEXT_CAPACITY];
    snprintf(text, sizeof text,
             "Switching to %s mode.\n\nThe application will now restart.\n\nNote: save files are "
             "not shared between SD and HD modes. Your existing saves will not be visible until "
             "you switch back.",
             g_config.use_hd_graphics ? "HD" : "SD");
    plat_message_box(nullptr, PLAT_BOX_INFORMATION, "Restart Required", text);
    app_restart();
}

static void command_scale_to_screen(Engine* engine)
{
    forget_window_position();
    g_config.scale_to_screen = !g_config.scale_to_screen;
    const int scale = g_config.scale_to_screen
                          ? win_calc_fit_scale(SCREEN_WIDTH, SCREEN_HEIGHT, engine->window)
                          : engine_scale(engine);
    if (engine->window)
        win_set_size_centered(engine->window, SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale);
    save_setting(engine);
}

static void command_antialiasing(Engine* engine)
{
    if (!engine->hd_mode)
        return;
    engine->antialias = !engine->antialias;
    g_config.use_antialiasing = engine->antialias;
    save_setting(engine);
    gfx_set_smoothing(engine, engine->antialias);
}

static void command_language(Engine* engine, int32_t index)
{
    uint32_t count = 0;
    const Language* languages = arc_get_languages(&count);
    if (index < 0 || static_cast<uint32_t>(index) >= count || index >= LANG_TABLE_SIZE)
        return;
    const char* code = languages[index].code;
    if (strcmp(code, g_config.script_lang) == 0)
        return;
    snprintf(g_config.script_lang, sizeof g_config.script_lang, "%s", code);
    save_setting(engine);
    plat_message_box(nullptr, PLAT_BOX_INFORMATION, "Restart Required",
                     "Language changed.\nThe application will now restart to apply the change.\n\n"
                     "Note: saves are per-language -- existing saves will\nnot appear until you "
                     "switch back.");
    app_restart();
}

void app_menu_command(Engine* engine, uint8_t* running, int32_t id)
{
    if (id >= IDM_LANGUAGE_BASE) {
        command_language(engine, id - IDM_LANGUAGE_BASE);
        return;
    }
    if (id >= SPEED_FIRST_ID && id <= SPEED_LAST_ID) {
        engine->game_speed = id - SPEED_FIRST_ID;
        g_config.game_speed = engine->game_speed;
        save_setting(engine);
        return;
    }
    switch (id) {
    case IDM_PAUSE:
        app_toggle_pause(engine);
        win_update_menu_checks(engine->window);
        return;
    case IDM_RESET:
        app_reset_game(engine);
        return;
    case IDM_EXIT:
        *running = 0;
        return;
    case IDM_SAVE:
        command_save(engine);
        return;
    case IDM_LOAD:
        command_load(engine);
        return;
    case IDM_SCREENSHOT:
        app_request_screenshot();
        return;
    case IDM_HD_GRAPHICS:
        command_hd_graphics(engine);
        return;
    case IDM_SCALE_TO_SCREEN:
        command_scale_to_screen(engine);
        return;
    case IDM_MUTE:
        engine->mute = !engine->mute;
        bgm_set_mute(engine->mute);
        g_config.mute_audio = engine->mute;
        save_setting(engine);
        return;
    case IDM_SCANLINES:
        engine->scanlines = !engine->scanlines;
        g_config.use_scanlines = engine->scanlines;
        save_setting(engine);
        return;
    case IDM_ANTIALIASING:
        command_antialiasing(engine);
        return;
    case IDM_ABOUT:
        about_show_dialog(engine);
        return;
    default:
        return;
    }
}
