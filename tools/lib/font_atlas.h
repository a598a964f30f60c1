// Builds the engine's font atlases (FONT_ATLAS_SD.PNG, FONT_ATLAS_GDI.PNG) from
// glyphs in the .hex bitmap-font format, one "CODEPOINT:HEXBITS" line per glyph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

constexpr int FONT_ATLAS_GLYPH_ROWS = 16;
constexpr int FONT_ATLAS_JIS_ROWS = 94;
constexpr int FONT_ATLAS_JIS_CELLS = 94;
constexpr int FONT_ATLAS_SD_WIDTH = 2048;
constexpr int FONT_ATLAS_SD_HEIGHT = 1136;
constexpr const char* FONT_ATLAS_DEFAULT_HEX = "/usr/share/unifont/unifont_jp.hex";
constexpr const char* FONT_ATLAS_SD_NAME = "FONT_ATLAS_SD.PNG";
constexpr const char* FONT_ATLAS_HD_NAME = "FONT_ATLAS_GDI.PNG";

// One glyph, 8 or 16 pixels wide and 16 high: pixel x of row r is ink when
// bit (width - 1 - x) of rows[r] is set.
struct HexGlyph {
    int width;
    uint16_t rows[FONT_ATLAS_GLYPH_ROWS];
};

using HexGlyphSet = std::unordered_map<uint32_t, HexGlyph>;

// Adds every glyph of .hex text to *out (a later line for the same code point
// replaces an earlier one). Lines that are not a hex code point, a colon and
// 32 or 64 hex digits are skipped. Returns the number of glyphs read.
size_t font_atlas_parse_hex(const char* text, size_t len, HexGlyphSet* out);

// Reads a .hex file into *out; false when the file cannot be read or holds no glyph.
bool font_atlas_load_hex(const std::string& path, HexGlyphSet* out);

// The Shift-JIS pair (lead byte high) of the 0-based JIS X 0208 row and cell.
uint16_t font_atlas_jis_to_sjis(int row, int cell);

// The Unicode code point of every JIS X 0208 character as CP932 maps its
// Shift-JIS pair, indexed by row * 94 + cell (0-based), 0 where unmapped.
// Empty when the system's iconv has no CP932 converter.
std::vector<uint32_t> font_atlas_jis_unicode_table();

struct FontAtlasImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // bytes R, G, B, A; white ink on transparent
};

// Draws the atlas at glyph scale 1 (2048x1136) or 2 (twice that, each glyph
// enlarged with edge-aware pixel doubling). Single-byte cells 0x20-0x7E take
// the ASCII glyphs; JIS cells take the glyph of jis_table's code point, the
// horizontal bar and the box-drawing lines stretched to join their neighbours.
// Characters without a glyph stay transparent.
FontAtlasImage font_atlas_build(const HexGlyphSet& glyphs, const std::vector<uint32_t>& jis_table,
                                int scale);

// Builds and writes both atlases into folder (created when missing). False
// with a message in *error when the mapping is unavailable or a file cannot be written.
bool font_atlas_write(const std::string& folder, const HexGlyphSet& glyphs, std::string* error);
