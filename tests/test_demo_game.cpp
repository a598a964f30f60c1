// The bundled demo, built by the tools, played in a real window on a private
// X server in both of its languages: past the start prompt, through the title
// and the first scene's picture and text, up to the choice menu.
#include <gtest/gtest.h>

#include "test_support.h"
#include "x_session.h"

#include <stb_image.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t CHOICE_HIGHLIGHT = 0xFFFF00;  // the layout's colour 6
// Window 1, where the story's text goes (columns 2-77, rows 19-23).
constexpr int TEXT_TOP = 19 * 16, TEXT_BOTTOM = 24 * 16, TEXT_LEFT = 2 * 8, TEXT_RIGHT = 78 * 8;
// Window 3, where the choices stand (columns 28-51, rows 9-11).
constexpr int CHOICE_TOP = 9 * 16, CHOICE_BOTTOM = 12 * 16, CHOICE_LEFT = 28 * 8, CHOICE_RIGHT = 52 * 8;
constexpr int MAX_ADVANCES = 40;

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    uint32_t rgb(int x, int y) const
    {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
    int count(uint32_t colour, int left, int top, int right, int bottom) const
    {
        int hits = 0;
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++)
                hits += rgb(x, y) == colour;
        return hits;
    }
};

static Picture load_png(const std::string& path)
{
    Picture picture;
    int channels = 0;
    uint8_t* pixels = stbi_load(path.c_str(), &picture.w, &picture.h, &channels, 4);
    if (pixels) {
        picture.rgba.assign(pixels, pixels + static_cast<size_t>(picture.w) * picture.h * 4);
        stbi_image_free(pixels);
    }
    return picture;
}

static void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

static int screenshots_in(const std::string& folder)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().filename().string().rfind("screenshot_", 0) == 0;
    return count;
}

// A screenshot of the scene as it stands, then on to the next one. F12 alone
// would answer the key wait before the frame it saves is drawn, so the game
// is paused around it (no key answers a wait while paused), and the key that
// lifts the pause answers the wait. Screenshots are named by the second, so
// one is taken per second at most.
static Picture screenshot_then_advance(const XSession& x, const ScratchDir& dir)
{
    const int before = screenshots_in(dir.path());
    pause_ms(1000);
    x.xdotool("key F5");
    pause_ms(100);
    x.xdotool("key F12");
    for (int tries = 0; tries < 100 && screenshots_in(dir.path()) == before; tries++)
        pause_ms(50);
    pause_ms(200);
    x.xdotool("key F5");
    fs::path newest;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("screenshot_", 0) == 0 &&
            (newest.empty() || entry.path().filename() > newest.filename()))
            newest = entry.path();
    return newest.empty() ? Picture{} : load_png(newest.string());
}

static bool shows_picture(const Picture& shot, const Picture& picture)
{
    // The sky band of every background lies above the text windows.
    for (int x = 0; x < 640; x += 37)
        if (shot.rgb(x, 8) != picture.rgb(x, 8))
            return false;
    return true;
}

static void play_to_the_choice(const std::string& script_lang)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    ScratchDir dir;
    for (const char* archive : {"base.dat", "hd.dat", "script.dat", "script_en.dat"})
        fs::copy_file(std::string(KAVREL_DEMO_DIR) + "/game/" + archive, dir.file(archive));
    write_text_file(dir.file("config.ini"), "script_lang=" + script_lang + "\n");
    const Picture title = load_png(std::string(KAVREL_DEMO_DIR) + "/stage/art/img/000.png");
    const Picture forest = load_png(std::string(KAVREL_DEMO_DIR) + "/stage/art/img/001.png");
    ASSERT_EQ(title.w, 640);
    ASSERT_EQ(forest.w, 640);

    GameProcess game(x, dir.path());
    ASSERT_TRUE(game.wait_for_window(40)) << "the game: " << game.state();
    // No window manager: keys go to the window under the pointer, kept away
    // from the top edge, where the menu bar would open.
    x.xdotool("search --name \"Kavrel Engine\" mousemove --window %1 600 200");
    pause_ms(2500);
    x.xdotool("key space");

    bool saw_title = false, saw_first_scene = false, reached_choice = false;
    for (int advance = 0; advance < MAX_ADVANCES && !reached_choice; advance++) {
        const Picture shot = screenshot_then_advance(x, dir);
        ASSERT_EQ(shot.w, 640) << "no screenshot after advance " << advance;
        saw_title = saw_title || shows_picture(shot, title);
        saw_first_scene = saw_first_scene ||
                          (shows_picture(shot, forest) &&
                           shot.count(WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_BOTTOM) >
                               forest.count(WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_BOTTOM) + 100);
        reached_choice = shot.count(CHOICE_HIGHLIGHT, CHOICE_LEFT, CHOICE_TOP, CHOICE_RIGHT, CHOICE_BOTTOM) > 20;
    }
    EXPECT_TRUE(saw_title);
    EXPECT_TRUE(saw_first_scene);
    EXPECT_TRUE(reached_choice);
    EXPECT_EQ(game.quit(10), 0);
}

TEST(DemoGameTest, JapaneseEditionPlaysToTheChoice)
{
    play_to_the_choice("");
}

TEST(DemoGameTest, EnglishEditionPlaysToTheChoice)
{
    play_to_the_choice("en");
}
