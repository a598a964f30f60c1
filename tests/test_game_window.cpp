// The real game in a real window on a private X server, played with keys
// sent by xdotool: the start prompt, a picture and text in a window, a key
// wait, a choice, screenshots taken with F12, and the quit.
#include <gtest/gtest.h>

#include "test_support.h"
#include "window_game.h"
#include "x_session.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

constexpr uint32_t PICTURE_RGB = 0xC82828;  // the scene's picture: a plain red screen

// Window 1 over the bottom rows, the red picture, a line of text, a key
// wait with its prompt, then a two-way choice. The left branch clears the
// whole canvas, the right branch only its left half; both wait for a key.
static ScenarioBuilder scene()
{
    ScenarioBuilder scenario;
    scenario.string(1, "LEFT").string(2, "RIGHT");
    scenario.segment(0, Code()
                            .cmd("O1,2,20,77,24 A1 \"0 M10,10,0,2,0,2,7")
                            .text("HELLO THERE")
                            .cmd("$ !1,2 !")
                            .text("[?1").block(Code().cmd("C $"))
                            .text("?2").block(Code().cmd(";0,0,0,40,200 $"))
                            .text("]"));
    return scenario;
}

// The scene's picture fills the largest 16:10 rectangle of the window,
// centred, with black beside or above it (a pixel's leeway for rounding).
static bool picture_letterboxed(const WindowPixels& w)
{
    const int pw = std::min(w.w, w.h * 8 / 5), ph = std::min(w.h, w.w * 5 / 8), x = (w.w - pw) / 2, y = (w.h - ph) / 2;
    return w.at(x + 1, y + ph / 4) == PICTURE_RGB && w.at(x + pw - 2, y + ph / 4) == PICTURE_RGB &&
           w.at(x + pw / 2, y + 1) == PICTURE_RGB && (y < 2 || w.at(x + pw / 2, y - 2) == 0) &&
           (x < 2 || (w.at(x - 2, y + ph / 4) == 0 && w.at(x + pw + 1, y + ph / 4) == 0));
}

// Past the start prompt to the scene's picture in its first frame, once
// start-up has asked for its last window size: a resize or maximise from
// then on is the player's.
static bool start_scene(GameProcess& game)
{
    return game.start(60) && game.wait_for_screen(30, picture_letterboxed);
}

static void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Presses F12 and waits for the screenshot it writes beside the executable.
// Screenshots are named by the second: after one, a second is let pass, so
// the next does not take its name.
static WindowPixels take_screenshot(const XSession& x, const ScratchDir& dir, int already_taken)
{
    if (already_taken > 0)
        pause_ms(1000);
    x.xdotool("key F12");
    for (int tries = 0; tries < 200; tries++) {
        std::vector<fs::path> shots;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind("screenshot_", 0) == 0)
                shots.push_back(entry.path());
        // A file still being written does not decode yet.
        if (static_cast<int>(shots.size()) > already_taken) {
            const WindowPixels picture = load_png_pixels(std::max_element(shots.begin(), shots.end())->string());
            if (picture.w > 0)
                return picture;
        }
        pause_ms(50);
    }
    return WindowPixels{};
}

// Share of a row's pixels that are the given colour.
static double share_of(const WindowPixels& picture, int y, uint32_t rgb)
{
    int hits = 0;
    for (int x = 0; x < picture.w; x++)
        hits += picture.at(x, y) == rgb;
    return static_cast<double>(hits) / picture.w;
}

TEST(GameWindowTest, PlaysFromTheStartPromptThroughAChoiceAndQuits)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    ScratchDir dir;
    put_window_game(dir, scene(), PICTURE_RGB);
    GameProcess game(x, dir.path());
    ASSERT_TRUE(game.start(60)) << "the game: " << game.state();

    // The scene waits for a key: its picture, "HELLO THERE" in window 1 as
    // solid white cells on row 20 (y 320..335), and "Press any key" in the
    // layout's red a row below its cell (column 10, line 10).
    ASSERT_TRUE(game.wait_for_screen(30, [](const WindowPixels& window) {
        return window.at(320, 100) == PICTURE_RGB && share_of(window, 328, 0xFFFFFF) > 0.1 &&
               window.at(10 * 8 + 4, 11 * 16 + 8) == 0xFF0000u;
    })) << "the game: " << game.state();

    // Any key ends a key wait, F12 included, and the screenshot holds the
    // frame after it: the choices stand in a column at the layout's cell, the
    // first highlighted in the layout's red, the second in its white.
    const WindowPixels choosing = take_screenshot(x, dir, 0);
    ASSERT_EQ(choosing.w, 640);
    ASSERT_EQ(choosing.h, 400);
    EXPECT_EQ(choosing.at(320, 100), PICTURE_RGB);
    EXPECT_GT(share_of(choosing, 328, 0xFFFFFF), 0.1);
    EXPECT_EQ(choosing.at(10 * 8 + 4, 10 * 16 + 8), 0xFF0000u);
    EXPECT_EQ(choosing.at(10 * 8 + 4, 11 * 16 + 8), 0xFFFFFFu);

    // The right branch clears the left half of the picture.
    x.xdotool("key Down");
    x.xdotool("key Return");
    ASSERT_TRUE(game.wait_for_screen(30, [](const WindowPixels& window) {
        return window.at(100, 100) == 0x000000u;
    })) << "the game: " << game.state();
    const WindowPixels right_branch = take_screenshot(x, dir, 1);
    ASSERT_EQ(right_branch.w, 640);
    EXPECT_EQ(right_branch.at(100, 100), 0x000000u);
    EXPECT_EQ(right_branch.at(500, 100), PICTURE_RGB);

    EXPECT_EQ(game.quit(10), 0) << game.state();

    const std::string config = read_text_file(dir.file("config.ini"));
    EXPECT_NE(config.find("window_w=640\nwindow_h=400\n"), std::string::npos) << config;
}

class GameWindowManagerTest : public ::testing::TestWithParam<XDesktop> {};

// Under a window manager that keeps a maximised window (or a tiled one) at the
// size it chose, the whole picture is letterboxed in that window and the bar
// still opens at its top edge. Leaving fullscreen gives the size before back.
// What is saved on exit is the window's normal rectangle, the one it was moved
// and dragged to, and its client area reopens there session after session,
// whether the manager puts the frame or the client area where it is asked to.
// A window tiled from the start saves the rectangle it opened at. The minimum
// size holds once the renderer is made.
TEST_P(GameWindowManagerTest, MaximisedWindowShowsTheWholePictureAndReopensWhereItWas)
{
    XSession x(GetParam(), X_DESKTOP_WIDTH, X_DESKTOP_HEIGHT);
    if (!x.available())
        GTEST_SKIP() << "Xvfb, xdotool, wmctrl and the window manager are needed";
    ScratchDir dir;
    put_window_game(dir, scene(), PICTURE_RGB);
    const bool herbst = GetParam() == X_HERBSTLUFTWM;
    const std::string held = herbst ? "fullscreen" : "maximized_vert,maximized_horz";
    const std::string maximise = "-r \"Kavrel Engine\" -b add," + held;
    const auto saved_as = [](int x, int y, int w, int h) {
        return "\nwindow_x=" + std::to_string(x) + "\nwindow_y=" + std::to_string(y) +
               "\nwindow_w=" + std::to_string(w) + "\nwindow_h=" + std::to_string(h) + "\n";
    };
    const auto filled = [](const WindowPixels& window) { return window.w > X_DESKTOP_WIDTH - 20; };
    WindowPixels normal;
    // The focus last set by another program: xfwm4's own request for the new window then
    // carries an older time, which the server ignores, and it only offers the focus.
    if (GetParam() == X_XFWM4)
        x.xdotool("getwindowfocus windowfocus --sync");
    {
        GameProcess game(x, dir.path());
        ASSERT_TRUE(start_scene(game)) << "the game: " << game.state();
        const WindowPixels first = x_read_window(x.display(), "Kavrel Engine");
        EXPECT_EQ(std::make_pair(first.min_w, first.min_h), std::make_pair(640, 400)) << "the minimum size";
        ASSERT_TRUE(x.wmctrl(maximise) && game.wait_for_screen(30, filled)) << "the game: " << game.state();

        // F12 ends the key wait; the window then goes on showing the frame
        // the screenshot holds, in the middle, with black bands beside it.
        const WindowPixels shot = take_screenshot(x, dir, 0);
        ASSERT_GT(shot.w, 0);
        EXPECT_NEAR(shot.w * 5.0 / 8, shot.h, 1.0);
        EXPECT_EQ(shot.at(shot.w / 2, 0), PICTURE_RGB);
        EXPECT_GT(share_of(shot, shot.h * 328 / 400, 0xFFFFFF), 0.1);
        std::string mismatch = "never read";
        EXPECT_TRUE(game.wait_for_screen(10, [&](const WindowPixels& window) {
            const int left = (window.w - shot.w) / 2;
            mismatch = "window " + std::to_string(window.w) + "x" + std::to_string(window.h);
            if (window.h != shot.h || left <= 0 || window.at(left - 1, window.h / 2) != 0 ||
                window.at(left + shot.w, window.h / 2) != 0)
                return false;
            for (int y = 0; y < shot.h; y++)
                for (int px = 0; px < shot.w; px++)
                    if (window.at(left + px, y) != shot.at(px, y))
                        return false;
            return true;
        })) << mismatch;

        x.xdotool("search --name \"Kavrel Engine\" mousemove --window %1 960 0");
        EXPECT_TRUE(game.wait_for_screen(10, [](const WindowPixels& window) {
            return share_of(window, window.h * 8 / 400, 0xF0F0F0) > 0.5;
        })) << "the menu bar did not open at the top edge";
        // A tiling manager keeps the window at its tile, and is not asked again for the size it refused.
        if (GetParam() == X_I3) {
            EXPECT_EQ(x_count_made_up_configures(x.display(), "Kavrel Engine", [&] { take_screenshot(x, dir, 1); }), 0);
            EXPECT_EQ(game.quit(10), 0) << game.state();
            // Tiled from the start, it saves the rectangle it opened at: centred below the title reserve.
            const std::string config = read_text_file(dir.file("config.ini"));
            EXPECT_NE(config.find(saved_as(640, 368, 640, 400)), std::string::npos) << config;
            return;
        }

        const auto restored = [](const WindowPixels& window) {
            return window.w == 640 && window.h == 400 && share_of(window, 328, 0xFFFFFF) > 0.1;
        };
        EXPECT_TRUE(x.wmctrl("-r \"Kavrel Engine\" -b remove," + held) &&
                    game.wait_for_screen(30, restored)) << "the game: " << game.state();
        ASSERT_TRUE(x.wmctrl("-r \"Kavrel Engine\" -b add,fullscreen") && game.wait_for_screen(30, filled));
        EXPECT_TRUE(x.wmctrl("-r \"Kavrel Engine\" -b remove,fullscreen") && game.wait_for_screen(30, restored))
            << "fullscreen was left at another size: " << game.state();
        // Moved, then the frame's right edge dragged 160 pixels right, step
        // by step as a hand would, and let go once the game shows the dragged
        // size: the window ends 16:10.
        x.xdotool("search --name \"Kavrel Engine\" windowmove --sync %1 300 200 mousemove --window %1 640 200");
        // herbstluftwm resizes a floating window only from a key and button chord; it is asked instead.
        x.xdotool(herbst ? "search --name \"Kavrel Engine\" windowsize %1 800 500" : "mousedown 1");
        for (int step = 1; step <= 4 && !herbst; step++)
            x.xdotool("mousemove_relative 40 0");
        const auto dragged = [](const WindowPixels& window) { return window.w == 800 && picture_letterboxed(window); };
        ASSERT_TRUE(game.wait_for_screen(30, dragged)) << game.state();
        x.xdotool("mouseup 1");
        EXPECT_TRUE(game.wait_for_screen(30, [&](const WindowPixels& window) {
            normal = window;
            return window.w == 800 && window.h == 500 && window.y > 150 && window.at(798, 100) == PICTURE_RGB;
        })) << game.state();
        // F12's screenshot shows the game has handled the resize before the window is maximised.
        ASSERT_GT(take_screenshot(x, dir, 1).w, 0);
        ASSERT_TRUE(x.wmctrl(maximise) && game.wait_for_screen(30, filled));
        EXPECT_EQ(game.quit(10), 0) << game.state();
    }

    const std::string saved = saved_as(normal.x, normal.y, 800, 500);
    for (int session = 1; session <= 3; session++) {
        const std::string config = read_text_file(dir.file("config.ini"));
        EXPECT_NE(config.find(saved), std::string::npos) << "before session " << session << ":\n" << config;
        GameProcess again(x, dir.path());
        ASSERT_TRUE(again.wait_for_window(60)) << "the game: " << again.state();
        EXPECT_TRUE(again.wait_for_screen(10, [&](const WindowPixels& window) {
            return window.x == normal.x && window.y == normal.y && window.w == 800 && window.h == 500;
        })) << "session " << session;
        // Maximised at the loading screen, it starts letterboxed and, quit so, keeps the rectangle from before.
        ASSERT_TRUE(session > 1 || (x.wmctrl(maximise) && again.wait_for_screen(30, filled))) << again.state();
        ASSERT_TRUE(start_scene(again)) << "session " << session << ": " << again.state();
        EXPECT_EQ(again.quit(10), 0) << again.state();
    }
}

// The same checks run on a bare server too, where no manager keeps windows on the screen.
class SmallScreenTest : public GameWindowManagerTest {};

// A rectangle saved on a large screen opens on a small one at 16:10, its
// client area and title bar inside the work area; a window widened past the
// screen's edge comes back the same way.
TEST_P(SmallScreenTest, LargeWindowsStayInsideTheWorkArea)
{
    XSession x(GetParam(), 1366, 768);
    if (!x.available())
        GTEST_SKIP() << "Xvfb, xdotool, wmctrl and the window manager are needed";
    const ScreenRect work = x_work_area(x.display());
    // A 16:10 client area that lies, with the title bar above it, inside the work area.
    const auto inside = [&](const WindowPixels& window) {
        return window.h == window.w * 5 / 8 && window.frame_y >= work.y && window.x >= work.x &&
               window.x + window.w <= work.x + work.w && window.y + window.h <= work.y + work.h;
    };
    ScratchDir dir;
    put_window_game(dir, scene(), PICTURE_RGB);
    write_text_file(dir.file("config.ini"), "window_x=1500\nwindow_y=800\nwindow_w=3000\nwindow_h=1875\n");
    GameProcess game(x, dir.path());
    EXPECT_TRUE(game.wait_for_screen(60, inside)) << "the saved rectangle: " << game.state();
    ASSERT_TRUE(start_scene(game)) << "the game: " << game.state();

    x.xdotool("search --name \"Kavrel Engine\" windowsize %1 640 400");
    ASSERT_TRUE(game.wait_for_screen(10, [](const WindowPixels& window) { return window.w == 640; })) << game.state();
    x.xdotool("search --name \"Kavrel Engine\" windowmove %1 700 350 windowsize %1 1300 400");
    EXPECT_TRUE(game.wait_for_screen(10, [&](const WindowPixels& window) { return window.w > 1000 && inside(window); }))
        << "the widened window: " << game.state();
    EXPECT_EQ(game.quit(10), 0) << game.state();
}

const auto desktop_name = [](const ::testing::TestParamInfo<XDesktop>& info) -> std::string {
    return x_desktop_name(info.param);
};
INSTANTIATE_TEST_SUITE_P(WindowManagers, GameWindowManagerTest,
                         ::testing::Values(X_OPENBOX, X_ICEWM, X_I3, X_XFWM4, X_HERBSTLUFTWM), desktop_name);
INSTANTIATE_TEST_SUITE_P(WindowManagers, SmallScreenTest, ::testing::Values(X_BARE, X_OPENBOX, X_ICEWM, X_XFWM4),
                         desktop_name);
