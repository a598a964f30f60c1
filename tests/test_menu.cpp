#include <gtest/gtest.h>

#include "app.h"
#include "archive.h"
#include "config.h"
#include "event_fixture.h"
#include "kvr_writer.h"
#include "render_fixture.h"
#include "screen.h"
#include "test_support.h"
#include "vm_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>

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
    command(IDM_SCANLINES);
    command(IDM_MUTE);
    command(IDM_SPEED_PC_98);
    command(IDM_PAUSE);
    EXPECT_TRUE(e->scanlines && e->mute && g_paused);
    EXPECT_EQ(e->game_speed, 0);
    EXPECT_TRUE(item(IDM_SCANLINES).checked && item(IDM_MUTE).checked && item(IDM_PAUSE).checked);
    EXPECT_TRUE(item(IDM_SPEED_PC_98).checked);
    const std::string ini = config_text();
    EXPECT_NE(ini.find("use_scanlines=1\n"), std::string::npos);
    EXPECT_NE(ini.find("mute_audio=1\n"), std::string::npos);
    EXPECT_NE(ini.find("game_speed=0\n"), std::string::npos);

    command(IDM_EXIT);
    EXPECT_EQ(g_running, 0);
}

TEST_F(MenuTest, AntialiasingOnlyInHdModeAndUnknownIdsDoNothing)
{
    for (int32_t id : {IDM_ANTIALIASING, 107, 202, 402, 499, IDM_LANGUAGE_BASE + 2})
        command(id);
    EXPECT_FALSE(e->antialias);
    EXPECT_FALSE(file_exists(CONFIG_FILE_NAME));

    e->hd_mode = 1;
    command(IDM_ANTIALIASING);
    EXPECT_TRUE(e->antialias && g_config.use_antialiasing && item(IDM_ANTIALIASING).checked);
    EXPECT_NE(config_text().find("use_antialiasing=1\n"), std::string::npos);
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
}

TEST_F(MenuTest, ChoosingTheLanguageInUseNeitherSavesNorRestarts)
{
    command(IDM_LANGUAGE_BASE);
    EXPECT_FALSE(file_exists(CONFIG_FILE_NAME));
    EXPECT_EQ(g_running, 1);
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
    EXPECT_EXIT(restart_quietly_after(e, IDM_LANGUAGE_BASE + 1), ::testing::ExitedWithCode(0), "");
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
                "Switching to HD mode");
    const std::string ini = config_text();
    EXPECT_NE(ini.find("use_hd_graphics=1\n"), std::string::npos);
    EXPECT_NE(ini.find("window_x=-1\nwindow_y=-1\nwindow_w=-1\nwindow_h=-1\n"), std::string::npos);
}

TEST_F(MenuTest, BarHitsTitlesItemsAndTheOpenSubmenu)
{
    g_menu_bar.visible = 1;
    const MenuHit file = menu_bar_hit(g_menu_bar, 10, 5);
    EXPECT_EQ(file.menu, MENU_FILE);
    EXPECT_EQ(file.item, MENU_NONE);
    EXPECT_EQ(menu_bar_hit(g_menu_bar, 10, MENU_BAR_HEIGHT + 5).menu, MENU_NONE);

    g_menu_bar.open = MENU_SETTINGS;
    g_menu_bar.open_sub = MENU_SPEED;
    const int32_t settings_x = menu_bar_hit(g_menu_bar, 100, 5).menu == MENU_SETTINGS ? 100 : 120;
    // The first item of Settings is Speed; its submenu opens level with it to the right.
    const MenuHit speed = menu_bar_hit(g_menu_bar, settings_x, MENU_BAR_HEIGHT + 5);
    EXPECT_EQ(speed.menu, MENU_SETTINGS);
    EXPECT_EQ(speed.item, 0);
    MenuHit sub = {MENU_NONE, MENU_NONE};
    for (int32_t x = settings_x; x < SCREEN_WIDTH && sub.menu != MENU_SPEED; x += 4)
        sub = menu_bar_hit(g_menu_bar, x, MENU_BAR_HEIGHT + 5);
    EXPECT_EQ(sub.menu, MENU_SPEED);
    EXPECT_EQ(sub.item, 0);

    g_menu_bar.visible = 0;
    EXPECT_EQ(menu_bar_hit(g_menu_bar, 10, 5).menu, MENU_NONE);
}

TEST_F(MenuTest, PointerAtTheTopAndClicksChooseACommand)
{
    push_motion(window, 10, 1);
    push_button(window, 10, 5);
    app_handle_events(e, &g_running);
    EXPECT_EQ(g_menu_bar.open, MENU_FILE);
    // Exit is the last item of File.
    int32_t y = MENU_BAR_HEIGHT;
    while (menu_bar_hit(g_menu_bar, 10, y).item != g_menu_bar.menus[MENU_FILE].count - 1)
        y++;
    push_button(window, 10, y);
    app_handle_events(e, &g_running);
    app_handle_events(e, &g_running);
    EXPECT_EQ(g_running, 0);
    EXPECT_FALSE(g_menu_bar.visible);
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

TEST_F(MenuTest, AboutClosesByKeysAndOkAndLeavesAQuitForTheGame)
{
    for (int32_t sym : {SDLK_ESCAPE, SDLK_RETURN}) {
        push_key(window, sym);
        about_show_dialog(e);
    }
    EXPECT_EQ(about_hit(105 + 20, 26 + 130), ABOUT_HIT_LINK);
    EXPECT_EQ(about_hit(105 + 300, 26 + 130), ABOUT_HIT_NONE);
    push_button(window, 105 + 370, 26 + 320);
    about_show_dialog(e);

    push_plain(SDL_QUIT);
    about_show_dialog(e);
    app_handle_events(e, &g_running);
    EXPECT_EQ(g_running, 0);
}

TEST_F(MenuTest, OpenMenuIsDrawnOverTheFrame)
{
    ASSERT_TRUE(load_white_font(dir, 0));
    g_menu_bar.visible = 1;
    g_menu_bar.open = MENU_SETTINGS;
    g_menu_bar.open_sub = MENU_SPEED;
    e->game_speed = 2;
    win_update_menu_checks(window);
    const Pixels shown = draw_to_target(SCREEN_WIDTH, SCREEN_HEIGHT, [&] { menu_bar_draw(e); });
    EXPECT_EQ(pixel_at(shown, SCREEN_WIDTH, SCREEN_WIDTH - 2, 2), opaque(0xF0F0F0));
    EXPECT_EQ(pixel_at(shown, SCREEN_WIDTH, SCREEN_WIDTH - 2, MENU_BAR_HEIGHT + 2), 0u);
    const MenuHit title = menu_bar_hit(g_menu_bar, 100, 2);
    EXPECT_EQ(title.menu == MENU_SETTINGS, pixel_at(shown, SCREEN_WIDTH, 100, 1) == opaque(0x0078D7));
}
