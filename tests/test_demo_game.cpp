// The bundled demo, built by the tools, played in a real window on a private
// X server in both of its languages: past the start prompt, through the title
// and the first scene's picture and text, up to the choice menu and its history,
// then Reset Game back to the title in its own colours, and down the first
// path to the ending and back to the title.
#include <gtest/gtest.h>

#include "test_support.h"
#include "x_session.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <vector>

namespace fs = std::filesystem;

constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t CHOICE_HIGHLIGHT = 0xFFFF00;  // the layout's colour 6
// Window 1, where the story's text goes (columns 2-77, rows 18-21).
constexpr int LINE_H = 16, TEXT_TOP = 18 * 16, TEXT_BOTTOM = 22 * 16, TEXT_LEFT = 2 * 8, TEXT_RIGHT = 78 * 8;
// The first row of window 3 (columns 6-29, rows 22-23), where the highlighted
// first choice stands: the second one keeps the screen's last row clear.
constexpr int CHOICE_TOP = 22 * 16, CHOICE_BOTTOM = 23 * 16, CHOICE_LEFT = 6 * 8, CHOICE_RIGHT = 30 * 8;
// The layout's "Press any key", in its colour 6, at column 66 of line 23.
constexpr int PROMPT_TOP = 23 * 16, PROMPT_BOTTOM = 24 * 16, PROMPT_LEFT = 66 * 8, PROMPT_RIGHT = 79 * 8;
constexpr int SCENE_SECONDS = 30, PROMPT_GONE_SECONDS = 5;

static bool shows_picture(const WindowPixels& shot, const WindowPixels& picture)
{
    // The sky band of every background lies above the text windows.
    for (int x = 0; x < 640; x += 37)
        if (shot.at(x, 8) != picture.at(x, 8))
            return false;
    return true;
}

static int count(const WindowPixels& shot, uint32_t colour, int left, int top, int right, int bottom)
{
    int hits = 0;
    for (int y = top; y < bottom; y++)
        for (int x = left; x < right; x++)
            hits += shot.at(x, y) == colour;
    return hits;
}

// Window 1's lines as strings of 0s and 1s, 1 for text (white or dusk blue).
static std::set<std::string> text_lines(const WindowPixels& shot)
{
    std::vector<std::string> lines((TEXT_BOTTOM - TEXT_TOP) / LINE_H);
    for (int y = TEXT_TOP; y < TEXT_BOTTOM; y++)
        for (int x = TEXT_LEFT; x < TEXT_RIGHT; x++)
            lines[(y - TEXT_TOP) / LINE_H] += (shot.at(x, y) >> 8 & 0xFF) >= 0xC0 ? '1' : '0';
    return {lines.begin(), lines.end()};
}

static void play_through(const std::string& script_lang)
{
    XSession x;
    if (!x.available())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    ScratchDir dir;
    for (const char* archive : {"base.dat", "hd.dat", "script.dat", "script_en.dat"})
        fs::copy_file(std::string(KAVREL_DEMO_DIR) + "/game/" + archive, dir.file(archive));
    write_text_file(dir.file("config.ini"), "script_lang=" + script_lang + "\n");
    const std::string art = std::string(KAVREL_DEMO_DIR) + "/stage/art/img/";
    const WindowPixels title = load_png_pixels(art + "000.png"), study = load_png_pixels(art + "007.png"),
                       night = load_png_pixels(art + "002.png");
    for (const WindowPixels* shown : {&title, &study, &night})
        ASSERT_EQ(shown->w, 640);

    GameProcess game(x, dir.path());
    ASSERT_TRUE(game.start(60)) << "the game: " << game.state();

    // Answers each wait for a key once its prompt is up, until reached holds;
    // "x" takes no choice, so a menu stays up once reached.
    auto prompt_shown = [](const WindowPixels& shot) {
        return count(shot, CHOICE_HIGHLIGHT, PROMPT_LEFT, PROMPT_TOP, PROMPT_RIGHT, PROMPT_BOTTOM) > 20;
    };
    auto play_until = [&](auto reached) {
        bool done = false;
        auto reached_or_prompt = [&](const WindowPixels& shot) { return (done = reached(shot)) || prompt_shown(shot); };
        while (game.wait_for_screen(SCENE_SECONDS, reached_or_prompt)) {
            if (done)
                return true;
            x.xdotool("key x");
            // A wait that follows at once keeps the prompt up; the timeout covers it.
            game.wait_for_screen(PROMPT_GONE_SECONDS, [&](const WindowPixels& shot) { return !prompt_shown(shot); });
        }
        return false;
    };
    auto at_choice = [](const WindowPixels& s) { return count(s, CHOICE_HIGHLIGHT, CHOICE_LEFT, CHOICE_TOP, CHOICE_RIGHT, CHOICE_BOTTOM) > 20; };
    bool saw_title = false, saw_first_scene = false;
    std::set<std::string> seen_lines, lines_at_choice;
    EXPECT_TRUE(play_until([&](const WindowPixels& shot) {
        saw_title = saw_title || shows_picture(shot, title);
        saw_first_scene = saw_first_scene ||
                          (shows_picture(shot, study) &&
                           count(shot, WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_BOTTOM) >
                               count(study, WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_BOTTOM) + 100);
        const bool reached_choice = at_choice(shot);
        if (reached_choice || prompt_shown(shot))
            (reached_choice ? lines_at_choice : seen_lines).merge(text_lines(shot));
        return reached_choice;
    })) << "no choice menu: " << game.state();
    EXPECT_TRUE(saw_title);
    EXPECT_TRUE(saw_first_scene);

    // Away from the choices, the wheel opens the history on a line that has scrolled out.
    x.xdotool("click 4");
    EXPECT_TRUE(game.wait_for_screen(PROMPT_GONE_SECONDS, [&](const WindowPixels& shot) {
        for (const std::string& line : text_lines(shot))
            if (line.find('1') != std::string::npos && seen_lines.count(line) && !lines_at_choice.count(line))
                return true;
        return false;
    })) << "no earlier line in the history";

    // Reset Game in the dimmed dusk brings back the title as it first looked.
    x.xdotool("key F10 Down Return");
    EXPECT_TRUE(game.wait_for_screen(SCENE_SECONDS, [&](const WindowPixels& shot) { return shows_picture(shot, title); }))
        << "no title in its own colours after Reset Game: " << game.state();
    EXPECT_TRUE(play_until(at_choice)) << "no choice menu after Reset Game: " << game.state();

    // The first path to the ending, whose first line stands on the band's top
    // row; after "The End" a key brings the title back.
    x.xdotool("key Return");
    WindowPixels ending;
    ASSERT_TRUE(play_until([&](const WindowPixels& shot) {
        ending = shot;
        return shows_picture(shot, night) && prompt_shown(shot);
    })) << "no ending: " << game.state();
    EXPECT_GT(count(ending, WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_TOP + LINE_H),
              count(night, WHITE, TEXT_LEFT, TEXT_TOP, TEXT_RIGHT, TEXT_TOP + LINE_H) + 100)
        << "the ending's first row stays empty";
    EXPECT_TRUE(play_until([&](const WindowPixels& shot) { return shows_picture(shot, title); }))
        << "no title after the end: " << game.state();
    EXPECT_EQ(game.quit(10), 0) << game.state();
}

TEST(DemoGameTest, JapaneseEditionPlaysThroughItsHistoryAndEndingBackToTheTitle)
{
    play_through("");
}

TEST(DemoGameTest, EnglishEditionPlaysThroughItsHistoryAndEndingBackToTheTitle)
{
    play_through("en");
}
