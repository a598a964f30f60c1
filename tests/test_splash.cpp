#include <gtest/gtest.h>

#include "archive.h"
#include "engine.h"
#include "kvr_writer.h"
#include "render_fixture.h"
#include "screen.h"
#include "stb_compress.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int SD_W = 640;
constexpr int SD_H = 400;
const uint32_t BLACK = opaque(0x000000);
const uint32_t BAR_TRACK = opaque(0x1E1E1E);
const uint32_t BAR_FILL = opaque(0x44CC44);

// A w x h PNG of one opaque colour (0xRRGGBB).
Bytes solid_png(int w, int h, uint32_t rgb)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < w * h; i++)
        rgba.insert(rgba.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 0xFF});
    int len = 0;
    uint8_t* png = stbi_write_png_to_mem(rgba.data(), w * 4, w, h, 4, &len);
    Bytes bytes(png, png + len);
    free(png);
    return bytes;
}

// An event of `type`; detail is its key, mouse button or window event.
SDL_Event make_event(uint32_t type, int32_t detail = 0, uint8_t repeat = 0)
{
    SDL_Event e = {};
    e.type = type;
    if (type == SDL_KEYDOWN || type == SDL_KEYUP) {
        e.key.keysym.sym = detail;
        e.key.repeat = repeat;
    } else if (type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP) {
        e.button.button = static_cast<uint8_t>(detail);
    } else if (type == SDL_WINDOWEVENT) {
        e.window.event = static_cast<uint8_t>(detail);
    }
    return e;
}

void push(SDL_Event e) { SDL_PushEvent(&e); }
void push(uint32_t type, int32_t detail = 0) { push(make_event(type, detail)); }

// An SD engine on the shared software renderer with a white font, drawing
// into a 640x400 target so every picture the screen presents can be read.
class SplashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch.enter();
        ASSERT_NE(test_renderer(), nullptr);
        ASSERT_TRUE(load_white_font(scratch, 0));
        engine = std::make_unique<Engine>();
        engine_init(engine.get(), 0);
        engine->renderer = test_renderer();
        target = make_render_target(SD_W, SD_H);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    void TearDown() override
    {
        arc_close(&g_arc_base);
        arc_close(&g_arc_hd);
    }

    // The last picture drawn; the target stays current for the next one.
    Pixels picture()
    {
        Pixels pixels = read_render_target(target);
        SDL_SetRenderTarget(test_renderer(), target);
        return pixels;
    }

    ScratchDir scratch;
    std::unique_ptr<Engine> engine;
    SDL_Texture* target = nullptr;
};

// A quit ends the process, so these run in a child of their own.
class SplashDeathTest : public SplashTest {};

TEST(SplashLayoutTest, GeometryMatchesBothModesWithTruncatedProducts)
{
    auto row = [](const SplashGeometry& g) {
        return std::vector<int32_t>{g.screen_w, g.char_h, g.line_pitch, g.half_h, g.version_x,
                                    g.version_y, g.lines_y, g.bar_x, g.bar_y, g.bar_w,
                                    g.prompt_x, g.prompt_y};
    };
    EXPECT_EQ(row(splash_geometry(0)),
              (std::vector<int32_t>{640, 16, 18, 200, 304, 211, 232, 128, 328, 384, 212, 360}));
    EXPECT_EQ(row(splash_geometry(1)),
              (std::vector<int32_t>{1280, 32, 36, 400, 608, 423, 464, 256, 656, 768, 424, 720}));
}

TEST(SplashLayoutTest, LogoIsCentredInTheTopHalfAndScaledUpOrDown)
{
    const std::vector<std::vector<int32_t>> cases = {
        // screen_w, half_h, image w, h -> x, y, w, h
        {640, 200, 640, 400, 160, 0, 320, 200},  {640, 200, 800, 300, 144, 34, 352, 132},
        {640, 200, 100, 50, 144, 12, 352, 176},  {1280, 400, 640, 400, 320, 0, 640, 400},
        {640, 200, 0, 10, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        const SplashRect r = splash_logo_rect(c[0], c[1], c[2], c[3]);
        EXPECT_EQ((std::vector<int32_t>{r.x, r.y, r.w, r.h}), std::vector<int32_t>(c.begin() + 4, c.end()))
            << c[2] << "x" << c[3] << " on " << c[0];
    }
}

TEST(SplashLayoutTest, FadeAndBarArithmetic)
{
    EXPECT_EQ(splash_fade_alpha(0), 0);
    EXPECT_EQ(splash_fade_alpha(500), 127);
    EXPECT_EQ(splash_fade_alpha(999), 254);
    EXPECT_EQ(splash_fade_alpha(1000), 255);
    EXPECT_EQ(splash_fade_alpha(4000000000u), 255);

    EXPECT_EQ(splash_bar_fill(0, 384, 4), 0);
    EXPECT_EQ(splash_bar_fill(3, 384, 4), 288);
    EXPECT_EQ(splash_bar_fill(3, 385, 4), 288);
    EXPECT_EQ(splash_bar_fill(4, 768, 4), 768);
    EXPECT_EQ(splash_bar_fill(8, 384, 4), 384);  // more lines than stages stay on the track
    EXPECT_EQ(splash_bar_fill(1, 384, 0), 384);
}

TEST_F(SplashTest, StagesShowCentredLinesTurningGreenAndFillTheBar)
{
    static int pumped = 0;
    engine->splash_pump_cb = [](Engine*) { pumped++; };
    splash_activate(nullptr, 0, 0, 0);

    splash_status(engine.get(), "Initializing engine");
    Pixels first = picture();
    EXPECT_EQ(pixel_at(first, SD_W, 244, 232), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(first, SD_W, 243, 232), BLACK);
    EXPECT_EQ(pixel_at(first, SD_W, 304, 211), opaque(0x888888));
    EXPECT_EQ(pixel_at(first, SD_W, 128, 328), BAR_TRACK);
    EXPECT_EQ(pixel_at(first, SD_W, 512, 328), BLACK);

    splash_status(engine.get(), "Initializing audio");
    splash_status(engine.get(), "Loading image assets");
    splash_status(engine.get(), "Loading scripts");
    Pixels last = picture();
    EXPECT_EQ(pixel_at(last, SD_W, 244, 232), opaque(0x44CC44));
    EXPECT_EQ(pixel_at(last, SD_W, 260, 286), opaque(0xFFFFFF));  // 15 characters at 232 + 3 x 18
    EXPECT_EQ(pixel_at(last, SD_W, 259, 286), BLACK);
    EXPECT_EQ(pixel_at(last, SD_W, 128 + 287, 328), BAR_FILL);
    EXPECT_EQ(pixel_at(last, SD_W, 128 + 288, 328), BAR_TRACK);
    EXPECT_EQ(pumped, 4);
}

TEST_F(SplashTest, NinthStageIsDroppedAndLongTextIsCut)
{
    splash_activate(nullptr, 0, 0, 0);
    const std::string long_text(70, 'x');
    splash_status(engine.get(), long_text.c_str());
    for (int i = 1; i < 9; i++)
        splash_status(engine.get(), ("stage " + std::to_string(i)).c_str());

    EXPECT_EQ(g_splash.line_count, SPLASH_MAX_LINES);
    EXPECT_EQ(std::string(g_splash.lines[0].text), long_text.substr(0, 63));
    EXPECT_EQ(std::string(g_splash.lines[7].text), "stage 7");
    EXPECT_EQ(g_splash.lines[7].done, 1);
    // Eight finished lines fill the bar exactly, no further.
    Pixels p = picture();
    EXPECT_EQ(pixel_at(p, SD_W, 511, 328), BAR_FILL);
    EXPECT_EQ(pixel_at(p, SD_W, 512, 328), BLACK);
}

TEST_F(SplashTest, OnlySpaceAClickOrATouchStartsTheGame)
{
    const std::vector<SDL_Event> starts = {
        make_event(SDL_KEYDOWN, SDLK_SPACE), make_event(SDL_KEYDOWN, SDLK_SPACE, 1),
        make_event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT),
        make_event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT), make_event(SDL_FINGERDOWN)};
    for (size_t i = 0; i < starts.size(); i++) {
        SCOPED_TRACE(i);
        splash_activate(nullptr, 0, 0, 0);
        for (uint32_t ignored : {SDL_MOUSEMOTION, SDL_MOUSEWHEEL, SDL_FINGERUP})
            push(ignored);
        push(SDL_KEYDOWN, SDLK_RETURN);
        push(SDL_KEYUP, SDLK_SPACE);
        push(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
        push(starts[i]);
        push(SDL_USEREVENT);

        splash_finish(engine.get(), 0);

        // Everything up to the start event was taken; what follows is left
        // for the main loop.
        SDL_Event next = {};
        ASSERT_EQ(SDL_PollEvent(&next), 1);
        EXPECT_EQ(next.type, SDL_USEREVENT);
        EXPECT_EQ(SDL_PollEvent(&next), 0);
        EXPECT_EQ(g_splash.active, 0);
    }
}

Uint32 push_space(Uint32, void*)
{
    push(SDL_KEYDOWN, SDLK_SPACE);
    return 0;
}

TEST_F(SplashTest, FinishedScreenStaysUpForTheMinimumThenPromptsUntilSpace)
{
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_TIMER), 0);
    splash_activate(nullptr, 0, 0, 0);
    splash_status(engine.get(), "Loading scripts");
    push(SDL_KEYDOWN, SDLK_SPACE);  // pressed too early: dropped with the wait
    const SDL_TimerID timer = SDL_AddTimer(300, push_space, nullptr);

    const uint32_t start = SDL_GetTicks();
    splash_finish(engine.get(), 100);
    SDL_RemoveTimer(timer);

    EXPECT_GE(SDL_GetTicks() - start, 300u);
    EXPECT_EQ(g_splash.lines[0].done, 1);
    Pixels p = picture();
    EXPECT_EQ(pixel_at(p, SD_W, 212, 360), opaque(0x999999));
    EXPECT_EQ(pixel_at(p, SD_W, 211, 360), BLACK);
    EXPECT_EQ(pixel_at(p, SD_W, 128 + 95, 328), BAR_FILL);  // one stage of four
    EXPECT_EQ(pixel_at(p, SD_W, 128 + 96, 328), BAR_TRACK);

    // In a 1000x625 window, with a font inked everywhere but the space, the
    // prompt reads as six words: no blank column inside one, a blank one
    // between each two.
    std::vector<uint8_t> atlas(2048 * 64 * 4, 0xFF);
    for (int y = 0; y < 16; y++)
        std::fill_n(atlas.begin() + (y * 2048 + ' ' * 8) * 4, 8 * 4, 0);
    write_file(scratch.file("FONT_ATLAS_SD.PNG"), encode_png(2048, 64, atlas.data()));
    ASSERT_TRUE(font_init(test_renderer(), 0));
    SDL_Texture* wide = make_render_target(1000, 625);
    SDL_RenderSetScale(test_renderer(), 1000 / 640.0f, 625 / 400.0f);
    static int passes = 0;  // Space after one picture with the prompt
    engine->splash_pump_cb = [](Engine*) { if (passes++ == 1) push(SDL_KEYDOWN, SDLK_SPACE); };
    splash_activate(nullptr, 0, 0, 0);
    splash_finish(engine.get(), 0);
    const Pixels shown = read_render_target(wide);
    int words = 0;
    bool in_word = false;
    for (int x = 300; x < 700; x++) {
        bool ink = false;
        for (int y = 540; y < 610; y++)
            ink = ink || pixel_at(shown, 1000, x, y) != BLACK;
        words += ink && !in_word;
        in_word = ink;
    }
    EXPECT_EQ(words, 6);
}

TEST_F(SplashTest, WithoutAUsableImageLoadingGoesStraightThrough)
{
    write_file(scratch.file("assets/splash.png"), Bytes{'n', 'o', 't', ' ', 'p', 'n', 'g'});
    EXPECT_EQ(splash_run(engine.get()), -1);
    EXPECT_EQ(g_splash.active, 0);

    splash_status(engine.get(), "Initializing engine");
    EXPECT_EQ(g_splash.line_count, 0);
    push(SDL_KEYDOWN, SDLK_SPACE);
    splash_finish(engine.get(), 1000);
    SDL_Event next = {};
    EXPECT_EQ(SDL_PollEvent(&next), 1);  // no wait took it

    write_file(scratch.file("splash.png"), solid_png(4, 4, 0xFF0000));
    engine->renderer = nullptr;
    EXPECT_EQ(splash_run(engine.get()), -1);
}

TEST_F(SplashTest, RunFadesInTheArchivesImageOverLooseFiles)
{
    kvr_write_file(scratch.file("base.dat"),
                   kvr_build_archive({{KvrInputEntry{"splash.png", solid_png(640, 400, 0xFF0000)}}}));
    write_file(scratch.file("assets/splash.png"), solid_png(640, 400, 0x0000FF));
    arc_open_base_and_hd();

    EXPECT_EQ(splash_run(engine.get()), 0);
    EXPECT_EQ(g_splash.active, 1);
    // Each fade-in frame draws the logo at its alpha over the black background.
    const struct {
        uint32_t ms;
        int red;
        bool done;
    } frames[] = {{0, 0, false}, {500, 127, false}, {1000, 255, true}};
    for (const auto& f : frames) {
        EXPECT_EQ(splash_fade_frame(engine.get(), f.ms), f.done);
        EXPECT_NEAR(static_cast<int>(picture()[160] >> 24), f.red, 1) << f.ms << " ms";
    }
    Pixels p = picture();
    EXPECT_EQ(pixel_at(p, SD_W, 160, 0), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, SD_W, 479, 199), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, SD_W, 159, 100), BLACK);
    EXPECT_EQ(pixel_at(p, SD_W, 320, 200), BLACK);
    splash_finish(nullptr, 0);
    EXPECT_EQ(g_splash.logo, nullptr);
}

TEST_F(SplashDeathTest, QuitOrWindowCloseEndsTheProgramWhileTheScreenIsUp)
{
    write_file(scratch.file("splash.png"), solid_png(4, 4, 0xFF0000));
    EXPECT_EXIT((push(SDL_QUIT), splash_run(engine.get())), ::testing::ExitedWithCode(0), "");

    splash_activate(nullptr, 0, 0, 0);
    EXPECT_EXIT((push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE),
                 splash_status(engine.get(), "Loading scripts")),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT((push(SDL_QUIT), splash_finish(engine.get(), 100)), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT((push(SDL_KEYDOWN, SDLK_a), push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE),
                 push(SDL_KEYDOWN, SDLK_SPACE), splash_finish(engine.get(), 0)),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
