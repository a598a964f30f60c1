#include <gtest/gtest.h>

#include "archive.h"
#include "engine.h"
#include "kvr_writer.h"
#include "screen.h"
#include "render_fixture.h"
#include "test_support.h"

#include <SDL.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t TRANSPARENT = 0;
constexpr int TARGET_W = 256;
constexpr int TARGET_H = 128;

// An RGBA picture in memory, bytes R, G, B, A.
struct Rgba {
    int w, h;
    std::vector<uint8_t> bytes;
    Rgba(int w_, int h_) : w(w_), h(h_), bytes(static_cast<size_t>(w_) * h_ * 4) {}
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
    {
        uint8_t* p = &bytes[(static_cast<size_t>(y) * w + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
    Bytes png() const { return encode_png(w, h, bytes.data()); }
};

Rgba solid_atlas(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    Rgba atlas(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            atlas.set(x, y, r, g, b);
    return atlas;
}

// Every pixel names its own half-width column and glyph row at this scale,
// so a drawn glyph tells which source cell it came from.
Rgba addressed_atlas(int w, int h, int scale)
{
    Rgba atlas(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            atlas.set(x, y, static_cast<uint8_t>(x / (FONT_HALF_WIDTH * scale)),
                      static_cast<uint8_t>(y / (FONT_HEIGHT * scale)), 0x80);
    return atlas;
}

// The source cell's top-left as an addressed atlas encodes it into a pixel.
std::pair<int, int> decode_cell(uint32_t pixel, int scale)
{
    return {static_cast<int>(pixel >> 24) * FONT_HALF_WIDTH * scale,
            static_cast<int>((pixel >> 16) & 0xFF) * FONT_HEIGHT * scale};
}

class FontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test_renderer(), nullptr);
        scratch.enter();
    }
    void TearDown() override { arc_close(&g_arc_base); }

    // Installs a loose atlas and loads it.
    void load_atlas(const Rgba& atlas, uint8_t hd = 0)
    {
        write_file(scratch.file(hd ? "FONT_ATLAS_GDI.PNG" : "FONT_ATLAS_SD.PNG"), atlas.png());
        ASSERT_TRUE(font_init(test_renderer(), hd));
    }

    // Draws into a fresh target and returns what it holds.
    Pixels draw_string(const char* text, uint32_t colour, int x = 0, int y = 0)
    {
        return draw_to_target(TARGET_W, TARGET_H, [&] { font_draw_string(test_renderer(), x, y, text, colour); });
    }

    Pixels draw_glyph(uint16_t code, uint32_t colour, int x = 0, int y = 0)
    {
        return draw_to_target(TARGET_W, TARGET_H, [&] { font_draw_glyph(test_renderer(), x, y, code, colour); });
    }

    ScratchDir scratch;
};

TEST(FontCellTest, SourceCellsInBothLayoutsAndScales)
{
    struct Case {
        uint16_t code;
        int32_t scale;
        bool bmp;
        FontCell cell;
    };
    const Case cases[] = {
        {0x41, 1, false, {520, 0, 8, 16}},
        {0x41, 1, true, {520, 0, 8, 16}},
        {0x41, 2, false, {1040, 0, 16, 32}},
        {0x8140, 1, false, {0, 16, 16, 16}},
        {0x829F, 1, false, {416, 48, 16, 16}},
        {0x82A0, 1, false, {432, 48, 16, 16}},
        {0x889F, 1, false, {32, 192, 16, 16}},
        {0x8180, 1, false, {1008, 16, 16, 16}},
        {0x9FFC, 1, false, {1072, 736, 16, 16}},
        {0xE040, 1, false, {1088, 736, 16, 16}},
        {0x829F, 2, false, {832, 96, 32, 32}},
        // The last JIS X 0208 cell (94, 94) closes a 2048x1136 atlas.
        {0xEFFC, 1, false, {(8835 % 128) * 16, 1120, 16, 16}},
        {0x829F, 1, true, {0, 64, 16, 16}},
        {0x9FFC, 1, true, {1488, 992, 16, 16}},
        {0xE040, 1, true, {0, 1008, 16, 16}},
        {0x829F, 2, true, {0, 128, 32, 32}},
    };
    for (const Case& c : cases) {
        FontCell cell = font_glyph_cell(c.code, c.scale, c.bmp);
        EXPECT_EQ(cell.x, c.cell.x) << std::hex << c.code << " scale " << c.scale << " bmp " << c.bmp;
        EXPECT_EQ(cell.y, c.cell.y) << std::hex << c.code << " scale " << c.scale << " bmp " << c.bmp;
        EXPECT_EQ(cell.w, c.cell.w) << std::hex << c.code;
        EXPECT_EQ(cell.h, c.cell.h) << std::hex << c.code;
    }
}

TEST(FontCellTest, LoneHighBytesLieOutsideAnyFont)
{
    for (uint16_t b = 0x80; b <= 0xFF; b++)
        for (bool bmp : {false, true}) {
            FontCell cell = font_glyph_cell(b, 1, bmp);
            EXPECT_TRUE(cell.x + cell.w <= 0 || cell.y + cell.h <= 0) << std::hex << b;
        }
}

// Compared: every two-byte code with a lead byte 0x81-0x9F or 0xE0-0xEF and
// a trail byte 0x40-0x7E or 0x80-0xFC (the Shift-JIS trail range) that
// glibc's strict SHIFT_JIS table assigns to a JIS X 0208 character, i.e. one
// that iconv converts to a two-byte EUC-JP code with both bytes in
// 0xA1-0xFE. Unassigned codes (iconv rejects them) have no reference row and
// cell and are skipped.
TEST(FontCellTest, ShiftJisMapsToTheJisRowAndCellThatIconvGives)
{
    iconv_t cd = iconv_open("EUC-JP", "SHIFT_JIS");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int compared = 0;
    for (int lead = 0x81; lead <= 0xEF; lead++) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (int trail = 0x40; trail <= 0xFC; trail++) {
            if (trail == 0x7F)
                continue;
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char out[8] = {};
            char* in_p = in;
            char* out_p = out;
            size_t in_left = sizeof in, out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1))
                continue;
            auto b0 = static_cast<uint8_t>(out[0]), b1 = static_cast<uint8_t>(out[1]);
            if (out_p - out != 2 || b0 < 0xA1 || b0 > 0xFE || b1 < 0xA1 || b1 > 0xFE)
                continue;
            int32_t row = -1, cell = -1;
            uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
            font_sjis_to_jis(code, &row, &cell);
            ASSERT_EQ(row, b0 - 0xA1) << std::hex << code;
            ASSERT_EQ(cell, b1 - 0xA1) << std::hex << code;
            compared++;
        }
    }
    iconv_close(cd);
    // Every character JIS X 0208 assigns was checked.
    EXPECT_EQ(compared, 6879);
}

TEST_F(FontTest, GlyphIsCopiedFromItsAtlasCellToTheGivenPosition)
{
    load_atlas(addressed_atlas(2048, 768, 1));
    EXPECT_FALSE(font_uses_bitmap_layout());
    for (uint16_t code : {0x41, 0x8140, 0x829F, 0x889F, 0x9FFC, 0xE040}) {
        Pixels p = draw_glyph(code, 0xFFFFFF, 5, 7);
        FontCell want = font_glyph_cell(code, 1, false);
        auto [sx, sy] = decode_cell(pixel_at(p, TARGET_W, 5, 7), 1);
        EXPECT_EQ(sx, want.x) << std::hex << code;
        EXPECT_EQ(sy, want.y) << std::hex << code;
        EXPECT_NE(pixel_at(p, TARGET_W, 5 + want.w - 1, 7 + want.h - 1), TRANSPARENT);
        EXPECT_EQ(pixel_at(p, TARGET_W, 5 + want.w, 7), TRANSPARENT) << std::hex << code;
        EXPECT_EQ(pixel_at(p, TARGET_W, 5, 7 + want.h), TRANSPARENT) << std::hex << code;
        EXPECT_EQ(pixel_at(p, TARGET_W, 4, 7), TRANSPARENT) << std::hex << code;
    }
}

TEST_F(FontTest, HdFontDoublesSourceAndDestination)
{
    load_atlas(addressed_atlas(1024, 256, 2), 1);
    EXPECT_EQ(font_get_scale(), 2);
    Pixels p = draw_glyph(0x829F, 0xFFFFFF, 3, 1);
    auto [sx, sy] = decode_cell(pixel_at(p, TARGET_W, 3, 1), 2);
    EXPECT_EQ(sx, 832);
    EXPECT_EQ(sy, 96);
    EXPECT_NE(pixel_at(p, TARGET_W, 3 + 31, 1 + 31), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, TARGET_W, 3 + 32, 1), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, TARGET_W, 3, 1 + 32), TRANSPARENT);

    int w = 0, h = 0;
    SDL_QueryTexture(text_layer_get(), nullptr, nullptr, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 800);
}

TEST_F(FontTest, GlyphIsTintedWithTheColourAndIgnoresTheTopByte)
{
    load_atlas(solid_atlas(1024, 64, 255, 255, 255));
    Pixels p = draw_glyph(0x41, 0xAB123456, 0, 0);
    uint32_t got = pixel_at(p, TARGET_W, 4, 8);
    EXPECT_NEAR(static_cast<int>(got >> 24), 0x12, 1);
    EXPECT_NEAR(static_cast<int>((got >> 16) & 0xFF), 0x34, 1);
    EXPECT_NEAR(static_cast<int>((got >> 8) & 0xFF), 0x56, 1);
    EXPECT_EQ(got & 0xFF, 0xFFu);
}

TEST_F(FontTest, AtlasInBaseArchiveComesBeforeLooseFiles)
{
    KvrArchiveSpec spec;
    spec.entries.push_back({"FONT_ATLAS_SD.PNG", solid_atlas(1024, 64, 255, 0, 0).png(), true});
    write_file(scratch.file("base.dat"), kvr_build_archive(spec));
    write_file(scratch.file("FONT_ATLAS_SD.PNG"), solid_atlas(1024, 64, 0, 255, 0).png());
    arc_open_base_and_hd();
    ASSERT_TRUE(font_init(test_renderer(), 0));
    EXPECT_EQ(pixel_at(draw_glyph('A', 0xFFFFFF), TARGET_W, 2, 2), opaque(0xFF0000));
}

TEST_F(FontTest, UndecodableArchiveAtlasFallsBackToLooseFile)
{
    KvrArchiveSpec spec;
    spec.entries.push_back({"FONT_ATLAS_SD.PNG", Bytes{0x89, 'P', 'N', 'G', 1, 2, 3}, false});
    write_file(scratch.file("base.dat"), kvr_build_archive(spec));
    write_file(scratch.file("assets/FONT_ATLAS_SD.PNG"), solid_atlas(1024, 64, 0, 255, 0).png());
    arc_open_base_and_hd();
    ASSERT_TRUE(font_init(test_renderer(), 0));
    EXPECT_EQ(pixel_at(draw_glyph('A', 0xFFFFFF), TARGET_W, 2, 2), opaque(0x00FF00));
}

TEST_F(FontTest, LooseFileSearchTriesFoldersInOrder)
{
    write_file(scratch.file("work/FONT_ATLAS_SD.PNG"), Bytes{'n', 'o', 't'});
    write_file(scratch.file("work/assets/FONT_ATLAS_SD.PNG"), solid_atlas(1024, 64, 0, 0, 255).png());
    write_file(scratch.file("FONT_ATLAS_SD.PNG"), solid_atlas(1024, 64, 255, 0, 0).png());
    ASSERT_EQ(chdir(scratch.file("work").c_str()), 0);
    ASSERT_TRUE(font_init(test_renderer(), 0));
    EXPECT_EQ(pixel_at(draw_glyph('A', 0xFFFFFF), TARGET_W, 2, 2), opaque(0x0000FF));
}

TEST_F(FontTest, FallbackBitmapBecomesWhiteInkWhereItIsDark)
{
    // One JIS row below the single-byte row; cell (1, 2) is dark but for one
    // pixel just too bright, and one pixel exactly at the ink limit.
    SDL_Surface* bmp = SDL_CreateRGBSurfaceWithFormat(0, 64, 32, 24, SDL_PIXELFORMAT_RGB24);
    ASSERT_NE(bmp, nullptr);
    SDL_FillRect(bmp, nullptr, SDL_MapRGB(bmp->format, 255, 255, 255));
    SDL_Rect cell = {16, 16, 16, 16};
    SDL_FillRect(bmp, &cell, SDL_MapRGB(bmp->format, 0, 0, 0));
    SDL_Rect bright = {20, 20, 1, 1};
    SDL_FillRect(bmp, &bright, SDL_MapRGB(bmp->format, 129, 0, 0));
    SDL_Rect limit = {21, 20, 1, 1};
    SDL_FillRect(bmp, &limit, SDL_MapRGB(bmp->format, 128, 128, 128));
    ASSERT_EQ(SDL_SaveBMP(bmp, scratch.file("FREECG98.BMP").c_str()), 0);
    SDL_FreeSurface(bmp);

    ASSERT_TRUE(font_init(test_renderer(), 0));
    EXPECT_TRUE(font_uses_bitmap_layout());
    Pixels p = draw_glyph(0x8141, 0xFF0000);
    EXPECT_EQ(pixel_at(p, TARGET_W, 0, 0), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, TARGET_W, 15, 15), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, TARGET_W, 5, 4), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, TARGET_W, 4, 4), TRANSPARENT);
    // The light paper of the cell beside it is transparent.
    EXPECT_EQ(pixel_at(draw_glyph(0x8140, 0xFF0000), TARGET_W, 8, 8), TRANSPARENT);
}

TEST_F(FontTest, NoFontLeavesNoLayerAndDrawsNothing)
{
    // FIFOs under the fonts' names are no fonts, and are never waited on.
    make_fifo(scratch.file("FONT_ATLAS_SD.PNG"));
    make_fifo(scratch.file("FREECG98.BMP"));
    Watchdog watchdog;
    EXPECT_FALSE(font_init(test_renderer(), 0));
    EXPECT_EQ(font_get_texture(), nullptr);
    EXPECT_EQ(text_layer_get(), nullptr);
    EXPECT_EQ(font_get_debug_texture(), nullptr);
    Pixels p = draw_string("AB\x82\xA0", 0xFFFFFF);
    for (uint32_t pixel : p)
        ASSERT_EQ(pixel, TRANSPARENT);

    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 0);
    engine->renderer = test_renderer();
    text_layer_clear(test_renderer());
    text_layer_clear_rect(engine.get(), 0, 0, 10, 10);
    text_layer_scroll(engine.get(), 0, 0, 640, 400, 16);
    text_layer_present(test_renderer());
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
}

TEST_F(FontTest, StringAdvancesByCellsAndLineFeedsReturnUnderTheStart)
{
    const uint32_t ink = opaque(0xFFFFFF);
    for (uint8_t hd : {0, 1}) {
        const int s = hd ? 2 : 1;
        load_atlas(solid_atlas(2048, 64, 255, 255, 255), hd);
        Pixels p = draw_string("\x81\x40" "AB\nC", 0xFFFFFF, 10, 20);
        EXPECT_EQ(pixel_at(p, TARGET_W, 10, 20), ink) << s;                          // the pair
        EXPECT_EQ(pixel_at(p, TARGET_W, 10 + 32 * s - 1, 20 + 16 * s - 1), ink) << s;  // B's last pixel
        EXPECT_EQ(pixel_at(p, TARGET_W, 10 + 32 * s, 20), TRANSPARENT) << s;
        EXPECT_EQ(pixel_at(p, TARGET_W, 9, 20), TRANSPARENT) << s;
        EXPECT_EQ(pixel_at(p, TARGET_W, 10, 20 + 16 * s), TRANSPARENT) << s;  // lines are 18 apart, glyphs 16 high
        EXPECT_EQ(pixel_at(p, TARGET_W, 10, 20 + 18 * s), ink) << s;          // C
        EXPECT_EQ(pixel_at(p, TARGET_W, 10 + 8 * s - 1, 20 + 34 * s - 1), ink) << s;
        EXPECT_EQ(pixel_at(p, TARGET_W, 10 + 8 * s, 20 + 18 * s), TRANSPARENT) << s;
    }
}

TEST_F(FontTest, ColourCodesChangeTheColourForTheRestOfTheString)
{
    load_atlas(solid_atlas(1024, 64, 255, 255, 255));
    struct Case {
        const char* text;
        uint32_t colour;
    };
    const Case cases[] = {
        {"[P2]x", 0x00FF00},
        {"[P3]x", 0x00FFFF},
        {"[P5]x", 0xFF00FF},
        {"[P7]x", 0xFFFFFF},
        {"[P9]x", 0x0000FF},  // digits wrap at 8
        {"[P8]x", 0x000000},
        {"[P4x", 0xFF0000},   // the closing bracket is optional
    };
    for (const Case& c : cases) {
        Pixels p = draw_string(c.text, 0x808080);
        EXPECT_EQ(pixel_at(p, TARGET_W, 0, 0), opaque(c.colour)) << c.text;  // the code takes no room
        EXPECT_EQ(pixel_at(p, TARGET_W, 8, 0), TRANSPARENT) << c.text;
    }

    Pixels mixed = draw_string("a[P6]b\nc", 0xFFFFFF);
    EXPECT_EQ(pixel_at(mixed, TARGET_W, 0, 0), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(mixed, TARGET_W, 8, 0), opaque(0xFFFF00));
    EXPECT_EQ(pixel_at(mixed, TARGET_W, 0, 18), opaque(0xFFFF00));  // lasts past the line feed
    // ...but not into the next call.
    EXPECT_EQ(pixel_at(draw_string("x", 0xFFFFFF), TARGET_W, 0, 0), opaque(0xFFFFFF));
}

TEST_F(FontTest, BracketsThatAreNotColourCodesAreDrawn)
{
    load_atlas(solid_atlas(1024, 64, 255, 255, 255));
    for (const char* text : {"[Q1]", "[P]x", "[Px]"}) {
        Pixels p = draw_string(text, 0x00FFFF);
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(pixel_at(p, TARGET_W, i * 8 + 1, 1), opaque(0x00FFFF)) << text << " char " << i;
        EXPECT_EQ(pixel_at(p, TARGET_W, 33, 1), TRANSPARENT) << text;
    }
}

// In a window scaled by a fraction, held exactly by a float (1000 wide) or not (1368), no row
// of a string has a hole where a column was dropped (every pixel of an addressed cell is ink),
// and no cell reads its neighbour in the atlas (the overline below the space, the next letter).
TEST_F(FontTest, StringInAWindowScaledByAFractionDropsNoColumnAndReadsNoOtherCell)
{
    write_file(scratch.file("FONT_ATLAS_SD.PNG"), addressed_atlas(2048, 64, 1).png());
    for (const int w : {1000, 1368})
        for (const bool gl : {false, true}) {
            // GL where the video driver has it (offscreen does); the windows stay: they own the font.
            const int h = w * SCREEN_HEIGHT / SCREEN_WIDTH;
            SDL_Window* window = SDL_CreateWindow("scaled", 0, 0, w, h, SDL_WINDOW_HIDDEN | (gl ? SDL_WINDOW_OPENGL : 0));
            const Uint32 kind = SDL_RENDERER_TARGETTEXTURE | (gl ? SDL_RENDERER_ACCELERATED : SDL_RENDERER_SOFTWARE);
            SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, kind) : nullptr;
            if (!renderer)
                continue;
            SDL_RenderSetLogicalSize(renderer, SCREEN_WIDTH, SCREEN_HEIGHT);
            ASSERT_TRUE(font_init(renderer, 0));
            SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
            SDL_RenderClear(renderer);
            font_draw_string(renderer, 3, 8, "A_ \n ~C", 0xFFFFFF);
            Pixels p(static_cast<size_t>(w) * h);
            ASSERT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGBA8888, p.data(), w * 4), 0);
            for (int y = 0; y < h; y++) {
                int runs = 0;
                for (int x = 0; x < w; x++) {
                    const uint32_t c = pixel_at(p, w, x, y);
                    ASSERT_TRUE(c == opaque(0) || (std::string("A_ ~C").find(static_cast<char>(c >> 24)) !=
                                                   std::string::npos && (c & 0xFFFFFF) == 0x0080FF)) << std::hex << c;
                    runs += c != opaque(0) && (x == 0 || pixel_at(p, w, x - 1, y) == opaque(0));
                }
                ASSERT_LE(runs, 1) << "row " << y << (gl ? " GL " : " software ") << w;
            }
        }
}

TEST_F(FontTest, CutPairsAndLoneHighBytes)
{
    load_atlas(solid_atlas(1024, 64, 255, 255, 255));
    Pixels cut = draw_string("A\x82", 0xFFFFFF);
    EXPECT_EQ(pixel_at(cut, TARGET_W, 0, 0), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(cut, TARGET_W, 8, 0), TRANSPARENT);

    // A half-width katakana byte has no cell in the font but keeps its place.
    Pixels lone = draw_string("\xA0" "B", 0xFFFFFF);
    EXPECT_EQ(pixel_at(lone, TARGET_W, 0, 0), TRANSPARENT);
    EXPECT_EQ(pixel_at(lone, TARGET_W, 8, 0), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(lone, TARGET_W, 16, 0), TRANSPARENT);

    for (uint32_t pixel : draw_string(nullptr, 0xFFFFFF))
        ASSERT_EQ(pixel, TRANSPARENT);
}

class TextLayerTest : public FontTest {
protected:
    void SetUp() override
    {
        FontTest::SetUp();
        load_atlas(solid_atlas(1024, 64, 255, 255, 255));
        engine = std::make_unique<Engine>();
        engine_init(engine.get(), 0);
        engine->renderer = test_renderer();
    }

    // Paints row y of the layer in a colour that names the row.
    static uint32_t row_colour(int y) { return static_cast<uint32_t>(y & 0xFF) << 24 | (y >> 8) << 16 | 0x40FF; }
    void paint_rows()
    {
        for (int y = 0; y < SCREEN_HEIGHT; y++)
            fill_target_rect(text_layer_get(), {0, y, SCREEN_WIDTH, 1}, row_colour(y));
    }

    std::unique_ptr<Engine> engine;
};

TEST_F(TextLayerTest, LayerStartsTransparentAndClearEmptiesIt)
{
    SDL_Texture* layer = text_layer_get();
    ASSERT_NE(layer, nullptr);
    uint32_t format = 0;
    int w = 0, h = 0;
    SDL_QueryTexture(layer, &format, nullptr, &w, &h);
    EXPECT_EQ(format, static_cast<uint32_t>(SDL_PIXELFORMAT_RGBA8888));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 400);
    for (uint32_t pixel : read_render_target(layer))
        ASSERT_EQ(pixel, TRANSPARENT);

    paint_rows();
    text_layer_clear(test_renderer());
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
    for (uint32_t pixel : read_render_target(layer))
        ASSERT_EQ(pixel, TRANSPARENT);
}

TEST_F(TextLayerTest, ClearRectClearsOnlyItsRectangleAndLeavesBlending)
{
    paint_rows();
    SDL_SetRenderDrawBlendMode(test_renderer(), SDL_BLENDMODE_MOD);
    text_layer_clear_rect(engine.get(), 10, 20, 30, 40);
    Pixels p = read_render_target(text_layer_get());
    EXPECT_EQ(pixel_at(p, 640, 10, 20), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 39, 59), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 40, 30), row_colour(30));
    EXPECT_EQ(pixel_at(p, 640, 9, 30), row_colour(30));
    EXPECT_EQ(pixel_at(p, 640, 10, 60), row_colour(60));
    SDL_BlendMode mode;
    SDL_GetRenderDrawBlendMode(test_renderer(), &mode);
    EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
}

TEST_F(TextLayerTest, ScrollMovesTheRectangleUpAndClearsItsBottom)
{
    paint_rows();
    text_layer_scroll(engine.get(), 0, 0, 640, 400, 16);
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
    Pixels p = read_render_target(text_layer_get());
    for (int y = 0; y < 384; y++)
        ASSERT_EQ(pixel_at(p, 640, 320, y), row_colour(y + 16)) << "row " << y;
    for (int y = 384; y < 400; y++)
        ASSERT_EQ(pixel_at(p, 640, 639, y), TRANSPARENT) << "row " << y;
}

TEST_F(TextLayerTest, ScrollOfAWindowLeavesTheRestAlone)
{
    paint_rows();
    text_layer_scroll(engine.get(), 100, 50, 200, 64, 16);
    Pixels p = read_render_target(text_layer_get());
    EXPECT_EQ(pixel_at(p, 640, 100, 50), row_colour(66));
    EXPECT_EQ(pixel_at(p, 640, 299, 97), row_colour(113));
    EXPECT_EQ(pixel_at(p, 640, 150, 98), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 150, 113), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 150, 114), row_colour(114));
    EXPECT_EQ(pixel_at(p, 640, 150, 49), row_colour(49));
    EXPECT_EQ(pixel_at(p, 640, 99, 60), row_colour(60));
    EXPECT_EQ(pixel_at(p, 640, 300, 60), row_colour(60));
}

TEST_F(TextLayerTest, ScrollMovesOnlyThePartOfTheRectangleOnTheLayer)
{
    const struct {
        int32_t x, y, w, h, dy;
        int first_row;  // the first row on the layer that the rectangle covers
    } cases[] = {
        {0, 0, INT32_MAX, 400, 16, 0},
        {-100, -100, 740, 500, 16, 0},
        {0, 392, 640, INT32_MAX, 4, 392},
        {0, 392, 640, INT32_MAX, 8, 392},
    };
    for (const auto& c : cases) {
        paint_rows();
        text_layer_scroll(engine.get(), c.x, c.y, c.w, c.h, c.dy);
        const Pixels p = read_render_target(text_layer_get());
        for (int y = 0; y < 400; y++) {
            const uint32_t want = y < c.first_row ? row_colour(y) : y + c.dy < 400 ? row_colour(y + c.dy) : TRANSPARENT;
            ASSERT_EQ(pixel_at(p, 640, 320, y), want) << c.y << " row " << y;
        }
    }
}

TEST_F(TextLayerTest, ScrollKeepsHalfTransparentPixelsExactly)
{
    fill_target_rect(text_layer_get(), {5, 20, 1, 1}, 0xC8643280);
    text_layer_scroll(engine.get(), 0, 0, 640, 400, 16);
    EXPECT_EQ(pixel_at(read_render_target(text_layer_get()), 640, 5, 4), 0xC8643280u);
}

TEST_F(TextLayerTest, ScrollByNothingOrTheWholeHeightChangesNothing)
{
    paint_rows();
    Pixels before = read_render_target(text_layer_get());
    for (int32_t dy : {0, -16, 400, 401})
        text_layer_scroll(engine.get(), 0, 0, 640, 400, dy);
    EXPECT_EQ(read_render_target(text_layer_get()), before);
}

TEST_F(TextLayerTest, PresentLaysTheLayerOverTheCurrentTarget)
{
    fill_target_rect(text_layer_get(), {8, 8, 4, 4}, opaque(0x00FF00));
    Pixels p = draw_to_target(640, 400, [] { text_layer_present(test_renderer()); }, opaque(0x0000FF));
    EXPECT_EQ(pixel_at(p, 640, 9, 9), opaque(0x00FF00));
    EXPECT_EQ(pixel_at(p, 640, 20, 20), opaque(0x0000FF));
}

}  // namespace
