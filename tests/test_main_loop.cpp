#include <gtest/gtest.h>

#include "app.h"
#include "config.h"
#include "event_fixture.h"
#include "render_fixture.h"
#include "screen.h"
#include "vm.h"
#include "vm_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <string>

constexpr uint32_t HEAD = 3;  // a segment's '{' and u16 length

// The clock the loop and the pumps see, and the sleep they last asked for.
static uint32_t s_now = 0;
static uint32_t s_slept = 0;

// An Engine without a renderer or window; the globals start as the loop finds
// them, and the clock is the test's.
class MainLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test_renderer(), nullptr);  // brings up SDL's event queue
        drain_events();
        app_set_clock([] { return s_now; }, [](uint32_t ms) { s_slept = ms; });
        e = h.engine();
        g_running = 1;
        g_paused = 0;
        g_step_once = 0;
        g_screenshot_path[0] = '\0';
    }
    void TearDown() override
    {
        app_set_clock(nullptr, nullptr);
        g_paused = 0;
        g_step_once = 0;
        drain_events();
    }

    // Segment 0 holds body; the interpreter stands on its first byte, as after
    // a block that returned early, so that each step is one character.
    void enter_body(const Code& body)
    {
        scenario.segment(0, body);
        h.install(scenario);
        body_start = scenario.offset_of(0) + HEAD;
        e->vm_pc = body_start;
        e->vm_block_end = body_start + static_cast<uint32_t>(body.size());
    }

    void passes(int n)
    {
        for (int i = 0; i < n; i++)
            app_run_frame(e);
    }

    VmHarness h;
    Engine* e = nullptr;
    ScenarioBuilder scenario;
    uint32_t body_start = 0;
};

TEST_F(MainLoopTest, BatchRunsAtMostTheRowsStepsAndSleepsTheRowsDelay)
{
    enter_body(Code().text(std::string(4000, 'A')));
    const struct {
        int32_t speed;
        uint32_t steps, delay_ms;
    } cases[] = {{0, 100, 16}, {1, 700, 8}, {2, 1000, 4}, {3, 3000, 2}, {7, 700, 8}, {-1, 700, 8}};
    for (const auto& c : cases) {
        e->vm_pc = body_start;
        e->game_speed = c.speed;
        passes(1);
        EXPECT_EQ(e->vm_pc - body_start, c.steps) << "speed " << c.speed;
        EXPECT_EQ(s_slept, c.delay_ms) << "speed " << c.speed;
    }
}

TEST_F(MainLoopTest, PendingWaitCountsDownByTheRowWithoutStepping)
{
    enter_body(Code().text(std::string(100, 'A')));
    const struct {
        int32_t speed, wait, passes_to_zero;
    } cases[] = {{2, 5, 1}, {0, 5, 5}, {7, 9, 2}, {3, 49, 2}, {1, 8, 1}};
    for (const auto& c : cases) {
        e->game_speed = c.speed;
        e->wait_frames = c.wait;
        for (int i = 0; i < c.passes_to_zero; i++) {
            EXPECT_NE(e->wait_frames, 0) << "speed " << c.speed << " pass " << i;
            passes(1);
            EXPECT_EQ(e->vm_pc, body_start) << "speed " << c.speed;
        }
        EXPECT_EQ(e->wait_frames, 0) << "speed " << c.speed;
    }
}

TEST_F(MainLoopTest, StepThatSetsAWaitEndsTheBatch)
{
    enter_body(Code().text("\x82\xA0" "CDEFGH"));
    h.var(VAR_TEXT_SPEED) = 5;
    e->game_speed = 0;
    passes(1);
    EXPECT_EQ(e->vm_pc, body_start + 2);
    EXPECT_EQ(e->wait_frames, 5);
}

TEST_F(MainLoopTest, PauseLetsTheWaitRunDownAndBlockingFreezesIt)
{
    enter_body(Code().text(std::string(100, 'A')));
    e->game_speed = 0;
    e->wait_frames = 2;
    g_paused = 1;
    passes(3);
    EXPECT_EQ(e->wait_frames, 0);
    EXPECT_EQ(e->vm_pc, body_start);
    g_step_once = 1;
    passes(1);
    EXPECT_EQ(e->vm_pc, body_start + 100);

    e->vm_pc = body_start;
    e->vm_blocked = 1;
    e->wait_frames = 5;
    passes(1);
    EXPECT_EQ(e->wait_frames, 5);
    EXPECT_EQ(e->vm_pc, body_start);
}

TEST_F(MainLoopTest, TopLevelChainBecomesTheRestartSegment)
{
    scenario.segment(0, Code().cmd("/1")).segment(1, Code().cmd("=5,7")).segment(2, Code());
    h.install(scenario);
    passes(1);
    EXPECT_EQ(e->vm_segment, 1u);
    EXPECT_EQ(e->vm_restart_segment, 1);
    EXPECT_EQ(h.var(5), 7);
    EXPECT_EQ(e->vm_depth + e->vm_leave, 0);
    EXPECT_EQ(e->vm_next_segment, VM_NEXT_NONE);
}

TEST_F(MainLoopTest, ChainFromACalledSegmentKeepsTheRestartSegment)
{
    // Segment 1 waits for a key inside the call, so the main loop carries
    // its chain out with the call's frame still on the stack.
    scenario.segment(0, Code().cmd("}1"))
        .segment(1, Code().cmd("$").cmd("/2"))
        .segment(2, Code().cmd("=6,9"));
    h.install(scenario);
    passes(1);
    ASSERT_EQ(e->vm_blocked, 1);
    e->vm_blocked = 0;
    passes(1);
    EXPECT_EQ(e->vm_segment, 2u);
    EXPECT_EQ(e->vm_restart_segment, -1);
    EXPECT_EQ(h.var(6), 9);
    EXPECT_EQ(e->vm_depth, 0);
}

TEST_F(MainLoopTest, ChainBeyondTheSegmentTableStaysRequested)
{
    scenario.segment(0, Code().cmd("/600").text("AB"));
    h.install(scenario);
    passes(1);
    EXPECT_EQ(e->vm_segment, 0u);
    EXPECT_EQ(e->vm_leave, 1);
    EXPECT_EQ(e->vm_next_segment, 600u);
    EXPECT_EQ(e->vm_restart_segment, -1);
}

TEST_F(MainLoopTest, SegmentEndingAtTheEndOfTheCodeStartsAgainNextPass)
{
    scenario.segment(0, Code().cmd("/1")).segment(1, Code().cmd("+5,1"));
    h.install(scenario);
    e->game_speed = 0;
    passes(1);
    ASSERT_EQ(e->vm_pc, e->code_size);
    const int32_t runs = h.var(5);
    passes(1);
    EXPECT_GT(h.var(5), runs);
}

TEST_F(MainLoopTest, PassThatSeesTheQuitStillAdvancesTheScenario)
{
    enter_body(Code().text(std::string(100, 'A')));
    e->game_speed = 0;
    push_plain(SDL_QUIT);
    app_run_main_loop(e);
    EXPECT_EQ(g_running, 0);
    EXPECT_EQ(e->vm_pc, body_start + 100);
}

TEST_F(MainLoopTest, ThrottledPumpWaitsUnlessTheSegmentChangedAndNeverWhilePaused)
{
    ScratchDir scratch;
    scratch.enter();
    e->window = SDL_RenderGetWindow(test_renderer());
    e->game_speed = 0;
    // Each pump is offered a Tab; the speed counts the pumps that handled events.
    const struct {
        uint32_t now, segment;
        uint8_t paused;
        int32_t speed;
    } pumps[] = {
        {1000, 401, 0, 1},  // a segment no earlier pump saw
        {1015, 401, 0, 1},  // within 16 ms of the last pump
        {1016, 401, 0, 2},
        {1017, 402, 0, 3},  // the segment changed
        {2000, 403, 1, 3},
    };
    for (const auto& p : pumps) {
        s_now = p.now;
        e->vm_segment = p.segment;
        g_paused = p.paused;
        push_key(e->window, SDLK_TAB);
        app_pump_events_throttled(e);
        drain_events();
        EXPECT_EQ(e->game_speed, p.speed) << "at " << p.now;
    }
    e->window = nullptr;
}

TEST_F(MainLoopTest, FrameShowsTheHistoryOverTheCurrentTextWindowOnlyAndTheKeyPrompt)
{
    SDL_Renderer* renderer = e->renderer = test_renderer();
    SDL_Texture* line = make_filled_target(48, 16, 0xFFFFFFFF);
    hist_push(&e->history, renderer, line, 0, 0, 48, 16, 0);
    SDL_DestroyTexture(line);
    e->history.scroll = 1;
    TextWindow& window = e->text_windows[2];
    window.x = window.y = 8;
    window.w = window.h = 48;
    e->text_windows[0].w = e->text_windows[0].h = 64;  // the whole screen, but not current
    const struct {
        int32_t current;
        uint8_t active, open;
    } cases[] = {{2, 1, 1}, {2, 0, 1}, {300, 1, 1}, {2, 1, 0}};  // only the first shows the history
    for (const auto& c : cases) {
        e->vm_vars[VAR_CUR_WINDOW] = c.current;
        window.active = c.active;
        e->history.open = c.open;
        passes(1);
        EXPECT_EQ(window_pixel(renderer, 8, 30) != opaque(0), &c == cases) << c.current << int{c.active} << int{c.open};
        EXPECT_EQ(window_pixel(renderer, 4, 30), opaque(0));
    }
    // A key wait puts "Press any key" over the frame, here at the top left;
    // a pending screenshot is written with the frame, once.
    ScratchDir scratch;
    scratch.enter();
    ASSERT_TRUE(load_white_font(scratch, 0));
    e->vm_blocked = e->menu_layout_set = 1;
    e->menu_layout[5] = 7;  // white
    snprintf(g_screenshot_path, SCREENSHOT_PATH_CAPACITY, "%s", scratch.file("shot.png").c_str());
    passes(1);
    EXPECT_NE(window_pixel(renderer, 2, 2), opaque(0));
    EXPECT_EQ(g_screenshot_path[0], '\0');
    EXPECT_EQ(read_text_file(scratch.file("shot.png")).substr(1, 3), "PNG");
    e->renderer = nullptr;
    hist_clear(&e->history);
}

using MainLoopDeathTest = MainLoopTest;

TEST_F(MainLoopDeathTest, QuitInsideAnInstructionEndsWithStatusZeroAfterSavingThePlacement)
{
    ScratchDir scratch;
    scratch.enter();
    cfg_load(CONFIG_FILE_NAME);
    e->window = SDL_RenderGetWindow(test_renderer());
    int w = 0, h_ = 0;
    SDL_GetWindowSize(e->window, &w, &h_);
    const std::string saved_w = "window_w=" + std::to_string(w);

    push_plain(SDL_QUIT);
    EXPECT_EXIT(app_pump_events_exit_on_quit(e), ::testing::ExitedWithCode(0), "");
    EXPECT_NE(read_text_file(scratch.file(CONFIG_FILE_NAME)).find(saved_w), std::string::npos);
    drain_events();

    remove(scratch.file(CONFIG_FILE_NAME).c_str());
    e->vm_segment = 404;
    push_window_event(e->window, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EXIT(app_pump_events_throttled(e), ::testing::ExitedWithCode(0), "");
    EXPECT_NE(read_text_file(scratch.file(CONFIG_FILE_NAME)).find(saved_w), std::string::npos);
    e->window = nullptr;
}

// The shutdown frees the window, the renderer and SDL itself, so it runs in a
// child process with a window of its own.
static void shut_down_with_window(uint8_t hd_mode)
{
    auto* engine = static_cast<Engine*>(calloc(1, sizeof(Engine)));
    engine_init(engine, hd_mode);
    engine->window = SDL_CreateWindow("shutdown", 30, 40, 700, 437, SDL_WINDOW_HIDDEN);
    engine->renderer = SDL_CreateRenderer(engine->window, -1, SDL_RENDERER_SOFTWARE);
    exit(app_shutdown(engine) == 0 && engine->window == nullptr ? 0 : 3);
}

TEST_F(MainLoopDeathTest, ShutdownSavesThePlacementUnlessAModeSwitchIsPending)
{
    ScratchDir scratch;
    scratch.enter();
    cfg_load(CONFIG_FILE_NAME);
    g_config.use_hd_graphics = 1;
    EXPECT_EXIT(shut_down_with_window(0), ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(file_exists(scratch.file(CONFIG_FILE_NAME)));

    g_config.use_hd_graphics = 0;
    EXPECT_EXIT(shut_down_with_window(0), ::testing::ExitedWithCode(0), "");
    const std::string config = read_text_file(scratch.file(CONFIG_FILE_NAME));
    EXPECT_NE(config.find("window_w=700"), std::string::npos) << config;
    EXPECT_NE(config.find("window_h=437"), std::string::npos) << config;
}
