#include <gtest/gtest.h>

#include "app.h"
#include "config.h"
#include "event_fixture.h"
#include "music.h"
#include "render_fixture.h"
#include "screen.h"
#include "vm.h"
#include "vm_fixture.h"

#include <SDL.h>

#include <cstring>
#include <ctime>
#include <regex>
#include <string>

// The engine's window is the test renderer's own, so that pushed events
// belong to it and the renderer's coordinates are the window's.
class EventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test_renderer(), nullptr);
        window = SDL_RenderGetWindow(test_renderer());
        e = engine.get();
        e->window = window;
        e->renderer = test_renderer();
        g_running = 1;
        g_paused = 0;
        g_screenshot_path[0] = '\0';
        drain_events();
    }
    void TearDown() override
    {
        drain_events();
        g_paused = 0;
    }

    void handle() { app_handle_events(e, &g_running); }

    void offer_choices(std::initializer_list<uint32_t> ids, bool open)
    {
        e->choice_count = 0;
        for (uint32_t id : ids)
            e->choice_ids[e->choice_count++] = id;
        e->choice_active = open;
        e->vm_blocked = open;
    }

    TestEngine engine;
    Engine* e = nullptr;
    SDL_Window* window = nullptr;
};

TEST_F(EventsTest, QuitAndCloseOfTheMainWindowStopTheLoop)
{
    push_quit();
    handle();
    EXPECT_EQ(g_running, 0);

    g_running = 1;
    push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    handle();
    EXPECT_EQ(g_running, 0);
}

TEST_F(EventsTest, EventsOfAnotherWindowAreIgnored)
{
    SDL_Window* other = SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    ASSERT_NE(other, nullptr);
    e->vm_blocked = 1;
    e->game_speed = 1;
    push_window_event(other, SDL_WINDOWEVENT_CLOSE);
    push_key(other, SDLK_TAB);
    push_key(other, SDLK_a);
    handle();
    EXPECT_EQ(g_running, 1);
    EXPECT_EQ(e->game_speed, 1);
    EXPECT_EQ(e->vm_blocked, 1);
    SDL_DestroyWindow(other);
}

TEST_F(EventsTest, TabCyclesTheSpeedAndRewritesConfig)
{
    ScratchDir scratch;
    scratch.enter();
    cfg_load(CONFIG_FILE_NAME);
    // Out-of-range speeds (a hand-edited file) come back to PC-98.
    const struct {
        int32_t before, after;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {-1, 0}, {7, 0}};
    for (const auto& c : cases) {
        e->game_speed = c.before;
        push_key(window, SDLK_TAB);
        handle();
        EXPECT_EQ(e->game_speed, c.after) << "from " << c.before;
        EXPECT_EQ(g_config.game_speed, c.after);
        EXPECT_NE(read_text_file(scratch.file(CONFIG_FILE_NAME)).find("game_speed=" + std::to_string(c.after)),
                  std::string::npos);
    }
}

TEST_F(EventsTest, UpAndDownWrapAroundTheChoices)
{
    offer_choices({11, 12, 13}, true);
    e->choice_cursor = 0;
    push_key(window, SDLK_UP);
    handle();
    EXPECT_EQ(e->choice_cursor, 2);
    push_key(window, SDLK_DOWN);
    handle();
    EXPECT_EQ(e->choice_cursor, 0);
    push_key(window, SDLK_DOWN);
    handle();
    EXPECT_EQ(e->choice_cursor, 1);

    offer_choices({}, false);
    e->choice_cursor = 0;
    push_key(window, SDLK_UP);
    push_key(window, SDLK_DOWN);
    handle();
    EXPECT_EQ(e->choice_cursor, 0);
}

TEST_F(EventsTest, EnterAndSpaceTakeTheHighlightedChoice)
{
    for (SDL_Keycode key : {SDLK_RETURN, SDLK_SPACE}) {
        offer_choices({12, 7}, true);
        e->choice_cursor = 1;
        e->history.open = 1;
        push_key(window, key);
        handle();
        EXPECT_EQ(e->vm_vars[VAR_RESULT], 7);
        EXPECT_EQ(e->choice_result, 7);
        EXPECT_EQ(e->choice_count, 0);
        EXPECT_EQ(e->choice_cursor, 1);
        EXPECT_EQ(e->vm_blocked, 0);
        EXPECT_EQ(e->choice_active, 0);
        EXPECT_EQ(e->history.open, 0);
    }
    const int last = (e->dbg_event_log_count - 1) % DBG_EVENT_LOG_LINES;
    EXPECT_STREQ(e->dbg_event_log[last], ">> SELECT: 2 ([ID 7])");
}

TEST_F(EventsTest, EnterBeforeTheMenuOpensTakesTheGatheredChoices)
{
    offer_choices({12, 7}, false);
    e->choice_cursor = 0;
    push_key(window, SDLK_RETURN);
    handle();
    EXPECT_EQ(e->vm_vars[VAR_RESULT], 12);
    EXPECT_EQ(e->choice_count, 0);

    // A highlight left over from a longer menu takes the first entry.
    offer_choices({12, 7}, false);
    e->choice_cursor = 5;
    push_key(window, SDLK_SPACE);
    handle();
    EXPECT_EQ(e->vm_vars[VAR_RESULT], 12);
    EXPECT_EQ(e->choice_cursor, 0);
}

TEST_F(EventsTest, OpenMenuIgnoresOtherKeysButTabStillCycles)
{
    ScratchDir scratch;
    scratch.enter();
    offer_choices({12, 7}, true);
    e->choice_cursor = 1;
    e->game_speed = 1;
    push_key(window, SDLK_a);
    push_key(window, SDLK_ESCAPE);
    push_key(window, SDLK_TAB);
    handle();
    EXPECT_EQ(e->vm_blocked, 1);
    EXPECT_EQ(e->choice_active, 1);
    EXPECT_EQ(e->choice_count, 2);
    EXPECT_EQ(e->choice_cursor, 1);
    EXPECT_EQ(e->game_speed, 2);
}

TEST_F(EventsTest, KeyEndsAKeyWaitOnlyWhileNotPaused)
{
    e->vm_blocked = 1;
    e->history.open = 1;
    push_key(window, SDLK_a);
    handle();
    EXPECT_EQ(e->vm_blocked, 0);
    EXPECT_EQ(e->history.open, 0);

    // F5 that pauses does not end the wait; a key while paused does nothing;
    // the F5 that resumes ends it in the same press.
    e->vm_blocked = 1;
    push_key(window, SDLK_F5);
    push_key(window, SDLK_a);
    handle();
    EXPECT_EQ(g_paused, 1);
    EXPECT_EQ(e->vm_blocked, 1);
    push_key(window, SDLK_F5);
    handle();
    EXPECT_EQ(g_paused, 0);
    EXPECT_EQ(e->vm_blocked, 0);
}

TEST_F(EventsTest, HistoryConsumesItsKeysBeforeTheGame)
{
    e->vm_blocked = 1;
    e->history.open = 1;
    e->history.count = 30;
    e->history.scroll = 1;
    // Page Up scrolls by the current window's rows, 25 without a window.
    push_key(window, SDLK_PAGEUP);
    handle();
    EXPECT_EQ(e->history.scroll, 26);
    EXPECT_EQ(e->vm_blocked, 1);

    e->vm_vars[VAR_CUR_WINDOW] = 3;
    e->text_windows[3].active = 1;
    e->text_windows[3].rows = 2;
    push_key(window, SDLK_PAGEDOWN);
    handle();
    EXPECT_EQ(e->history.scroll, 24);
    push_key(window, SDLK_ESCAPE);
    handle();
    EXPECT_EQ(e->history.open, 0);
    EXPECT_EQ(e->vm_blocked, 1);
}

// Five choices in two columns, the origin at the fallback position (100, 50).
class ChoiceMouseTest : public EventsTest {
protected:
    void SetUp() override
    {
        EventsTest::SetUp();
        offer_choices({21, 22, 23, 24, 25}, true);
        e->vm_vars[VAR_CHOICE_COLUMNS] = 2;
        e->choice_x = 100;
        e->choice_y = 50;
    }
};

TEST_F(ChoiceMouseTest, MotionHighlightsTheChoiceUnderThePointer)
{
    push_motion(window, 100 + 160 + 5, 50 + 16 + 3);
    handle();
    EXPECT_EQ(e->choice_cursor, 3);
    // Right of the last column, past the last entry, left of the origin.
    push_motion(window, 100 + 320, 50);
    push_motion(window, 100 + 165, 50 + 33);
    push_motion(window, 99, 50);
    handle();
    EXPECT_EQ(e->choice_cursor, 3);
}

TEST_F(ChoiceMouseTest, LeftClickTakesTheChoiceUnderThePointer)
{
    push_left_click(window, 100 + 320, 50);
    push_left_click(window, 100 + 165, 50 + 33);
    push_button(window, 100, 50, SDL_BUTTON_RIGHT);
    handle();
    EXPECT_EQ(e->choice_count, 5);
    EXPECT_EQ(e->vm_blocked, 1);

    push_left_click(window, 100 + 10, 50 + 32);
    handle();
    EXPECT_EQ(e->choice_result, 25);
    EXPECT_EQ(e->choice_cursor, 4);
    EXPECT_EQ(e->vm_blocked, 0);
    EXPECT_EQ(e->choice_active, 0);
}

TEST_F(ChoiceMouseTest, WheelOverTheGridMovesTheHighlightElseScrollsTheHistory)
{
    e->history.count = 10;
    // SDL keeps the pointer inside the window.
    SDL_SetWindowSize(window, SCREEN_WIDTH, SCREEN_HEIGHT);
    SDL_WarpMouseInWindow(window, 100 + 5, 50 + 5);
    drain_events();
    e->choice_cursor = 0;
    push_wheel(window, 1);
    handle();
    EXPECT_EQ(e->choice_cursor, 4);
    push_wheel(window, -1);
    push_wheel(window, -1);
    handle();
    EXPECT_EQ(e->choice_cursor, 1);
    EXPECT_EQ(e->history.open, 0);

    SDL_WarpMouseInWindow(window, 100 + 5, 50 + 60);
    drain_events();
    push_wheel(window, 1);
    handle();
    EXPECT_EQ(e->choice_cursor, 1);
    EXPECT_EQ(e->history.open, 1);
    EXPECT_EQ(e->history.scroll, HIST_WHEEL_STEP);
    SDL_SetWindowSize(window, 64, 64);
}

TEST_F(EventsTest, ClickOnTheKeyPromptEndsTheWaitEvenWhilePaused)
{
    // Layout cell (10, 20) with a height of 4 rows: the prompt stands at
    // (10, 22), 104k x 16k.
    const uint32_t layout[MENU_LAYOUT_VALUES] = {10, 20, 0, 4, 0, 2, 7};
    for (uint8_t hd : {0, 1}) {
        e->hd_mode = hd;
        const int k = hd ? 2 : 1;
        memcpy(e->menu_layout, layout, sizeof layout);
        e->menu_layout_set = 1;
        e->vm_blocked = 1;
        g_paused = 1;
        const int x0 = 80 * k, y0 = 352 * k;
        push_left_click(window, x0 + 104 * k, y0);
        push_left_click(window, x0, y0 + 16 * k);
        push_left_click(window, x0 - 1, y0);
        handle();
        EXPECT_EQ(e->vm_blocked, 1) << "hd " << int{hd};

        push_left_click(window, x0 + 104 * k - 1, y0 + 16 * k - 1);
        handle();
        EXPECT_EQ(e->vm_blocked, 0) << "hd " << int{hd};
    }
    g_paused = 0;

    // Without a layout there is no prompt to click.
    e->menu_layout_set = 0;
    e->vm_blocked = 1;
    push_left_click(window, 80, 352);
    handle();
    EXPECT_EQ(e->vm_blocked, 1);
}

TEST_F(EventsTest, PauseTogglePausesAndResumesTheMusicEvenWhenMuted)
{
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0);
    bgm_init();
    ASSERT_NE(g_bgm.device, 0u);
    e->mute = 1;
    push_key(window, SDLK_F5);
    handle();
    EXPECT_EQ(g_paused, 1);
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PAUSED);
    push_key(window, SDLK_F5);
    handle();
    EXPECT_EQ(g_paused, 0);
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PLAYING);
    bgm_shutdown();
}

TEST_F(EventsTest, ScreenshotPathIsTheExecutableFolderAndTheLocalTime)
{
    struct tm when {};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 2;
    when.tm_hour = 14;
    when.tm_min = 5;
    when.tm_sec = 9;
    char path[SCREENSHOT_PATH_CAPACITY];
    EXPECT_TRUE(app_format_screenshot_path(path, sizeof path, "/games/kv/", &when));
    EXPECT_STREQ(path, "/games/kv/screenshot_20260302_140509.png");
    const std::string long_folder(SCREENSHOT_PATH_CAPACITY - 10, 'd');
    EXPECT_FALSE(app_format_screenshot_path(path, sizeof path, long_folder.c_str(), &when));

    push_key(window, SDLK_F12);
    handle();
    char* base = SDL_GetBasePath();
    ASSERT_NE(base, nullptr);
    const std::string folder = base;
    SDL_free(base);
    const std::string requested = g_screenshot_path;
    ASSERT_EQ(requested.compare(0, folder.size(), folder), 0) << requested;
    EXPECT_TRUE(std::regex_match(requested.substr(folder.size()),
                                 std::regex("screenshot_20[0-9]{6}_[0-9]{6}\\.png")))
        << requested;
    g_screenshot_path[0] = '\0';
}

TEST_F(EventsTest, ResizeRuleKeepsSixteenByTen)
{
    const struct {
        int w, h, want_w, want_h;
        bool changes;
    } cases[] = {
        {1000, 700, 1000, 625, true}, {500, 300, 640, 400, true},  {1280, 800, 1280, 800, false},
        {639, 399, 640, 400, true},   {1001, 625, 1001, 625, false}, {1003, 900, 1003, 626, true},
    };
    for (const auto& c : cases) {
        int w = 0, h = 0;
        EXPECT_EQ(app_resize_target(c.w, c.h, &w, &h), c.changes) << c.w << "x" << c.h;
        EXPECT_EQ(w, c.want_w) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.want_h) << c.w << "x" << c.h;
    }

    SDL_SetWindowSize(window, 1000, 700);
    drain_events();
    push_window_event(window, SDL_WINDOWEVENT_RESIZED, 1000, 700);
    handle();
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 625);
    SDL_SetWindowSize(window, 64, 64);
    drain_events();
}

TEST_F(EventsTest, LostRenderTargetsAreRefilledFromThePlanes)
{
    gfx_init_screen(e);
    ASSERT_NE(e->canvas_texture, nullptr);
    memset(e->vram_planes[0], 0xFF, sizeof e->vram_planes[0]);
    SDL_Event event{};
    event.type = SDL_RENDER_TARGETS_RESET;
    SDL_PushEvent(&event);
    handle();
    const Pixels canvas = read_render_target(e->canvas_texture);
    const uint32_t colour = DEFAULT_PALETTE[1] & 0xFFFFFF;
    EXPECT_EQ(pixel_at(canvas, SCREEN_WIDTH, 0, 0), opaque(colour));
    EXPECT_EQ(pixel_at(canvas, SCREEN_WIDTH, 639, 399), opaque(colour));
    SDL_DestroyTexture(e->canvas_texture);
    SDL_DestroyTexture(e->vram_texture);
}

TEST_F(EventsTest, MenuCommandEventIsRegisteredAndTakenOffTheQueue)
{
    const uint32_t type = app_menu_event_type();
    ASSERT_NE(type, static_cast<uint32_t>(-1));
    EXPECT_GE(type, static_cast<uint32_t>(SDL_USEREVENT));
    EXPECT_EQ(app_menu_event_type(), type);

    SDL_Event event{};
    event.type = type;
    event.user.code = 101;
    SDL_PushEvent(&event);
    handle();
    EXPECT_EQ(g_running, 1);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
}
