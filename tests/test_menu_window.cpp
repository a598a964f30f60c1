// The menu bar in the real game's window on a private X server, read back
// from the server's own pixels: it is drawn whenever it is open, while text
// prints inside an instruction and while the game is paused; then a save, a
// load, the scanlines and the about panel, all reached through the menus.
#include <gtest/gtest.h>

#include "test_support.h"
#include "window_game.h"
#include "x_pixels.h"
#include "x_session.h"

#include <stb_image.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

constexpr uint32_t PICTURE_RGB = 0xC82828;  // the scene's picture: a plain red screen
constexpr uint32_t PROMPT_RGB = 0xFF0000;   // "Press any key" in the layout's red
constexpr int PROMPT_X = 84, PROMPT_Y = 184;

struct Probe {
    int x, y;
    uint32_t rgb;
};
using Probes = std::vector<Probe>;

// The window is 640x400, one pixel per screen unit. The font is white ink in
// every cell, so each character is a solid block of its colour.
const Probes BAR_SHOWN = {{2, 10, 0xF0F0F0}, {300, 8, 0xF0F0F0}, {300, 19, 0xA0A0A0}, {20, 10, 0x000000}};
const Probes BAR_GONE = {{300, 8, PICTURE_RGB}, {300, 19, PICTURE_RGB}, {20, 10, PICTURE_RGB}};
// File opened by F10: its title lit, the box x 4-184 y 20-138 with its first
// item lit, a separator line, the next item on the face with black text.
const Probes FILE_OPEN = {{6, 10, 0x0078D7},   {20, 10, 0xFFFFFF},  {4, 80, 0xA0A0A0},
                          {183, 80, 0xA0A0A0}, {100, 137, 0xA0A0A0}, {185, 80, PICTURE_RGB},
                          {130, 30, 0x0078D7}, {30, 30, 0xFFFFFF},  {150, 44, 0xC8C8C8},
                          {150, 56, 0xF0F0F0}, {30, 56, 0x000000}};
const Probes SLOT_SCREEN = {{108, 8, 0x00FFFF}};  // its title, at the list's left
// The about panel: caption, frame, the white and grey bands of its body with
// the line between them, the OK button's border and face.
const Probes ABOUT_OPEN = {{300, 26, 0x0078D7}, {104, 200, 0x707070}, {480, 200, 0xFFFFFF},
                           {300, 252, 0xD6D6D6}, {520, 300, 0xF2F2F2}, {435, 356, 0x0078D7},
                           {445, 350, 0xE1E1E1}};
const Probes ABOUT_GONE = {{300, 26, PICTURE_RGB}, {480, 200, PICTURE_RGB}, {520, 300, PICTURE_RGB}};
const Probes AT_SAVED_WAIT = {{320, 100, PICTURE_RGB}, {PROMPT_X, PROMPT_Y, PROMPT_RGB}};
const Probes AT_CLEARED_WAIT = {{320, 100, 0x000000}, {PROMPT_X, PROMPT_Y, PROMPT_RGB}};

constexpr auto POLL = std::chrono::milliseconds(50);

// Reads the window until it shows every probe; what it still missed, as
// "(x,y) got/wanted", when seconds have passed.
static std::string shows(const XSession& x, const Probes& probes, int seconds = 20)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const WindowPixels window = x_read_window(x.display(), "Kavrel Engine");
        std::string missed;
        for (const Probe& p : probes) {
            const uint32_t got = p.x < window.w && p.y < window.h ? window.at(p.x, p.y) : 0xFFFFFFFF;
            char line[48];
            snprintf(line, sizeof line, " (%d,%d) %06X/%06X", p.x, p.y, got, p.rgb);
            missed += got == p.rgb ? "" : line;
        }
        if (missed.empty() || std::chrono::steady_clock::now() > deadline)
            return missed;
        std::this_thread::sleep_for(POLL);
    }
}

static void pointer(const XSession& x, int px, int py)
{
    x.xdotool("search --name \"Kavrel Engine\" mousemove --window %1 " + std::to_string(px) + " " +
              std::to_string(py));
}

// Opens the bar by F10 and by the pointer at the top edge, closes it again,
// and checks the window each time, with no "Press any key" yet: the line is
// still printing (or paused) inside its instruction. A bar that shows only
// once the line has ended fails on the prompt.
static void open_and_close_the_bar(const XSession& x, GameProcess& game, const char* when)
{
    const auto printing = [](Probes probes) {
        probes.push_back({PROMPT_X, PROMPT_Y, PICTURE_RGB});
        return probes;
    };
    x.xdotool("key F10");
    ASSERT_EQ(shows(x, printing(FILE_OPEN)), "") << "F10 " << when << "; the game: " << game.state();
    x.xdotool("key Escape");
    ASSERT_EQ(shows(x, printing(BAR_GONE)), "") << "Esc " << when;
    pointer(x, 300, 1);
    ASSERT_EQ(shows(x, printing(BAR_SHOWN)), "") << "the top edge " << when;
    pointer(x, 600, 200);
    ASSERT_EQ(shows(x, printing(BAR_GONE)), "") << "the pointer leaving the bar " << when;
}

// The screenshot the game writes beside its executable, once it is whole.
static WindowPixels wait_for_screenshot(const std::string& folder)
{
    for (int tries = 0; tries < 400; tries++, std::this_thread::sleep_for(POLL))
        for (const auto& entry : fs::directory_iterator(folder)) {
            WindowPixels shot;
            int channels = 0;
            uint8_t* rgb = entry.path().filename().string().rfind("screenshot_", 0) == 0
                               ? stbi_load(entry.path().c_str(), &shot.w, &shot.h, &channels, 3)
                               : nullptr;
            for (int i = 0; rgb && i < shot.w * shot.h; i++)
                shot.rgb.push_back(static_cast<uint32_t>(rgb[i * 3]) << 16 | rgb[i * 3 + 1] << 8 |
                                   rgb[i * 3 + 2]);
            stbi_image_free(rgb);
            if (rgb)
                return shot;
        }
    return {};
}

TEST(MenuWindowTest, MenusAreDrawnWhilePrintingAndPausedAndSaveLoadScanlinesAndAboutWork)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    ScratchDir dir;
    // Window 1 and the red picture, then a long line printed slowly inside a
    // block (the interpreter's own frames), a key wait, a cleared canvas and
    // a second key wait.
    ScenarioBuilder scenario;
    scenario.segment(0, Code()
                            .cmd("O1,2,20,77,24 A1 \"0 M10,10,0,2,0,2,7 =727,30")
                            .block(Code().text(std::string(30, 'A')))
                            .cmd("$ C $"));
    put_window_game(dir, scenario, PICTURE_RGB);
    GameProcess game(x, dir.path());
    ASSERT_TRUE(game.start(40)) << "the game: " << game.state();
    ASSERT_EQ(shows(x, {{320, 100, PICTURE_RGB}}), "") << "the game: " << game.state();

    ASSERT_NO_FATAL_FAILURE(open_and_close_the_bar(x, game, "while printing"));
    x.xdotool("key F5");
    ASSERT_NO_FATAL_FAILURE(open_and_close_the_bar(x, game, "while paused"));
    x.xdotool("key F5");

    ASSERT_EQ(shows(x, AT_SAVED_WAIT), "") << "the game: " << game.state();
    x.xdotool("key F10 Down Down Return");  // File > Save Game
    ASSERT_EQ(shows(x, SLOT_SCREEN), "");
    x.xdotool("key Return");  // the first slot
    ASSERT_EQ(shows(x, AT_SAVED_WAIT), "");
    EXPECT_TRUE(fs::exists(dir.file("sav/save_01.dat")));
    x.xdotool("key space");
    ASSERT_EQ(shows(x, AT_CLEARED_WAIT), "");
    x.xdotool("key F10 Down Down Down Return");  // File > Load Game
    ASSERT_EQ(shows(x, SLOT_SCREEN), "");
    x.xdotool("key Return");  // the saved slot
    ASSERT_EQ(shows(x, AT_SAVED_WAIT), "") << "the load did not bring the first wait back";

    // Paused, so F12 leaves the key wait alone. A menu command runs after the
    // events that came with its key, so F12 waits until it has run.
    x.xdotool("key F5 F10 Right Down Down Return");  // View > Scanlines
    for (int tries = 0; tries < 400; tries++, std::this_thread::sleep_for(POLL))
        if (read_text_file(dir.file("config.ini")).find("use_scanlines=1") != std::string::npos)
            break;
    x.xdotool("key F12");
    const WindowPixels shot = wait_for_screenshot(dir.path());
    ASSERT_EQ(shot.w, 640);
    EXPECT_EQ(shot.at(320, 100), PICTURE_RGB);
    EXPECT_LT(shot.at(320, 101) >> 16, PICTURE_RGB >> 16) << "no scanline";

    x.xdotool("key F10 Left Return");  // Help > About
    EXPECT_EQ(shows(x, ABOUT_OPEN), "");
    x.xdotool("key Escape");
    EXPECT_EQ(shows(x, ABOUT_GONE), "");
    EXPECT_EQ(game.quit(10), 0);
}
