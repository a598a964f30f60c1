#include <gtest/gtest.h>

#include "app.h"
#include "config.h"
#include "event_fixture.h"
#include "music.h"
#include "render_fixture.h"
#include "screen.h"
#include "vm_harness.h"
#include "x_session.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

// The engine's window is the test renderer's own, so that pushed events
// belong to it and logical coordinates are the window's.
class EventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test_renderer(), nullptr);
        window = SDL_RenderGetWindow(test_renderer());
        e->window = window;
        e->renderer = test_renderer();
        g_running = 1;
        g_paused = 0;
        drain_events();
    }
    void TearDown() override { g_paused = 0; }

    void key(SDL_Keycode sym)
    {
        push_key(window, sym);
        handle();
    }
    void handle() { app_handle_events(e, &g_running); }
    void offer_choices(std::initializer_list<uint32_t> ids, bool open)
    {
        e->choice_count = 0;
        for (uint32_t id : ids)
            e->choice_ids[e->choice_count++] = id;
        e->choice_active = e->vm_blocked = open;
    }

    VmHarness harness;
    Engine* const e = harness.engine();
    SDL_Window* window = nullptr;
};

TEST_F(EventsTest, QuitAndCloseStopTheLoopButOtherWindowsAreIgnored)
{
    SDL_Window* other = SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    e->vm_blocked = 1;
    push_window_event(other, SDL_WINDOWEVENT_CLOSE);
    push_key(other, SDLK_a);
    handle();
    EXPECT_EQ(g_running, 1);
    EXPECT_EQ(e->vm_blocked, 1);
    SDL_DestroyWindow(other);

    push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    handle();
    EXPECT_EQ(g_running, 0);
    g_running = 1;
    push_plain(SDL_QUIT);
    handle();
    EXPECT_EQ(g_running, 0);
}

TEST_F(EventsTest, TabCyclesTheSpeedAndRewritesConfig)
{
    ScratchDir scratch;
    scratch.enter();
    cfg_load(CONFIG_FILE_NAME);
    const int32_t cases[][2] = {{0, 1}, {2, 3}, {3, 0}, {-1, 0}, {7, 0}};
    for (const auto& c : cases) {
        e->game_speed = c[0];
        key(SDLK_TAB);
        EXPECT_EQ(e->game_speed, c[1]) << "from " << c[0];
        EXPECT_NE(read_text_file(CONFIG_FILE_NAME).find("game_speed=" + std::to_string(c[1])),
                  std::string::npos);
    }
}

TEST_F(EventsTest, ArrowsWrapAroundTheChoicesAndEnterTakesTheHighlight)
{
    offer_choices({12, 7, 9}, true);
    key(SDLK_a);  // other keys neither touch an open menu nor end its wait
    key(SDLK_ESCAPE);
    EXPECT_EQ(e->vm_blocked + e->choice_active + e->choice_count, 5);
    key(SDLK_UP);
    EXPECT_EQ(e->choice_cursor, 2);
    key(SDLK_DOWN);
    key(SDLK_DOWN);
    EXPECT_EQ(e->choice_cursor, 1);
    e->history.open = 1;
    key(SDLK_RETURN);
    EXPECT_EQ(e->vm_vars[VAR_RESULT], 7);
    EXPECT_EQ(e->choice_result, 7);
    EXPECT_EQ(e->choice_count, 0);
    EXPECT_EQ(e->choice_cursor, 1);
    EXPECT_EQ(e->vm_blocked + e->choice_active + e->history.open, 0);
    EXPECT_STREQ(e->dbg_event_log[(e->dbg_event_log_count - 1) % DBG_EVENT_LOG_LINES], ">> SELECT: 2 ([ID 7])");

    // No choices: the arrows leave the highlight at 0.
    e->choice_cursor = 0;
    key(SDLK_UP);
    key(SDLK_DOWN);
    EXPECT_EQ(e->choice_cursor, 0);
}

TEST_F(EventsTest, SpaceBeforeTheMenuOpensTakesTheGatheredChoices)
{
    offer_choices({12, 7}, false);
    key(SDLK_SPACE);
    EXPECT_EQ(e->vm_vars[VAR_RESULT], 12);
    EXPECT_EQ(e->choice_count, 0);
    // A highlight left over from a longer menu takes the first entry.
    offer_choices({12, 7}, false);
    e->choice_cursor = 5;
    key(SDLK_SPACE);
    EXPECT_EQ(e->vm_vars[VAR_RESULT], 12);
}

TEST_F(EventsTest, KeyEndsAKeyWaitOnlyWhileNotPaused)
{
    // Enter with no choice gathered is a key like any other; the wait's end closes the history.
    e->vm_blocked = 1;
    e->history.open = 1;
    key(SDLK_RETURN);
    EXPECT_EQ(e->vm_blocked + e->history.open, 0);

    // The F5 that pauses keeps the wait, keys do nothing while paused, and the
    // F5 that resumes ends the wait in the same press.
    e->vm_blocked = 1;
    key(SDLK_F5);
    key(SDLK_a);
    EXPECT_EQ(g_paused, 1);
    EXPECT_EQ(e->vm_blocked, 1);
    key(SDLK_F5);
    EXPECT_EQ(g_paused, 0);
    EXPECT_EQ(e->vm_blocked, 0);

    // F12 asks for a screenshot and still ends the wait.
    e->vm_blocked = 1;
    key(SDLK_F12);
    EXPECT_EQ(e->vm_blocked, 0);
    g_screenshot_path[0] = '\0';
}

TEST_F(EventsTest, HistoryConsumesItsKeysBeforeTheGame)
{
    e->vm_blocked = 1;
    e->history.open = 1;
    e->history.count = 30;
    e->history.scroll = 1;
    key(SDLK_PAGEUP);  // a page is 25 lines without a current window
    EXPECT_EQ(e->history.scroll, 26);
    e->text_windows[0].active = 1;
    e->text_windows[0].rows = 2;
    key(SDLK_PAGEDOWN);
    EXPECT_EQ(e->history.scroll, 24);
    key(SDLK_ESCAPE);
    EXPECT_EQ(e->history.open, 0);
    EXPECT_EQ(e->vm_blocked, 1);
}

TEST_F(EventsTest, MouseOverTheChoiceGrid)
{
    // Five choices in two columns from the fallback position (100, 50).
    offer_choices({21, 22, 23, 24, 25}, true);
    e->vm_vars[VAR_CHOICE_COLUMNS] = 2;
    e->choice_x = 100;
    e->choice_y = 50;
    push_motion(window, 100 + 165, 50 + 19);
    handle();
    EXPECT_EQ(e->choice_cursor, 3);
    // Right of the last column, past the last entry, left of the origin, a
    // right button: nothing is hit.
    const std::pair<int, int> misses[] = {{420, 50}, {265, 83}, {99, 50}};
    for (auto [x, y] : misses) {
        push_motion(window, x, y);
        push_button(window, x, y);
    }
    push_button(window, 110, 50, SDL_BUTTON_RIGHT);
    handle();
    EXPECT_EQ(e->choice_cursor, 3);
    EXPECT_EQ(e->choice_count, 5);

    // The wheel moves the highlight over the grid and scrolls the history beside it, in logical pixels.
    SDL_SetWindowSize(window, 2 * SCREEN_WIDTH, 2 * SCREEN_HEIGHT);  // SDL keeps the pointer inside
    SDL_RenderSetLogicalSize(test_renderer(), SCREEN_WIDTH, SCREEN_HEIGHT);
    SDL_WarpMouseInWindow(window, 2 * 105, 2 * 55);
    drain_events();
    push_wheel(window, 1);
    handle();
    EXPECT_EQ(e->choice_cursor, 2);
    e->history.count = 10;
    SDL_WarpMouseInWindow(window, 2 * 105, 2 * 110);
    drain_events();
    push_wheel(window, 1);
    handle();
    EXPECT_EQ(e->choice_cursor, 2);
    EXPECT_EQ(e->history.open, 1);
    SDL_RenderSetLogicalSize(test_renderer(), 0, 0);
    SDL_SetWindowSize(window, 64, 64);

    push_button(window, 110, 82);
    handle();
    EXPECT_EQ(e->choice_result, 25);
    EXPECT_EQ(e->choice_active, 0);
}

TEST_F(EventsTest, ClickOnTheKeyPromptEndsTheWaitEvenWhilePaused)
{
    // Layout cell (10, 20) with a height of 4 rows: the prompt stands at
    // cell (10, 22), 104k x 16k.
    const uint32_t layout[MENU_LAYOUT_VALUES] = {10, 20, 0, 4, 0, 2, 7};
    memcpy(e->menu_layout, layout, sizeof layout);
    g_paused = 1;
    for (uint8_t hd : {0, 1}) {
        e->hd_mode = hd;
        const int k = hd ? 2 : 1, x0 = 80 * k, y0 = 352 * k;
        e->menu_layout_set = 1;
        e->vm_blocked = 1;
        push_button(window, x0 + 104 * k, y0);
        push_button(window, x0, y0 + 16 * k);
        handle();
        EXPECT_EQ(e->vm_blocked, 1) << "hd " << int{hd};
        push_button(window, x0 + 104 * k - 1, y0 + 16 * k - 1);
        handle();
        EXPECT_EQ(e->vm_blocked, 0) << "hd " << int{hd};
    }
    // Without a layout there is no prompt to click.
    e->menu_layout_set = 0;
    e->vm_blocked = 1;
    push_button(window, 170, 710);
    handle();
    EXPECT_EQ(e->vm_blocked, 1);
}

TEST_F(EventsTest, PauseHoldsTheMusicEvenWhenMuted)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0);
    bgm_init();
    ASSERT_NE(g_bgm.device, 0u);
    e->mute = 1;
    key(SDLK_F5);
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PAUSED);
    key(SDLK_F5);
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PLAYING);
    bgm_shutdown();
}

TEST_F(EventsTest, ScreenshotIsNamedAfterTheLocalTimeInTheExecutableFolder)
{
    struct tm when {};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 2;
    when.tm_hour = 14;
    when.tm_min = 5;
    when.tm_sec = 9;
    char path[SCREENSHOT_PATH_CAPACITY];
    EXPECT_TRUE(app_format_screenshot_path(path, sizeof path, "/games/", &when));
    EXPECT_STREQ(path, "/games/screenshot_20260302_140509.png");
    EXPECT_FALSE(app_format_screenshot_path(path, sizeof path, std::string(sizeof path, 'd').c_str(), &when));

    key(SDLK_F12);
    char* base = SDL_GetBasePath();
    const std::string folder = base, requested = g_screenshot_path;
    SDL_free(base);
    g_screenshot_path[0] = '\0';
    ASSERT_EQ(requested.compare(0, folder.size(), folder), 0) << requested;
    EXPECT_TRUE(std::regex_match(requested.substr(folder.size()),
                                 std::regex("screenshot_20[0-9]{6}_[0-9]{6}\\.png")))
        << requested;
}

TEST_F(EventsTest, ResizeKeepsSixteenByTenWithinTheDisplay)
{
    // Usable bounds 1920x1080 leave 1024 rows below the title reserve: 1639
    // is the widest width whose 5/8 still fits.
    const ScreenRect desktop = {0, 0, 1920, 1080};
    const struct {
        ScreenRect usable;
        int w, h, want_w, want_h;
    } cases[] = {{desktop, 1000, 700, 1000, 625}, {desktop, 500, 300, 640, 400},   {desktop, 1280, 800, 1280, 800},
                 {desktop, 639, 399, 640, 400},   {desktop, 1003, 900, 1003, 626}, {desktop, 1639, 900, 1639, 1024},
                 {desktop, 1640, 900, 1639, 1024}, {desktop, 1900, 1187, 1639, 1024},
                 {desktop, 1920, 1061, 1639, 1024},
                 // Past a narrow display's width; past a small one's height;
                 // never below 640x400 on a display smaller than that.
                 {{0, 0, 1280, 1024}, 1300, 900, 1280, 800}, {{0, 0, 800, 480}, 700, 437, 679, 424},
                 {{0, 0, 600, 380}, 700, 437, 640, 400}, {{0, 0, 2560, 1440}, 2000, 900, 2000, 1250}};
    for (const auto& c : cases) {
        int w = 0, h = 0;
        EXPECT_EQ(app_resize_target(c.w, c.h, c.usable, &w, &h), c.w != c.want_w || c.h != c.want_h);
        EXPECT_EQ(w * 10000 + h, c.want_w * 10000 + c.want_h) << c.w << "x" << c.h << " on " << c.usable.w;
    }
    // SDL's dummy display is 1024x768: a width of 1900 ends at its width, and
    // the window that then hangs off it moves back in; one that fits stays.
    const int resized[][8] = {{10, 60, 1000, 700, 10, 60, 1000, 625}, {500, 300, 1900, 1187, 0, 128, 1024, 640}};
    for (const auto& r : resized) {
        SDL_SetWindowPosition(window, r[0], r[1]);
        push_window_event(window, SDL_WINDOWEVENT_RESIZED, r[2], r[3]);
        handle();
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(window, &x, &y);
        SDL_GetWindowSize(window, &w, &h);
        EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{r[4], r[5], r[6], r[7]}));
    }
    SDL_SetWindowSize(window, 64, 64);
}

TEST_F(EventsTest, LostRenderTargetsAreRefilledFromThePlanes)
{
    gfx_init_screen(e);
    memset(e->vram_planes[0], 0xFF, sizeof e->vram_planes[0]);
    push_plain(SDL_RENDER_TARGETS_RESET);
    handle();
    const Pixels canvas = read_render_target(e->canvas_texture);
    EXPECT_EQ(pixel_at(canvas, SCREEN_WIDTH, 639, 399), opaque(DEFAULT_PALETTE[1] & 0xFFFFFF));
    SDL_DestroyTexture(e->canvas_texture);
    SDL_DestroyTexture(e->vram_texture);
}

TEST_F(EventsTest, MenuCommandEventIsRegisteredOnceAndTakenOffTheQueue)
{
    const uint32_t type = app_menu_event_type();
    EXPECT_GE(type, static_cast<uint32_t>(SDL_USEREVENT));
    EXPECT_EQ(app_menu_event_type(), type);
    push_plain(type);
    handle();
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
}

// SDL keeps cursors only on a real display, so this runs in a child of the
// test on a private X server. Each pointer event is followed by the cursor
// it must leave; a wrong one ends the child with status 1.
[[noreturn]] static void follow_the_cursor(const XSession& x, Engine* e)
{
    if (!x.start_sdl_with_cursors())
        _Exit(2);
    e->window = SDL_CreateWindow("cursor", 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, SDL_WINDOW_HIDDEN);
    // Layout cell (10, 20): one choice at (80, 320), 160 x 16; once it is
    // taken, the prompt at (80, 352), 104 x 16.
    e->choice_ids[0] = 5;
    e->choice_count = 1;
    e->choice_active = 1;
    const uint32_t layout[MENU_LAYOUT_VALUES] = {10, 20, 0, 4, 0, 2, 7};
    memcpy(e->menu_layout, layout, sizeof layout);
    e->menu_layout_set = 1;
    const struct {
        bool click;
        int x, y;
        SDL_Cursor* want;
    } steps[] = {{false, 85, 325, g_cursor_hand}, {false, 85, 337, g_cursor_arrow},
                 {false, 85, 325, g_cursor_hand}, {true, 85, 325, g_cursor_arrow},
                 {false, 85, 355, g_cursor_hand}, {false, 85, 351, g_cursor_arrow},
                 {false, 85, 355, g_cursor_hand}, {true, 85, 355, g_cursor_arrow}};
    for (const auto& step : steps) {
        e->vm_blocked = 1;
        step.click ? push_button(e->window, step.x, step.y) : push_motion(e->window, step.x, step.y);
        app_handle_events(e, &g_running);
        if (SDL_GetCursor() != step.want)
            _Exit(1);
    }
    _Exit(0);
}

TEST(EventsCursorDeathTest, HandOverAChoiceAndOverTheKeyPromptArrowElsewhere)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    VmHarness harness;
    EXPECT_EXIT(follow_the_cursor(x, harness.engine()), ::testing::ExitedWithCode(0), "");
}
