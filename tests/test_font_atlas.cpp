#include "font_atlas.h"
#include "screen.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <string>
#include <utility>

namespace {

// A few glyphs in the .hex format: 'A' (half width), U+65E5 and U+3042 (full
// width), a half-width horizontal bar and box corner, plus lines the parser must skip.
const char FIXTURE_HEX[] =
    "0041:0000000018242442427E424242420000\n"
    "2015:000000000000000000FF000000000000\n"
    "250C:000000000000000F0808080808080808\n"
    "65E5:00000FF8080808080808080808080FF80808080808080808080808080FF80000\r\n"
    "3042:00000100010001601F800200022003F806240A421282210222041C0800300000\n"
    "0042:00FF\n"
    "XYZ1:0000000018242442427E424242420000\n"
    "\n";

struct DecodedPng {
    int w = 0, h = 0;
    stbi_uc* pixels = nullptr;
    ~DecodedPng() { stbi_image_free(pixels); }
    int alpha(int x, int y) const { return pixels[(static_cast<size_t>(y) * w + x) * 4 + 3]; }
};

void load_png(const std::string& path, DecodedPng* png)
{
    int channels = 0;
    png->pixels = stbi_load(path.c_str(), &png->w, &png->h, &channels, 4);
    ASSERT_NE(png->pixels, nullptr) << path;
}

bool hex_ink(const HexGlyph& glyph, int x, int y)
{
    return (glyph.rows[y] >> (glyph.width - 1 - x)) & 1;
}

class FontAtlasTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(font_atlas_parse_hex(FIXTURE_HEX, sizeof FIXTURE_HEX - 1, &glyphs_), 5u);
    }
    static HexGlyphSet glyphs_;
    ScratchDir dir_;
};

HexGlyphSet FontAtlasTest::glyphs_;

}  // namespace

TEST_F(FontAtlasTest, HexParserKeepsWellFormedGlyphsOnly)
{
    ASSERT_EQ(glyphs_.count(0x41), 1u);
    EXPECT_EQ(glyphs_.at(0x41).width, 8);
    EXPECT_EQ(glyphs_.at(0x65E5).width, 16);
    EXPECT_EQ(glyphs_.at(0x65E5).rows[1], 0x0FF8);
    EXPECT_EQ(glyphs_.count(0x42), 0u);
    HexGlyphSet none;
    EXPECT_FALSE(font_atlas_load_hex(dir_.file("missing.hex"), &none));
}

TEST_F(FontAtlasTest, EveryJisCellRoundTripsThroughTheEnginesShiftJisDecoding)
{
    for (int row = 0; row < FONT_ATLAS_JIS_ROWS; row++) {
        for (int cell = 0; cell < FONT_ATLAS_JIS_CELLS; cell++) {
            int32_t got_row = -1, got_cell = -1;
            font_sjis_to_jis(font_atlas_jis_to_sjis(row, cell), &got_row, &got_cell);
            ASSERT_EQ(got_row, row) << cell;
            ASSERT_EQ(got_cell, cell) << row;
        }
    }
    EXPECT_EQ(font_atlas_jis_to_sjis(0, 0), 0x8140);
    EXPECT_EQ(font_atlas_jis_to_sjis(37, 91), 0x93FA);  // U+65E5
}

TEST_F(FontAtlasTest, GlyphsLandInTheCellsTheEngineReadsAtBothScales)
{
    const std::pair<uint16_t, uint32_t> cases[] = {{0x41, 0x41}, {0x93FA, 0x65E5}, {0x82A0, 0x3042}};
    std::string error;
    ASSERT_TRUE(font_atlas_write(dir_.path(), glyphs_, &error)) << error;
    const char* names[] = {FONT_ATLAS_SD_NAME, FONT_ATLAS_HD_NAME};
    for (int scale = 1; scale <= 2; scale++) {
        DecodedPng png;
        load_png(dir_.file(names[scale - 1]), &png);
        ASSERT_EQ(png.w, FONT_ATLAS_SD_WIDTH * scale);
        ASSERT_EQ(png.h, FONT_ATLAS_SD_HEIGHT * scale);
        for (const auto& [code, codepoint] : cases) {
            const HexGlyph& glyph = glyphs_.at(codepoint);
            FontCell cell = font_glyph_cell(code, scale, false);
            ASSERT_EQ(cell.w, glyph.width * scale);
            // Smoothing may move a few edge pixels at scale 2, never the shape.
            int mismatches = 0, ink = 0;
            for (int y = 0; y < cell.h; y++) {
                for (int x = 0; x < cell.w; x++) {
                    bool want = hex_ink(glyph, x / scale, y / scale);
                    bool got = png.alpha(cell.x + x, cell.y + y) == 255;
                    ASSERT_TRUE(png.alpha(cell.x + x, cell.y + y) == 0 || got);
                    mismatches += want != got;
                    ink += want;
                }
            }
            if (scale == 1)
                EXPECT_EQ(mismatches, 0) << std::hex << code;
            else
                EXPECT_LT(mismatches * 4, ink) << std::hex << code;
        }
        // The bar (row 9) spans its whole cell, so "――" draws one line; the corner's
        // stroke (row 7) runs on to the right edge only, where its line goes.
        const FontCell bar = font_glyph_cell(0x815C, scale, false), corner = font_glyph_cell(0x84A1, scale, false);
        for (int x = 0; x < bar.w; x++) {
            EXPECT_EQ(png.alpha(bar.x + x, bar.y + 10 * scale - 1), 255) << x;
            EXPECT_EQ(png.alpha(corner.x + x, corner.y + 8 * scale - 1), x < bar.w / 2 ? 0 : 255) << x;
        }
        // Characters without a glyph in the fixture leave their cells empty.
        for (uint16_t code : {uint16_t{0x42}, uint16_t{0x93FB}}) {
            FontCell cell = font_glyph_cell(code, scale, false);
            for (int y = 0; y < cell.h; y++)
                for (int x = 0; x < cell.w; x++)
                    ASSERT_EQ(png.alpha(cell.x + x, cell.y + y), 0) << std::hex << code;
        }
    }
}
