#include <gtest/gtest.h>

#include <SDL.h>
#include <stb_image.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "../save/save_private.h"
#include "event_fixture.h"
#include "png_fixture.h"
#include "render_fixture.h"
#include "save.h"
#include "save_fixture.h"

TEST(SlotScreenTest, MeasuresDoubleInHdAndCellsEndBeforeTheirEdges)
{
    const SlotScreenLayout sd = slot_screen_layout(0);
    EXPECT_EQ(sd.list_top, 22);
    EXPECT_EQ(sd.row_height, 22);
    EXPECT_EQ(sd.list_left, 105);
    EXPECT_EQ(sd.preview_x, 359);
    // The run tests below see the HD measures on the screen.
    const SlotScreenLayout hd = slot_screen_layout(1);

    struct Point {
        int32_t x, y, slot;
    };
    const Point points[] = {
        {105, 22, 0},         {104, 22, SAVE_SLOT_NONE}, {224, 44, 1},
        {225, 22, SAVE_SLOT_NONE}, {229, 22, 16},       {348, 373, 31},
        {105, 374, SAVE_SLOT_NONE},
    };
    for (const Point& p : points)
        EXPECT_EQ(slot_screen_hit(&sd, p.x, p.y), p.slot) << p.x << "," << p.y;
    EXPECT_EQ(slot_screen_hit(&hd, 458, 44), 16);
}

TEST(SlotScreenTest, CursorStaysInsideTheGrid)
{
    struct Move {
        int32_t from, rows, columns, to;
    };
    const Move moves[] = {
        {15, 1, 0, 15}, {3, 0, 1, 19}, {20, 0, 1, 20}, {20, 0, -1, 4}, {16, -1, 0, 16}, {5, 1, 0, 6},
    };
    for (const Move& m : moves)
        EXPECT_EQ(slot_screen_move(m.from, m.rows, m.columns), m.to) << m.from;
}

TEST(SlotScreenTest, LinesShowTheLocalDateOrSavedOrDashes)
{
    setenv("TZ", "UTC", 1);
    tzset();
    char line[SLOT_LINE_CAPACITY];
    const int32_t march_5_0907 = 1709629620;  // 2024-03-05 09:07 UTC
    slot_screen_format_line(line, sizeof line, 11, true, march_5_0907);
    EXPECT_STREQ(line, "12 3/05 09:07");
    slot_screen_format_line(line, sizeof line, 0, true, 0);
    EXPECT_STREQ(line, "01  saved");
    slot_screen_format_line(line, sizeof line, 31, false, march_5_0907);
    EXPECT_STREQ(line, "32  ------");
}

// Thumbnails arrive in save files that players share: only a PNG of the size
// the writer makes is decoded, and only while its data stays within that
// size; anything else shows "No preview".
TEST(SlotScreenTest, OnlyAPngOfTheWrittenSizeIsDecodedAsAThumbnail)
{
    const std::vector<uint8_t> rgba(320 * 200 * 4, 0x80);
    const Bytes rows(200 * (1 + 320 * 3), 0);  // unfiltered black rows
    // A screen and an image of 320x200 with no pixel data, which the decoder
    // fills with the background.
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0x40, 1, 0xC8, 0, 0x80, 0, 0, 0, 0, 0, 9, 9, 9,
                       ',', 0, 0, 0, 0, 0x40, 1, 0xC8, 0, 0, 2, 0, ';'};
    const Bytes huge = png_file(16000, 16000, 8, PNG_RGB, false, rows);
    Bytes idat_past_end = png_file(320, 200, 8, PNG_RGB, false, rows);
    idat_past_end[33] = 0x40;  // the data chunk's length field: a gigabyte
    const struct {
        const char* what;
        Bytes file;
        bool shown;
    } cases[] = {
        {"PNG 320x200", png_file(320, 200, 8, PNG_RGB, false, rows), true},
        {"PNG 320x200, 16-bit RGBA interlaced", png_blank(320, 200, 16, PNG_RGBA, true), true},
        {"PNG 160x100", encode_png(160, 100, rgba.data()), false},
        {"PNG declaring 16000x16000", huge, false},
        {"PNG 320x200 with a byte more data than any", png_blank(320, 200, 16, PNG_RGBA, true, 1), false},
        {"PNG 320x200 whose data chunk runs past the file", idat_past_end, false},
        {"BMP 320x200", encode_bmp(320, 200, rgba.data()), false},
        {"TGA 320x200", encode_tga(320, 200, rgba.data()), false},
        {"GIF 320x200", gif, false},
    };
    for (const auto& c : cases) {
        uint8_t* pixels = slot_thumbnail_decode(c.file.data(), c.file.size());
        EXPECT_EQ(pixels != nullptr, c.shown) << c.what;
        stbi_image_free(pixels);
    }
    // The decoder was never asked for the 16000x16000 picture: its failure
    // reason is still the one its header read left.
    int w = 0, h = 0, n = 0;
    ASSERT_TRUE(stbi_info_from_memory(huge.data(), static_cast<int>(huge.size()), &w, &h, &n));
    const std::string header_reason = stbi_failure_reason();
    EXPECT_EQ(slot_thumbnail_decode(huge.data(), huge.size()), nullptr);
    EXPECT_EQ(stbi_failure_reason(), header_reason);
}

// Each quarter of a stored thumbnail has its own colour, so that a preview
// uploaded with the wrong row width shows a wrong quarter in a corner.
constexpr uint32_t QUARTERS[2][2] = {{0x20C040, 0xC04020}, {0x4020C0, 0xC0C020}};

class SlotScreenRunTest : public SaveFolderTest {
protected:
    void SetUp() override
    {
        SaveFolderTest::SetUp();
        if (!test_renderer())
            GTEST_SKIP() << "no renderer";
        engine.reset(new Engine());
        engine_init(engine.get(), 0);
        engine->renderer = test_renderer();
        SDL_SetWindowSize(SDL_RenderGetWindow(test_renderer()), SCREEN_WIDTH, SCREEN_HEIGHT);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override { SDL_SetWindowSize(SDL_RenderGetWindow(test_renderer()), 64, 64); }
    // The slot screen takes input from any window.
    static void key(SDL_Keycode sym) { push_key(nullptr, sym); }
    static void click(int32_t x, int32_t y, uint8_t button = SDL_BUTTON_LEFT) { push_button(nullptr, x, y, button); }
    // A key that comes after the screen's first pass has taken what was queued before it opened.
    static void key_later(SDL_Keycode sym)
    {
        SDL_InitSubSystem(SDL_INIT_TIMER);
        auto push = [](Uint32, void* k) -> Uint32 {
            key(static_cast<SDL_Keycode>(reinterpret_cast<intptr_t>(k)));
            return 0;
        };
        SDL_AddTimer(100, push, reinterpret_cast<void*>(static_cast<intptr_t>(sym)));
    }
    // A pixel of the last frame the screen showed.
    static uint32_t shown(int x, int y) { return window_pixel(test_renderer(), x, y); }
    void store_slot(uint32_t slot, uint32_t version)
    {
        SaveFileSpec spec;
        spec.version = version;
        std::vector<uint8_t> rgba;
        for (int i = 0; i < 320 * 200; i++) {
            const uint32_t c = QUARTERS[i / 320 >= 100][i % 320 >= 160];
            rgba.insert(rgba.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0xFF});
        }
        spec.png = encode_png(320, 200, rgba.data());
        write_file(slot_path(slot), build_save_head(spec));
    }
    std::unique_ptr<Engine> engine;
};

TEST_F(SlotScreenRunTest, LoadModeOpensOnTheFirstListedSlotAndOffersOnlyListedOnes)
{
    make_fifo(slot_path(4));  // no save, and never waited on
    Watchdog watchdog;
    EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_LOAD), SAVE_SLOT_NONE)
        << "no saves: nothing to show";
    store_slot(5, 2);
    store_slot(7, 3);  // an unknown version counts as empty
    key(SDLK_ESCAPE);
    EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_LOAD), SAVE_SLOT_NONE);
    ASSERT_EQ(shown(359, 22), opaque(QUARTERS[0][0])) << "slot 5 highlighted";
    // Neither Enter on empty slot 6 nor a click on slot 7 chooses; a later Esc ends the screen.
    key(SDLK_DOWN);
    key(SDLK_RETURN);
    click(105, 22 + 7 * 22);
    key_later(SDLK_ESCAPE);
    EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_LOAD), SAVE_SLOT_NONE);
    key(SDLK_RETURN);
    EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_LOAD), 5);
}

// Every measure doubles in HD mode; the expectations are the SD ones times k.
TEST_F(SlotScreenRunTest, SaveModeStartsOnTheFirstSlotShowsItsPreviewAndTheLastChoiceWins)
{
    scratch.enter();
    store_slot(0, 1);
    for (uint8_t hd : {0, 1}) {
        SCOPED_TRACE(hd ? "HD" : "SD");
        const int k = hd ? 2 : 1;
        engine_init(engine.get(), hd);
        engine->renderer = test_renderer();
        SDL_SetWindowSize(SDL_RenderGetWindow(test_renderer()), SCREEN_WIDTH * k, SCREEN_HEIGHT * k);
        ASSERT_TRUE(load_white_font(scratch, hd));
        engine->tint[0] = engine->tint[1] = engine->tint[2] = 255;
        engine->canvas_texture = make_filled_target(SCREEN_WIDTH * k, SCREEN_HEIGHT * k, 0xFFFFFFFF);
        key(SDLK_KP_ENTER);
        EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_SAVE), 0);
        // The slot's thumbnail fills the preview, quarter by quarter, and no more.
        const int px = 359 * k, py = 22 * k;
        for (int bottom : {0, 1})
            for (int right : {0, 1})
                EXPECT_EQ(shown(px + right * (160 * k - 1), py + bottom * (100 * k - 1)),
                          opaque(QUARTERS[bottom][right]));
        EXPECT_NE(shown(px + 160 * k, py + 100 * k - 1), opaque(QUARTERS[1][1]));

        // All events of a pass count: the pointer moves the highlight, the last
        // choice wins, the right button chooses nothing. The frame that takes the
        // choice is still shown, and empty slot 19 has no preview.
        key(SDLK_RETURN);
        push_motion(nullptr, (229 + 5) * k, (22 + 3 * 22 + 5) * k);
        key(SDLK_RETURN);
        click(105 * k, 22 * k, SDL_BUTTON_RIGHT);
        EXPECT_EQ(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_SAVE), 19);
        EXPECT_EQ(shown(px + 2 * k, py + 2 * k), opaque(0x0F0F14));
        EXPECT_NE(shown(SCREEN_WIDTH * k - 1, SCREEN_HEIGHT * k - 1), opaque(0xFFFFFF)) << "the game is dimmed";
        const int corner_x = (359 - 4 + 184) * k - 1, corner_y = (22 - 4 + 160) * k - 1;
        EXPECT_EQ(shown(corner_x, corner_y), opaque(0x646478)) << "the preview panel's outline";
        EXPECT_NE(shown(corner_x - 1, corner_y - 1), shown(corner_x + 1, corner_y + 1)) << "and its fill";
        const struct { const char* what; int x, y; uint32_t colour; } texts[] = {
            {"No preview", px + 40 * k, py + 46 * k, 0x666666},
            {"Slot 20", px, py + 108 * k, 0xFFFFFF},
            {"Empty", px, py + 124 * k, 0x888888},
            {"the highlighted line", (229 + 4) * k, (22 + 3 * 22 + 2) * k, 0xFFFFFF},
        };
        for (const auto& t : texts) {
            EXPECT_EQ(shown(t.x, t.y), opaque(t.colour)) << t.what;
            EXPECT_NE(shown(t.x - 1, t.y), opaque(t.colour)) << t.what;
            EXPECT_NE(shown(t.x, t.y - 1), opaque(t.colour)) << t.what;
        }
        SDL_DestroyTexture(engine->canvas_texture);
    }
}

using SlotScreenRunDeathTest = SlotScreenRunTest;

TEST_F(SlotScreenRunDeathTest, QuitEndsTheProgram)
{
    push_plain(SDL_QUIT);
    key(SDLK_ESCAPE);  // would end the screen if the quit were dropped
    EXPECT_EXIT(save_slot_screen(engine.get(), SAVE_SLOT_SCREEN_SAVE), ::testing::ExitedWithCode(0), "");
}
