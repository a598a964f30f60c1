#include <gtest/gtest.h>

#include "engine.h"
#include "screen.h"
#include "render_fixture.h"
#include "test_support.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

uint32_t entry_pixel(const HistoryEntry& entry, int x, int y)
{
    uint32_t pixel;
    memcpy(&pixel, entry.pixels + (static_cast<size_t>(y) * entry.w + x) * 4, sizeof pixel);
    return pixel;
}

struct Rgb {
    int r, g, b;
};

Rgb rgb_of(uint32_t rgba) { return {static_cast<int>(rgba >> 24), static_cast<int>((rgba >> 16) & 0xFF), static_cast<int>((rgba >> 8) & 0xFF)}; }

// src over an opaque dst with the given alpha.
Rgb over(Rgb src, int alpha, Rgb dst)
{
    return {(src.r * alpha + dst.r * (255 - alpha)) / 255, (src.g * alpha + dst.g * (255 - alpha)) / 255,
            (src.b * alpha + dst.b * (255 - alpha)) / 255};
}

// Software blending rounds differently from the formula above by a unit or so.
constexpr int BLEND_TOLERANCE = 2;

void expect_near(uint32_t got, Rgb want, const char* where)
{
    Rgb g = rgb_of(got);
    EXPECT_NEAR(g.r, want.r, BLEND_TOLERANCE) << where;
    EXPECT_NEAR(g.g, want.g, BLEND_TOLERANCE) << where;
    EXPECT_NEAR(g.b, want.b, BLEND_TOLERANCE) << where;
}

SDL_Event key_down(SDL_Keycode key)
{
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = key;
    return e;
}

SDL_Event wheel(int y)
{
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = y;
    return e;
}

SDL_Event button(uint32_t type, uint8_t which, int x, int y)
{
    SDL_Event e{};
    e.type = type;
    e.button.button = which;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event motion(int x, int y)
{
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    return e;
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine = std::make_unique<Engine>();
        engine_init(engine.get(), 0);
        hist = &engine->history;
    }
    void TearDown() override { hist_clear(hist); }

    std::unique_ptr<Engine> engine;
    HistoryBuffer* hist = nullptr;
};

TEST_F(HistoryTest, LayoutOfFullSizePanels)
{
    struct Case {
        const char* what;
        int32_t scroll, w, h, lh;
        int32_t band, body_top, body_h, rows, top, shown, bar_x, bar_y, bar_h, thumb_h, thumb_y;
        const char* position_text;
        int32_t position_x;
    };
    const Case cases[] = {
        {"SD near the end", 3, 640, 400, 16, 16, 16, 368, 23, 3, 3, 628, 18, 364, 167, 206, "3/50", 602},
        // The oldest position fills every row (ages 50 down to 28) and puts the thumb on top.
        {"SD oldest", 50, 640, 400, 16, 16, 16, 368, 23, 50, 23, 628, 18, 364, 167, 18, "50/50", 640 - 6 - 5 * 8},
        {"HD near the end", 3, 1280, 800, 32, 32, 32, 736, 23, 3, 3, 1268, 34, 732, 336, 413, "3/50", 1210},
    };
    hist->count = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hist->scroll = c.scroll;
        HistLayout l;
        ASSERT_TRUE(hist_layout(hist, 0, 0, c.w, c.h, c.lh, &l));
        EXPECT_EQ(l.band, c.band);
        EXPECT_EQ(l.body_top, c.body_top);
        EXPECT_EQ(l.body_h, c.body_h);
        EXPECT_EQ(l.rows, c.rows);
        EXPECT_EQ(l.top, c.top);
        EXPECT_EQ(l.shown, c.shown);
        EXPECT_EQ(l.bar_x, c.bar_x);
        EXPECT_EQ(l.bar_y, c.bar_y);
        EXPECT_EQ(l.bar_h, c.bar_h);
        EXPECT_TRUE(l.has_thumb);
        EXPECT_EQ(l.thumb_h, c.thumb_h);
        EXPECT_EQ(l.thumb_y, c.thumb_y);
        EXPECT_STREQ(l.position_text, c.position_text);
        EXPECT_EQ(l.position_x, c.position_x);
    }
}

TEST_F(HistoryTest, ThumbIsShownOnlyWhenLinesDoNotFitAndKeepsAMinimumHeight)
{
    hist->count = 23;
    hist->scroll = 23;
    HistLayout l;
    ASSERT_TRUE(hist_layout(hist, 0, 0, 640, 400, 16, &l));
    EXPECT_FALSE(l.has_thumb);
    EXPECT_EQ(l.shown, 23);

    hist->count = 200;
    hist->scroll = 1;
    ASSERT_TRUE(hist_layout(hist, 0, 0, 640, 400, 16, &l));
    EXPECT_EQ(l.thumb_h, 364 * 23 / 200);
    EXPECT_EQ(l.thumb_y + l.thumb_h, 18 + 364);  // newest: thumb at the bottom

    ASSERT_TRUE(hist_layout(hist, 0, 0, 640, 120, 16, &l));  // a short body
    EXPECT_EQ(l.rows, 5);
    EXPECT_EQ(l.thumb_h, 10);
}

TEST_F(HistoryTest, PanelTooShortForBandsUsesAllItsHeightForRows)
{
    hist->count = 5;
    hist->scroll = 5;
    HistLayout l;
    ASSERT_TRUE(hist_layout(hist, 10, 100, 300, 32, 16, &l));
    EXPECT_EQ(l.band, 0);
    EXPECT_EQ(l.body_top, 100);
    EXPECT_EQ(l.rows, 2);
    EXPECT_EQ(l.top, 5);
    EXPECT_EQ(l.shown, 2);
    EXPECT_EQ(l.bar_h, 28);

    EXPECT_FALSE(hist_layout(hist, 10, 100, 300, 15, 16, &l));  // not one row
    hist->scroll = 0;
    EXPECT_FALSE(hist_layout(hist, 0, 0, 640, 400, 16, &l));
    hist->scroll = 1;
    hist->count = 0;
    EXPECT_FALSE(hist_layout(hist, 0, 0, 640, 400, 16, &l));
}

TEST(HistoryArithmeticTest, DragPositionRunsFromOldestAtTopToNewestAtBottom)
{
    EXPECT_EQ(hist_drag_scroll(18, 18, 364, 50), 50);
    EXPECT_EQ(hist_drag_scroll(-500, 18, 364, 50), 50);
    EXPECT_EQ(hist_drag_scroll(100, 18, 364, 50), 38);
    EXPECT_EQ(hist_drag_scroll(200, 18, 364, 50), 25);
    EXPECT_EQ(hist_drag_scroll(371, 18, 364, 50), 2);
    EXPECT_EQ(hist_drag_scroll(382, 18, 364, 50), 1);
    EXPECT_EQ(hist_drag_scroll(5000, 18, 364, 50), 1);
    EXPECT_EQ(hist_drag_scroll(100, 18, 364, 1), 1);
    EXPECT_EQ(hist_drag_scroll(100, 18, 364, 0), 0);
}

TEST(HistoryArithmeticTest, RowAlphaFallsEvenlyFromOpaqueTo130)
{
    EXPECT_EQ(hist_row_alpha(0, 3), 255);
    EXPECT_EQ(hist_row_alpha(1, 3), 193);
    EXPECT_EQ(hist_row_alpha(2, 3), 130);
    EXPECT_EQ(hist_row_alpha(0, 1), 255);
    EXPECT_EQ(hist_row_alpha(0, 23), 255);
    EXPECT_EQ(hist_row_alpha(22, 23), 130);
    for (int i = 1; i < 23; i++)
        EXPECT_LE(hist_row_alpha(i, 23), hist_row_alpha(i - 1, 23));
}

TEST_F(HistoryTest, WheelUpOpensTheViewOnlyWhenThereIsSomethingToShow)
{
    SDL_Event up = wheel(1);
    EXPECT_TRUE(hist_handle_event(hist, &up, 5));
    EXPECT_FALSE(hist->open);
    EXPECT_EQ(hist->scroll, 0);

    hist->count = 2;
    EXPECT_TRUE(hist_handle_event(hist, &up, 5));
    EXPECT_TRUE(hist->open);
    EXPECT_EQ(hist->scroll, 2);

    hist_close(hist);
    hist->count = 50;
    EXPECT_TRUE(hist_handle_event(hist, &up, 5));
    EXPECT_EQ(hist->scroll, 3);
    EXPECT_TRUE(hist_handle_event(hist, &up, 5));
    EXPECT_EQ(hist->scroll, 6);

    SDL_Event down = wheel(-1);
    EXPECT_TRUE(hist_handle_event(hist, &down, 5));
    EXPECT_EQ(hist->scroll, 3);
    EXPECT_TRUE(hist_handle_event(hist, &down, 5));
    EXPECT_TRUE(hist_handle_event(hist, &down, 5));
    EXPECT_EQ(hist->scroll, 0);
    EXPECT_TRUE(hist->open);  // at the end but still open

    SDL_Event still = wheel(0);
    EXPECT_FALSE(hist_handle_event(hist, &still, 5));
    hist_close(hist);
    EXPECT_FALSE(hist_handle_event(hist, &down, 5));
}

TEST_F(HistoryTest, PageKeysMoveByTheWindowsRowsOrTenAndStayInRange)
{
    hist->count = 50;
    hist->open = 1;
    hist->scroll = 1;
    SDL_Event page_up = key_down(SDLK_PAGEUP);
    SDL_Event page_down = key_down(SDLK_PAGEDOWN);
    EXPECT_TRUE(hist_handle_event(hist, &page_up, 4));
    EXPECT_EQ(hist->scroll, 5);
    EXPECT_TRUE(hist_handle_event(hist, &page_up, 0));
    EXPECT_EQ(hist->scroll, 15);
    EXPECT_TRUE(hist_handle_event(hist, &page_up, -3));
    EXPECT_EQ(hist->scroll, 25);
    EXPECT_TRUE(hist_handle_event(hist, &page_up, 40));
    EXPECT_EQ(hist->scroll, 50);
    EXPECT_TRUE(hist_handle_event(hist, &page_down, 45));
    EXPECT_EQ(hist->scroll, 5);
    EXPECT_TRUE(hist_handle_event(hist, &page_down, 45));
    EXPECT_EQ(hist->scroll, 0);

    SDL_Event other = key_down(SDLK_SPACE);
    EXPECT_FALSE(hist_handle_event(hist, &other, 4));
}

TEST_F(HistoryTest, KeysAreIgnoredWhileClosedAndEscapeCloses)
{
    hist->count = 50;
    SDL_Event esc = key_down(SDLK_ESCAPE);
    SDL_Event page_up = key_down(SDLK_PAGEUP);
    EXPECT_FALSE(hist_handle_event(hist, &esc, 4));
    EXPECT_FALSE(hist_handle_event(hist, &page_up, 4));
    EXPECT_EQ(hist->scroll, 0);

    hist->open = 1;
    hist->scroll = 7;
    EXPECT_TRUE(hist_handle_event(hist, &esc, 4));
    EXPECT_FALSE(hist->open);
    EXPECT_EQ(hist->scroll, 0);

    EXPECT_FALSE(hist_handle_event(nullptr, &esc, 4));
    EXPECT_FALSE(hist_handle_event(hist, nullptr, 4));
    hist_close(nullptr);
    hist_clear(nullptr);
}

TEST_F(HistoryTest, DraggingTheTrackSetsThePosition)
{
    hist->count = 50;
    hist->open = 1;
    hist->scroll = 3;
    hist->bar_x = 628;
    hist->bar_y = 18;
    hist->bar_h = 364;

    SDL_Event miss_left = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 625, 100);
    SDL_Event miss_right = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 643, 100);
    SDL_Event miss_below = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 630, 383);
    SDL_Event right_button = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 630, 100);
    SDL_Event move = motion(630, 100);
    for (SDL_Event* e : {&miss_left, &miss_right, &miss_below, &right_button, &move})
        EXPECT_FALSE(hist_handle_event(hist, e, 4));
    EXPECT_FALSE(hist->dragging);
    EXPECT_EQ(hist->scroll, 3);

    // Anywhere on the track, 2 pixels to its left to 4 to its right.
    for (int x : {626, 642}) {
        SDL_Event press = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, x, 382);
        EXPECT_TRUE(hist_handle_event(hist, &press, 4)) << x;
        EXPECT_TRUE(hist->dragging);
        EXPECT_EQ(hist->scroll, 3);  // the position changes with the first motion
        hist->dragging = 0;
    }

    SDL_Event press = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 630, 18);
    ASSERT_TRUE(hist_handle_event(hist, &press, 4));
    EXPECT_TRUE(hist_handle_event(hist, &move, 4));
    EXPECT_EQ(hist->scroll, 38);
    SDL_Event far = motion(0, -40);
    EXPECT_TRUE(hist_handle_event(hist, &far, 4));
    EXPECT_EQ(hist->scroll, 50);

    SDL_Event release_right = button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 630, 100);
    EXPECT_FALSE(hist_handle_event(hist, &release_right, 4));
    SDL_Event release = button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 630, 100);
    EXPECT_TRUE(hist_handle_event(hist, &release, 4));
    EXPECT_FALSE(hist->dragging);
    EXPECT_FALSE(hist_handle_event(hist, &release, 4));
    EXPECT_FALSE(hist_handle_event(hist, &move, 4));

    hist_close(hist);
    EXPECT_FALSE(hist_handle_event(hist, &press, 4));
}

// Pushing needs a real renderer and a text layer to read from.
class HistoryPixelTest : public HistoryTest {
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        ASSERT_NE(test_renderer(), nullptr);
        layer = make_filled_target(640, 400, 0);
    }
    void TearDown() override
    {
        HistoryTest::TearDown();
        SDL_DestroyTexture(layer);
    }

    // The colour that marks the n-th line pushed.
    static uint32_t line_colour(int n) { return static_cast<uint32_t>(n * 4) << 24 | (255 - n * 4) << 16 | 0x80FF; }

    // Pushes n lines lh high and w wide, each painted in its own colour.
    void push_lines(int n, int w = 600, int lh = 16)
    {
        for (int i = 0; i < n; i++) {
            fill_target_rect(layer, {0, 0, w, lh}, line_colour(i));
            hist_push(hist, test_renderer(), layer, 0, 0, w, lh, 3);
        }
    }

    // The open view drawn over black into a fresh w x h frame.
    Pixels draw_view(int w = 640, int h = 400)
    {
        return draw_to_target(w, h, [&] { hist_draw(hist, test_renderer(), 0, 0, w, h); }, BLACK);
    }

    static constexpr uint32_t BLACK = 0x000000FF;
    SDL_Texture* layer = nullptr;
};

TEST_F(HistoryPixelTest, PushCopiesTheRectangleInRgba8888)
{
    fill_target_rect(layer, {3, 2, 1, 1}, 0x11223344);
    hist_push(hist, test_renderer(), layer, 2, 1, 4, 3, 7);
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
    ASSERT_EQ(hist->count, 1);
    ASSERT_EQ(hist->write_index, 1);
    const HistoryEntry& e = hist->entries[0];
    ASSERT_NE(e.pixels, nullptr);
    EXPECT_EQ(e.x, 2);
    EXPECT_EQ(e.y, 1);
    EXPECT_EQ(e.w, 4);
    EXPECT_EQ(e.h, 3);
    EXPECT_EQ(e.window_id, 7);
    EXPECT_EQ(entry_pixel(e, 1, 1), 0x11223344u);
    EXPECT_EQ(entry_pixel(e, 0, 0), 0u);
    EXPECT_EQ(entry_pixel(e, 3, 2), 0u);
}

TEST_F(HistoryPixelTest, PushKeepsOnlyThePartOfTheRectangleOnTheLayer)
{
    fill_target_rect(layer, {0, 0, 640, 400}, 0xFFFFFFFF);
    const struct {
        std::vector<int32_t> asked, kept;  // x, y, w, h; kept empty: nothing pushed
    } cases[] = {
        {{636, 398, 8, 4}, {636, 398, 4, 2}},
        {{-4000000, 0, 4000640, 16}, {0, 0, 640, 16}},
        {{0, 0, INT32_MAX, INT32_MAX}, {0, 0, 640, 400}},
        {{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, {}},
        {{640, 0, 8, 16}, {}},
        {{-8, 0, 8, 16}, {}},
    };
    for (const auto& c : cases) {
        hist_clear(hist);
        hist_push(hist, test_renderer(), layer, c.asked[0], c.asked[1], c.asked[2], c.asked[3], 0);
        const HistoryEntry& e = hist->entries[0];
        ASSERT_EQ(hist->count, c.kept.empty() ? 0 : 1) << c.asked[0];
        if (c.kept.empty())
            continue;
        EXPECT_EQ((std::vector<int32_t>{e.x, e.y, e.w, e.h}), c.kept);
        EXPECT_EQ(entry_pixel(e, e.w - 1, e.h - 1), 0xFFFFFFFFu);
    }
}

TEST_F(HistoryPixelTest, PushIgnoresMissingSourcesAndEmptyRectangles)
{
    hist_push(hist, test_renderer(), layer, 0, 0, 0, 16, 0);
    hist_push(hist, test_renderer(), layer, 0, 0, 640, -1, 0);
    hist_push(hist, test_renderer(), nullptr, 0, 0, 640, 16, 0);
    hist_push(hist, nullptr, layer, 0, 0, 640, 16, 0);
    hist_push(nullptr, test_renderer(), layer, 0, 0, 640, 16, 0);
    EXPECT_EQ(hist->count, 0);
    EXPECT_EQ(hist->write_index, 0);
    EXPECT_EQ(hist->entries[0].pixels, nullptr);
}

TEST_F(HistoryPixelTest, RingWrapsAt200DroppingTheOldestLine)
{
    SDL_Texture* source = make_filled_target(8, 256, 0);
    for (int i = 0; i < 201; i++) {
        fill_target_rect(source, {0, i, 8, 1}, line_colour(i % 64) ^ static_cast<uint32_t>(i) << 8);
        hist_push(hist, test_renderer(), source, 0, i, 8, 1, 0);
    }
    EXPECT_EQ(hist->count, 200);
    EXPECT_EQ(hist->write_index, 201);
    EXPECT_EQ(hist->entries[0].y, 200);  // the first line's slot now holds the 201st
    EXPECT_EQ(hist->entries[1].y, 1);

    // The oldest line shown is the second one pushed.
    hist->open = 1;
    hist->scroll = 200;
    EXPECT_EQ(draw_view(8, 300)[1 * 8 + 3], line_colour(1) ^ 1u << 8);
    SDL_DestroyTexture(source);
}

TEST_F(HistoryPixelTest, ClearFreesEveryLineAndResetsTheRing)
{
    push_lines(5);
    hist->open = 1;
    hist->scroll = 2;
    hist->dragging = 1;
    hist->bar_x = 628;
    hist_clear(hist);
    for (const HistoryEntry& e : hist->entries)
        ASSERT_EQ(e.pixels, nullptr);
    EXPECT_EQ(hist->write_index, 0);
    EXPECT_EQ(hist->count, 0);
    EXPECT_EQ(hist->scroll, 0);
    EXPECT_FALSE(hist->open);
    EXPECT_TRUE(hist->dragging);
    EXPECT_EQ(hist->bar_x, 628);

    push_lines(1);
    EXPECT_EQ(hist->count, 1);
    EXPECT_NE(hist->entries[0].pixels, nullptr);
}

TEST_F(HistoryPixelTest, ViewShowsTheLinesWithFadingAlphaBandsAndAScrollbarOnlyWhenTheyDoNotFit)
{
    push_lines(50);
    hist->open = 1;
    hist->scroll = 3;
    Pixels p = draw_view();
    auto px = [&](int x, int y) { return p[static_cast<size_t>(y) * 640 + x]; };

    EXPECT_EQ(hist->bar_x, 628);
    EXPECT_EQ(hist->bar_y, 18);
    EXPECT_EQ(hist->bar_h, 364);

    const Rgb black = {0, 0, 0};
    const Rgb panel = over({10, 10, 20}, 240, black);
    expect_near(px(300, 200), panel, "panel");
    EXPECT_EQ(px(0, 200), 0x5082C8FFu) << "border";
    // Ages 3, 2 and 1 from the top: the 48th, 49th and 50th lines pushed.
    EXPECT_EQ(px(100, 16), line_colour(47));
    expect_near(px(100, 32 + 8), over(rgb_of(line_colour(48)), 193, panel), "age 2");
    expect_near(px(100, 48 + 15), over(rgb_of(line_colour(49)), 130, panel), "age 1");
    expect_near(px(100, 64), panel, "below the rows");

    expect_near(px(300, 8), over({160, 80, 20}, 230, panel), "header");
    expect_near(px(300, 392), over({20, 110, 50}, 230, panel), "footer");

    const Rgb track = over({30, 30, 50}, 200, panel);
    const Rgb thumb = over({100, 170, 255}, 220, track);
    expect_near(px(628, 18), track, "track top");
    expect_near(px(637, 205), track, "above the thumb");
    expect_near(px(628, 206), thumb, "thumb top");
    expect_near(px(637, 372), thumb, "thumb bottom");
    expect_near(px(632, 373), track, "below the thumb");
    expect_near(px(638, 300), panel, "right of the track");

    hist->scroll = 50;
    hist->dragging = 1;
    p = draw_view();
    expect_near(px(630, 20), over({160, 210, 255}, 255, track), "dragged thumb at the top, brighter");

    // With every line shown there is no track, but its place is still recorded.
    hist->count = hist->scroll = 23;
    hist->bar_h = 0;
    p = draw_view();
    expect_near(px(632, 100), panel, "no track");
    EXPECT_EQ(hist->bar_h, 364);
}

TEST_F(HistoryPixelTest, ClosedOrFinishedViewDrawsNothing)
{
    push_lines(10);
    Pixels p = draw_to_target(640, 400, [&] {
        hist_draw(hist, test_renderer(), 0, 0, 640, 400);  // never opened
        hist->open = 1;
        hist->scroll = 0;  // paged down to the end
        hist_draw(hist, test_renderer(), 0, 0, 640, 400);
        hist->scroll = 3;
        hist_draw(hist, test_renderer(), 0, 0, 0, 400);
        hist_draw(hist, test_renderer(), 0, 0, 640, 15);
    }, BLACK);
    for (uint32_t pixel : p)
        ASSERT_EQ(pixel, BLACK);
    EXPECT_EQ(hist->bar_h, 0);
}

TEST_F(HistoryPixelTest, HeaderCarriesTitleAndPositionEndingSixPixelsFromTheRight)
{
    // A font whose every cell is solid white shows where each text lies.
    ScratchDir scratch;
    scratch.enter();
    ASSERT_TRUE(load_white_font(scratch, 0));

    push_lines(50);
    hist->open = 1;
    hist->scroll = 3;
    Pixels p = draw_view();
    auto px = [&](int x, int y) { return p[static_cast<size_t>(y) * 640 + x]; };

    const Rgb header = over({160, 80, 20}, 230, over({10, 10, 20}, 240, {0, 0, 0}));
    EXPECT_EQ(px(4, 5), 0xFFFFFFFFu) << "HISTORY starts";
    EXPECT_EQ(px(59, 15), 0xFFFFFFFFu) << "HISTORY ends";
    expect_near(px(60, 5), header, "after HISTORY");
    expect_near(px(601, 5), header, "before 3/50");
    EXPECT_EQ(px(602, 5), 0xFFFFFFFFu) << "3/50 starts";
    EXPECT_EQ(px(633, 5), 0xFFFFFFFFu) << "3/50 ends";
    expect_near(px(634, 5), header, "after 3/50");
}

}  // namespace
