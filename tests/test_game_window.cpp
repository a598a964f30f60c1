// The real game in a real window on a private X server, played with keys
// sent by xdotool: the start prompt, a picture and text in a window, a key
// wait, a choice, screenshots taken with F12, and the quit.
#include <gtest/gtest.h>

#include "test_support.h"
#include "window_game.h"
#include "x_session.h"

#include <stb_image.h>

#include <chrono>
#include <filesystem>
#include <thread>

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

static void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    uint32_t rgb(int x, int y) const
    {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
};

// Presses F12 and waits for the screenshot it writes beside the executable.
static Picture take_screenshot(const XSession& x, const ScratchDir& dir, int already_taken)
{
    x.xdotool("key F12");
    Picture picture;
    for (int tries = 0; tries < 100; tries++) {
        std::vector<fs::path> shots;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind("screenshot_", 0) == 0)
                shots.push_back(entry.path());
        if (static_cast<int>(shots.size()) > already_taken) {
            std::sort(shots.begin(), shots.end(), [](const fs::path& a, const fs::path& b) {
                return fs::last_write_time(a) < fs::last_write_time(b);
            });
            pause_ms(200);  // let the writer finish the file
            int channels = 0;
            uint8_t* pixels = stbi_load(shots.back().c_str(), &picture.w, &picture.h, &channels, 4);
            if (pixels) {
                picture.rgba.assign(pixels, pixels + static_cast<size_t>(picture.w) * picture.h * 4);
                stbi_image_free(pixels);
                return picture;
            }
        }
        pause_ms(50);
    }
    return picture;
}

// Share of a row's pixels that are the given colour.
static double share_of(const Picture& picture, int y, uint32_t rgb)
{
    int hits = 0;
    for (int x = 0; x < picture.w; x++)
        hits += picture.rgb(x, y) == rgb;
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
    ASSERT_TRUE(game.wait_for_window(40)) << "the game: " << game.state();
    // No window manager: keys go to the window under the pointer, kept away
    // from the top edge, where the menu bar would open.
    x.xdotool("search --name \"Kavrel Engine\" mousemove --window %1 600 200");
    pause_ms(2500);              // the splash fades in for a second
    x.xdotool("key space");
    pause_ms(1200);

    const Picture waiting = take_screenshot(x, dir, 0);
    ASSERT_EQ(waiting.w, 640);
    ASSERT_EQ(waiting.h, 400);
    EXPECT_EQ(waiting.rgb(320, 100), PICTURE_RGB);
    // "HELLO THERE" in window 1: solid white cells on row 20 (y 320..335).
    EXPECT_GT(share_of(waiting, 328, 0xFFFFFF), 0.1);
    // "Press any key" in red at the layout's cell (column 10, line 10).
    EXPECT_EQ(waiting.rgb(10 * 8 + 4, 10 * 16 + 8), 0xFF0000u);

    // Any key ends a key wait, F12 included: the choice menu is open now.
    pause_ms(1000);
    const Picture choosing = take_screenshot(x, dir, 1);
    ASSERT_EQ(choosing.w, 640);
    // The choices stand in a column at the layout's cell (column 10, line 10),
    // the first highlighted in the layout's red, the second in its white.
    EXPECT_EQ(choosing.rgb(10 * 8 + 4, 10 * 16 + 8), 0xFF0000u);
    EXPECT_EQ(choosing.rgb(10 * 8 + 4, 11 * 16 + 8), 0xFFFFFFu);

    x.xdotool("key Down");
    pause_ms(300);
    x.xdotool("key Return");
    pause_ms(1000);
    const Picture right_branch = take_screenshot(x, dir, 2);
    ASSERT_EQ(right_branch.w, 640);
    EXPECT_EQ(right_branch.rgb(100, 100), 0x000000u);
    EXPECT_EQ(right_branch.rgb(500, 100), PICTURE_RGB);

    EXPECT_EQ(game.quit(10), 0);

    const std::string config = read_text_file(dir.file("config.ini"));
    EXPECT_NE(config.find("window_w=640\nwindow_h=400\n"), std::string::npos) << config;
}
