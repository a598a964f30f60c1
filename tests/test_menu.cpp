#include <gtest/gtest.h>

#include "../save/save_private.h"
#include "app.h"
#include "archive.h"
#include "config.h"
#include "event_fixture.h"
#include "kvr_writer.h"
#include "music.h"
#include "platform.h"
#include "render_fixture.h"
#include "save.h"
#include "screen.h"
#include "test_support.h"
#include "vm.h"
#include "vm_harness.h"
#include "x_session.h"

#include <SDL.h>
#include <stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Boxes are recorded here instead of shown, so the tests see the window that
// owns each; the text still goes to standard error, marked when owned.
static SDL_Window* s_box_owner = nullptr;

void plat_message_box(SDL_Window* owner, PlatBoxStyle, const char* title, const char* text)
{
    s_box_owner = owner;
    fprintf(stderr, "%s%s: %s\n", title, owner ? " (owned)" : "", text);
}

// The engine drives the test renderer's window; config.ini lands in a scratch
// folder; two languages are installed unless a test says otherwise.
class MenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test_renderer(), nullptr);
        window = SDL_RenderGetWindow(test_renderer());
        e->window = window;
        e->renderer = test_renderer();
        g_engine = e;
        g_config = Config{};
        g_running = 1;
        g_paused = 0;
        dir.enter();
        install_languages(2);
        win_build_menu_bar(window);
        drain_events();
    }
    void TearDown() override
    {
        g_engine = nullptr;
        g_paused = 0;
        g_language_count = 0;
        arc_close(&g_arc_hd);
    }

    static void install_languages(uint32_t count)
    {
        static const Language LANGS[] = {{"", "English"}, {"es", "Espanol"}};
        g_language_count = count;
        for (uint32_t i = 0; i < count; i++)
            g_languages[i] = LANGS[i];
    }
    static void open_hd_archive()
    {
        const std::vector<uint8_t> bytes = kvr_build_archive(KvrArchiveSpec{});
        uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.size()));
        memcpy(copy, bytes.data(), bytes.size());
        ASSERT_TRUE(arc_open_image(&g_arc_hd, copy, bytes.size()));
    }
    void command(int32_t id) { app_menu_command(e, &g_running, id); }
    static const MenuItem& item(int32_t id) { return *menu_find_item(&g_menu_bar, id); }
    static std::string config_text() { return read_text_file(CONFIG_FILE_NAME); }

    ScratchDir dir;
    VmHarness harness;
    Engine* const e = harness.engine();
    SDL_Window* window = nullptr;
};

static std::string labels(const Menu& menu)
{
    std::string out;
    for (int32_t i = 0; i < menu.count; i++)
        out += (menu.items[i].kind == MENU_ITEM_SEPARATOR ? std::string("-") : menu.items[i].label) + "|";
    return out;
}

TEST_F(MenuTest, BarHoldsTheMenusInOrderWithTheInstalledLanguages)
{
    const Menu* m = g_menu_bar.menus;
    EXPECT_EQ(labels(m[MENU_FILE]),
              "Pause/Resume\tF5|-|Reset Game|-|Save Game...|Load Game...|-|Exit|");
    EXPECT_EQ(labels(m[MENU_VIEW]), "Scale to Screen|Take Screenshot\tF12|-|Scanlines|"
                                    "HD Graphics [Restart]|Antialiasing (HD only)|");
    EXPECT_EQ(labels(m[MENU_SETTINGS]), "Speed|-|Mute Audio|-|Language [Restart]|");
    EXPECT_EQ(m[MENU_SETTINGS].items[0].submenu, MENU_SPEED);
    EXPECT_EQ(m[MENU_SETTINGS].items[4].submenu, MENU_LANGUAGE);
    EXPECT_EQ(labels(m[MENU_HELP]), "About...|");
    EXPECT_EQ(labels(m[MENU_SPEED]), "PC-98 (0x)|Normal (1x)|Fast (2x)|Ultra (3x)|");
    EXPECT_EQ(labels(m[MENU_LANGUAGE]), "English|Espanol|");
    EXPECT_EQ(m[MENU_LANGUAGE].items[1].id, IDM_LANGUAGE_BASE + 1);
}

TEST_F(MenuTest, WithoutLanguagesOneGreyedItemAndWithoutWindowNoBar)
{
    install_languages(0);
    win_build_menu_bar(window);
    EXPECT_EQ(labels(g_menu_bar.menus[MENU_LANGUAGE]), "(none found)|");
    EXPECT_FALSE(item(IDM_LANGUAGE_BASE).enabled);

    win_build_menu_bar(nullptr);
    EXPECT_FALSE(g_menu_bar.built);
    EXPECT_EQ(menu_find_item(&g_menu_bar, IDM_PAUSE), nullptr);
}

TEST_F(MenuTest, CheckMarksAndGreyStatesFollowTheSettings)
{
    for (int32_t speed : {0, 1, 2, 3, 7}) {
        e->game_speed = speed;
        win_update_menu_checks(window);
        for (int32_t id = IDM_SPEED_PC_98; id <= IDM_SPEED_ULTRA; id++)
            EXPECT_EQ(item(id).checked, id - IDM_SPEED_PC_98 == speed) << speed << " " << id;
    }
    EXPECT_FALSE(item(IDM_HD_GRAPHICS).enabled);
    EXPECT_FALSE(item(IDM_ANTIALIASING).enabled);
    EXPECT_TRUE(item(IDM_LANGUAGE_BASE).checked);
    EXPECT_FALSE(item(IDM_LANGUAGE_BASE + 1).checked);

    open_hd_archive();
    e->hd_mode = 1;
    snprintf(g_config.script_lang, sizeof g_config.script_lang, "es");
    win_update_menu_checks(window);
    EXPECT_TRUE(item(IDM_HD_GRAPHICS).enabled);
    EXPECT_TRUE(item(IDM_HD_GRAPHICS).checked);
    EXPECT_TRUE(item(IDM_ANTIALIASING).enabled);
    EXPECT_FALSE(item(IDM_LANGUAGE_BASE).checked);
    EXPECT_TRUE(item(IDM_LANGUAGE_BASE + 1).checked);
}

TEST_F(MenuTest, SettingCommandsTakeEffectSaveAndMark)
{
    command(IDM_SPEED_ULTRA);
    EXPECT_EQ(e->game_speed, 3);
    command(IDM_SPEED_PC_98);
    EXPECT_NE(config_text().find("game_speed=0\n"), std::string::npos);
    command(IDM_SCANLINES);
    command(IDM_MUTE);
    command(IDM_SPEED_FAST);
    command(IDM_PAUSE);
    command(IDM_SCREENSHOT);
    EXPECT_TRUE(e->scanlines && e->mute && g_paused);
    EXPECT_EQ(g_bgm.muted.load(), 1);
    bgm_set_mute(0);
    EXPECT_NE(g_screenshot_path[0], '\0');
    g_screenshot_path[0] = '\0';
    EXPECT_EQ(e->game_speed, 2);
    EXPECT_TRUE(item(IDM_SCANLINES).checked && item(IDM_MUTE).checked && item(IDM_PAUSE).checked);
    EXPECT_TRUE(item(IDM_SPEED_FAST).checked);
    const std::string ini = config_text();
    EXPECT_NE(ini.find("use_scanlines=1\n"), std::string::npos);
    EXPECT_NE(ini.find("mute_audio=1\n"), std::string::npos);
    EXPECT_NE(ini.find("game_speed=2\n"), std::string::npos);

    // F5 and Tab are no commands but refresh the marks as one; Reset lifts the pause.
    push_key(window, SDLK_F5);
    app_handle_events(e, &g_running);
    EXPECT_FALSE(item(IDM_PAUSE).checked);
    push_key(window, SDLK_TAB);
    app_handle_events(e, &g_running);
    EXPECT_TRUE(item(IDM_SPEED_ULTRA).checked);
    command(IDM_PAUSE);
    command(IDM_RESET);
    EXPECT_FALSE(g_paused || item(IDM_PAUSE).checked);

    command(IDM_EXIT);
    EXPECT_EQ(g_running, 0);
}

TEST_F(MenuTest, AntialiasingOnlyInHdModeUnknownIdsAndTheLanguageInUseDoNothing)
{
    // The language in use would neither save nor restart.
    for (int32_t id : {IDM_ANTIALIASING, 107, 202, 402, 499, IDM_LANGUAGE_BASE + 2, IDM_LANGUAGE_BASE})
        command(id);
    EXPECT_FALSE(e->antialias);
    EXPECT_FALSE(file_exists(CONFIG_FILE_NAME));

    e->hd_mode = 1;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    command(IDM_ANTIALIASING);
    EXPECT_TRUE(e->antialias && g_config.use_antialiasing && item(IDM_ANTIALIASING).checked);
    EXPECT_NE(config_text().find("use_antialiasing=1\n"), std::string::npos);
    EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY), "1") << "smoothing is on";
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
}

TEST_F(MenuTest, SaveOpensTheSlotScreenOnlyWhileTheGameWaitsAndLoadRefreshesTheMarks)
{
    save_set_folder((dir.path() + "/sav/").c_str());
    const std::string slot_file = dir.file("sav/save_02.dat");
    e->vm_vars[3] = 5;
    const struct {
        uint8_t blocked, choice;
        bool opens;
    } cases[] = {{0, 0, false}, {1, 0, true}, {0, 1, true}};
    for (const auto& c : cases) {
        remove(slot_file.c_str());
        e->vm_blocked = c.blocked;
        e->choice_active = c.choice;
        s_box_owner = nullptr;
        push_key(window, SDLK_DOWN);  // the slot screen, once open, takes slot 1
        push_key(window, SDLK_RETURN);
        testing::internal::CaptureStderr();
        command(IDM_SAVE);
        const std::string shown = testing::internal::GetCapturedStderr();
        const Bytes saved = read_file(slot_file);  // a save with its thumbnail
        EXPECT_EQ(saved.size() > 24 && save_get_u32(&saved[16]) > 0, c.opens) << int{c.blocked} << int{c.choice};
        const char refusal[] = "Save Game (owned): Save is only available when the game is waiting for input.";
        EXPECT_EQ(shown.find(refusal) != std::string::npos && s_box_owner == window, !c.opens);
        drain_events();
    }
    e->vm_vars[3] = 9;
    e->mute = 1;  // not marked until something refreshes the marks
    push_key(window, SDLK_RETURN);  // the load screen opens on slot 1, the only one used
    command(IDM_LOAD);
    EXPECT_EQ(e->vm_vars[3], 5);
    EXPECT_TRUE(item(IDM_MUTE).checked);
}

TEST_F(MenuTest, AboutCommandShowsThePanel)
{
    for (int k : {1, 2}) {
        e->hd_mode = k - 1;
        SDL_SetWindowSize(window, SCREEN_WIDTH * k, SCREEN_HEIGHT * k);
        ASSERT_TRUE(load_white_font(dir, e->hd_mode));  // every glyph a solid cell
        push_key(window, SDLK_ESCAPE);
        command(IDM_ABOUT);
        // The upper band of the centred 430 x 348 panel is white, the tagline on it black.
        EXPECT_EQ(window_pixel(test_renderer(), (105 + 415) * k, (26 + 150) * k), opaque(0xFFFFFF));
        EXPECT_EQ(window_pixel(test_renderer(), (105 + 20) * k, (36 + 68) * k), opaque(0));
    }
    SDL_SetWindowSize(window, 64, 64);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN), 0) << "Esc closed it";
}

TEST_F(MenuTest, ScaleToScreenOffInHdModeGivesTheDoubleSizeAndForgetsThePlacement)
{
    e->hd_mode = 1;
    g_config.scale_to_screen = 1;
    g_config.window_x = g_config.window_w = 700;
    command(IDM_SCALE_TO_SCREEN);
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 2 * SCREEN_WIDTH);
    EXPECT_EQ(h, 2 * SCREEN_HEIGHT);
    EXPECT_FALSE(item(IDM_SCALE_TO_SCREEN).checked);
    EXPECT_NE(config_text().find("window_x=-1\nwindow_y=-1\nwindow_w=-1\nwindow_h=-1\n"),
              std::string::npos);
    // Turned on, it fits the 1024 x 768 display of SDL's dummy driver only once.
    command(IDM_SCALE_TO_SCREEN);
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w * 10000 + h, SCREEN_WIDTH * 10000 + SCREEN_HEIGHT);
    EXPECT_TRUE(item(IDM_SCALE_TO_SCREEN).checked);
    SDL_SetWindowSize(window, 64, 64);
}

// The restarted instance is this test program: the filter keeps it from
// running any test.
static void restart_quietly_after(Engine* e, int32_t id)
{
    setenv("GTEST_FILTER", "-*", 1);
    app_menu_command(e, &g_running, id);
}

using MenuDeathTest = MenuTest;

TEST_F(MenuDeathTest, LanguageChangeSavesTheCodeAndRestarts)
{
    // The restart notices have no owner window.
    EXPECT_EXIT(restart_quietly_after(e, IDM_LANGUAGE_BASE + 1), ::testing::ExitedWithCode(0),
                "Restart Required: Language changed");
    EXPECT_NE(config_text().find("script_lang=es\n"), std::string::npos);
}

TEST_F(MenuDeathTest, HdSwitchForgetsThePlacementAndRestarts)
{
    command(IDM_HD_GRAPHICS);  // greyed without hd.dat
    EXPECT_FALSE(file_exists(CONFIG_FILE_NAME));

    open_hd_archive();
    g_config.window_x = 30;
    g_config.saved_rect[2] = 640;
    EXPECT_EXIT(restart_quietly_after(e, IDM_HD_GRAPHICS), ::testing::ExitedWithCode(0),
                "Restart Required: Switching to HD mode");
    const std::string ini = config_text();
    EXPECT_NE(ini.find("use_hd_graphics=1\n"), std::string::npos);
    EXPECT_NE(ini.find("window_x=-1\nwindow_y=-1\nwindow_w=-1\nwindow_h=-1\n"), std::string::npos);
}

TEST_F(MenuTest, BarHitsTitlesItemsAndTheOpenSubmenu)
{
    // Titles from x 4 on the 20-high bar: File and View 48 wide, Settings 80,
    // Help 48. With Settings open: its menu from x 100, 188 wide, items from
    // y 22 (Speed 18 high, a separator 8, Mute Audio), and Speed's submenu
    // right of it at x 288, 132 wide, level with Speed (four items 18 high).
    const struct {
        bool open;
        int32_t x, y, menu, item;
    } cases[] = {{false, 4, 0, MENU_FILE, MENU_NONE},    {false, 51, 19, MENU_FILE, MENU_NONE},
                 {false, 52, 5, MENU_VIEW, MENU_NONE},   {false, 100, 5, MENU_SETTINGS, MENU_NONE},
                 {false, 227, 5, MENU_HELP, MENU_NONE},  {false, 228, 5, MENU_NONE, MENU_NONE},
                 {false, 3, 5, MENU_NONE, MENU_NONE},    {false, 10, 20, MENU_NONE, MENU_NONE},
                 {true, 100, 22, MENU_SETTINGS, 0},      {true, 287, 39, MENU_SETTINGS, 0},
                 {true, 150, 44, MENU_SETTINGS, 1},      {true, 150, 48, MENU_SETTINGS, 2},
                 {true, 150, 21, MENU_SETTINGS, MENU_NONE}, {true, 288, 22, MENU_SPEED, 0},
                 {true, 419, 93, MENU_SPEED, 3},         {true, 420, 30, MENU_NONE, MENU_NONE}};
    g_menu_bar.visible = 1;
    for (const auto& c : cases) {
        g_menu_bar.open = c.open ? MENU_SETTINGS : MENU_NONE;
        g_menu_bar.open_sub = c.open ? MENU_SPEED : MENU_NONE;
        const MenuHit hit = menu_bar_hit(g_menu_bar, c.x, c.y);
        EXPECT_EQ(hit.menu * 100 + hit.item, c.menu * 100 + c.item) << c.x << "," << c.y;
    }
    g_menu_bar.visible = 0;
    EXPECT_EQ(menu_bar_hit(g_menu_bar, 10, 5).menu, MENU_NONE);
}

TEST_F(MenuTest, PointerAtTheTopAndClicksChooseACommand)
{
    push_motion(window, 10, 1);
    push_window_event(window, SDL_WINDOWEVENT_LEAVE);  // out through the top edge
    app_handle_events(e, &g_running);
    EXPECT_FALSE(g_menu_bar.visible);

    for (int k : {1, 2}) {  // the bar's units are pixels of the mode's scale
        e->hd_mode = k - 1;
        g_running = 1;
        push_motion(window, 10 * k, 1);
        push_button(window, 10 * k, 5 * k);
        app_handle_events(e, &g_running);
        EXPECT_EQ(g_menu_bar.open, MENU_FILE);
        // Exit is the last item of File.
        int32_t y = MENU_BAR_HEIGHT;
        while (menu_bar_hit(g_menu_bar, 10, y).item != g_menu_bar.menus[MENU_FILE].count - 1)
            y++;
        push_button(window, 10 * k, y * k);
        app_handle_events(e, &g_running);
        app_handle_events(e, &g_running);
        EXPECT_EQ(g_running, 0);
        EXPECT_FALSE(g_menu_bar.visible);
    }
}

TEST_F(MenuTest, OpenMenuKeepsKeysFromTheGameAndGreyedItemsDoNothing)
{
    push_key(window, SDLK_F10);
    push_key(window, SDLK_TAB);
    push_key(window, SDLK_RIGHT);  // View: Scale to Screen highlighted
    for (int i = 0; i < 4; i++)
        push_key(window, SDLK_DOWN);  // past the separator onto Antialiasing, greyed in SD
    push_key(window, SDLK_RETURN);
    app_handle_events(e, &g_running);
    app_handle_events(e, &g_running);
    EXPECT_EQ(e->game_speed, 0);
    EXPECT_EQ(g_menu_bar.open, MENU_VIEW);
    EXPECT_EQ(g_menu_bar.highlight, 5);
    EXPECT_FALSE(file_exists(CONFIG_FILE_NAME));

    push_key(window, SDLK_ESCAPE);
    push_key(window, SDLK_TAB);
    app_handle_events(e, &g_running);
    EXPECT_EQ(g_menu_bar.open, MENU_NONE);
    EXPECT_EQ(e->game_speed, 1);
}

// A panel that never closes ends the program here instead of hanging the test.
struct AboutWatchdog {
    static Uint32 give_up(Uint32, void*)
    {
        fputs("the about panel never closed\n", stderr);
        abort();
    }
    SDL_TimerID timer = SDL_AddTimer(5000, give_up, nullptr);
    ~AboutWatchdog() { SDL_RemoveTimer(timer); }
};

TEST_F(MenuTest, AboutClosesByKeysOkAndCloseBoxAndLeavesOtherEventsForTheGame)
{
    // The panel's client area stands at (105, 36) below its 20-high caption;
    // the link is the whole 390 x 18 control at (20, 126).
    EXPECT_EQ(about_hit(105 + 20, 36 + 126), ABOUT_HIT_LINK);
    EXPECT_EQ(about_hit(105 + 409, 36 + 143), ABOUT_HIT_LINK);
    EXPECT_EQ(about_hit(105 + 410, 36 + 130), ABOUT_HIT_NONE);
    EXPECT_EQ(about_hit(105 + 20, 36 + 144), ABOUT_HIT_NONE);

    AboutWatchdog watchdog;
    for (int32_t sym : {SDLK_ESCAPE, SDLK_RETURN}) {
        push_key(window, sym);
        about_show_dialog(e);
    }
    push_button(window, 105 + 420, 36 - 10);  // the caption's close box
    about_show_dialog(e);
    for (int k : {1, 2}) {  // OK, in HD too
        e->hd_mode = k - 1;
        push_button(window, (105 + 370) * k, (36 + 320) * k);
        about_show_dialog(e);
    }

    // A resize made while the panel is open is applied once it is gone.
    push_window_event(window, SDL_WINDOWEVENT_RESIZED, 1000, 700);
    push_key(window, SDLK_ESCAPE);
    about_show_dialog(e);
    app_handle_events(e, &g_running);
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    SDL_SetWindowSize(window, 64, 64);
    EXPECT_EQ(w * 10000 + h, 1000 * 10000 + 625);

    push_plain(SDL_QUIT);
    about_show_dialog(e);
    app_handle_events(e, &g_running);
    EXPECT_EQ(g_running, 0);
}

TEST_F(MenuTest, OpenMenuIsDrawnOverTheFrame)
{
    g_menu_bar.visible = 1;
    g_menu_bar.open = MENU_SETTINGS;
    g_menu_bar.open_sub = MENU_SPEED;
    e->game_speed = 2;
    win_update_menu_checks(window);
    const uint32_t face = 0xF0F0F0, border = 0xA0A0A0, none = 0x1000000;
    // The bar: 20 high across the screen, its last row the border; Settings'
    // title (x 100 to 180) lit, its name white from x 108. Its menu from x 100
    // with "Speed" from x 120 and a separator at y 44; the Speed submenu from
    // x 288 to 420 with the check mark on Fast only.
    const struct {
        int x, y;
        uint32_t rgb;
    } pixels[] = {{2, 2, face},        {638, 19, border},  {638, 21, none},      {99, 1, face},
                  {101, 1, 0x0078D7},  {108, 10, 0xFFFFFF}, {100, 50, border},   {102, 30, face},
                  {125, 30, 0},        {110, 44, 0xC8C8C8}, {288, 30, border},   {291, 66, 0},
                  {291, 48, face},     {421, 30, none}};
    for (int k : {1, 2}) {  // HD doubles it all
        e->hd_mode = k - 1;
        ASSERT_TRUE(load_white_font(dir, e->hd_mode));  // every glyph a solid cell
        const Pixels shown = draw_to_target(SCREEN_WIDTH * k, SCREEN_HEIGHT * k, [&] { menu_bar_draw(e); });
        for (const auto& p : pixels)
            EXPECT_EQ(pixel_at(shown, SCREEN_WIDTH * k, p.x * k, p.y * k), p.rgb == none ? 0u : opaque(p.rgb))
                << p.x << "," << p.y << " k " << k;
    }
}

// The File menu opened by F10 lights its first item: from (5, 22) on.
constexpr int LIT_ITEM_X = 5, LIT_ITEM_Y = 22;

TEST_F(MenuTest, OpenMenuIsInEveryShownFrameButNotInScreenshots)
{
    const uint32_t lit = opaque(0x0078D7);
    push_key(window, SDLK_F10);
    ScratchDir shots;
    const std::string path = shots.file("shot.png");
    snprintf(g_screenshot_path, SCREENSHOT_PATH_CAPACITY, "%s", path.c_str());
    app_run_frame(e);
    EXPECT_EQ(window_pixel(e->renderer, LIT_ITEM_X, LIT_ITEM_Y), lit);
    int w = 0, h = 0, channels = 0;
    uint8_t* shot = stbi_load(path.c_str(), &w, &h, &channels, 4);
    ASSERT_NE(shot, nullptr);
    const uint8_t* p = shot + (LIT_ITEM_Y * w + LIT_ITEM_X) * 4;
    EXPECT_EQ(p[0] + p[1] + p[2], 0);  // the game's black frame
    stbi_image_free(shot);
    push_key(window, SDLK_ESCAPE);
    SDL_RenderClear(e->renderer);  // no menu left in the window
    SDL_RenderPresent(e->renderer);

    // Paused inside an instruction: F10 opens the menu, which is drawn and
    // takes the F5; Esc closes it and the next F5 resumes.
    harness.install(ScenarioBuilder().segment(0, Code().cmd("=1,1")));
    harness.hook_callbacks();
    e->paused_flag_ptr = &g_paused;
    g_paused = 1;
    uint32_t shown_in_pause = 0;
    harness.on_pump = [&](Engine* engine) {
        if (harness.pump_calls == 1) {
            push_key(window, SDLK_F10);
            push_key(window, SDLK_F5);
        } else if (harness.pump_calls == 2) {
            shown_in_pause = window_pixel(engine->renderer, LIT_ITEM_X, LIT_ITEM_Y);
            push_key(window, SDLK_ESCAPE);
            push_key(window, SDLK_F5);
        } else {
            g_paused = 0;  // the pause was never lifted: give up
        }
        app_handle_events(engine, &g_running);
    };
    vm_step(e);
    EXPECT_EQ(shown_in_pause, lit);
    EXPECT_EQ(harness.pump_calls, 2);
    EXPECT_EQ(g_menu_bar.open, MENU_NONE);
    EXPECT_EQ(harness.var(1), 1);
}

// Pointer shapes need a real display: this runs on a private X server, in a
// child process so that the test renderer's SDL stays as it is.
static void check_cursor_over_the_bar(Engine* e, const XSession& x)
{
    if (!x.start_sdl_with_cursors())
        _exit(2);
    e->renderer = nullptr;
    e->window = SDL_CreateWindow("cursor", 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, 0);
    if (!e->window)
        _exit(3);
    win_build_menu_bar(e->window);
    // One choice at (100, 50); the pointer goes from it straight to the top edge.
    e->choice_ids[0] = 1;
    e->choice_count = 1;
    e->choice_active = e->vm_blocked = 1;
    e->choice_x = 100;
    e->choice_y = 50;
    push_motion(e->window, 110, 55);
    app_handle_events(e, &g_running);
    const bool hand_on_choice = SDL_GetCursor() == g_cursor_hand;
    push_motion(e->window, 110, 1);
    app_handle_events(e, &g_running);
    const bool arrow_on_bar = g_menu_bar.visible && SDL_GetCursor() == g_cursor_arrow;
    fprintf(stderr, "hand on the choice: %d, arrow on the bar: %d\n", hand_on_choice, arrow_on_bar);
    _exit(hand_on_choice && arrow_on_bar ? 0 : 1);
}

TEST_F(MenuDeathTest, ArrowReturnsOverTheBar)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    EXPECT_EXIT(check_cursor_over_the_bar(e, x), ::testing::ExitedWithCode(0), "");
}
