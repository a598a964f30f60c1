#include "font_atlas.h"

#include "screen.h"

#include <stb_image_write.h>

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr int HEX_DIGITS_HALF_WIDTH = 32;  // 16 rows of 2 digits
constexpr int HEX_DIGITS_FULL_WIDTH = 64;  // 16 rows of 4 digits
constexpr int HEX_MAX_CODE_DIGITS = 8;
constexpr int RGBA_CHANNELS = 4;
constexpr uint8_t INK = 255;
constexpr uint8_t SINGLE_BYTE_FIRST_PRINTABLE = 0x20;
constexpr uint8_t SINGLE_BYTE_LAST_PRINTABLE = 0x7E;

// Shift-JIS pairs: two JIS rows share a lead byte; the trail byte skips 0x7F,
// and lead bytes jump from 0x9F to 0xE0.
constexpr int SJIS_LEAD_FIRST = 0x81;
constexpr int SJIS_LEAD_LOW_LAST = 0x9F;
constexpr int SJIS_LEAD_HIGH_SHIFT = 0x40;
constexpr int SJIS_TRAIL_EVEN_ROW_FIRST = 0x40;
constexpr int SJIS_TRAIL_SKIPPED = 0x7F;
constexpr int SJIS_TRAIL_ODD_ROW_FIRST = 0x9F;

constexpr int UTF32_BYTES = 4;
constexpr int SJIS_PAIR_BYTES = 2;

// The font draws these half width, but Japanese text expects "――" and ruled
// lines to run unbroken from one character into the next.
constexpr uint32_t HORIZONTAL_BAR = 0x2015;
constexpr uint32_t BOX_DRAWING_FIRST = 0x2500;
constexpr uint32_t BOX_DRAWING_LAST = 0x257F;

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool parse_hex_line(const char* line, size_t len, uint32_t* code, HexGlyph* glyph)
{
    const char* colon = static_cast<const char*>(memchr(line, ':', len));
    if (!colon || colon == line || colon - line > HEX_MAX_CODE_DIGITS)
        return false;
    uint32_t value = 0;
    for (const char* p = line; p < colon; p++) {
        int digit = hex_value(*p);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    const char* bits = colon + 1;
    size_t digits = len - static_cast<size_t>(bits - line);
    while (digits > 0 && (bits[digits - 1] == '\r' || bits[digits - 1] == ' '))
        digits--;
    if (digits != HEX_DIGITS_HALF_WIDTH && digits != HEX_DIGITS_FULL_WIDTH)
        return false;
    int digits_per_row = static_cast<int>(digits) / FONT_ATLAS_GLYPH_ROWS;
    glyph->width = digits_per_row * 4;
    for (int r = 0; r < FONT_ATLAS_GLYPH_ROWS; r++) {
        uint16_t row = 0;
        for (int d = 0; d < digits_per_row; d++) {
            int digit = hex_value(bits[r * digits_per_row + d]);
            if (digit < 0)
                return false;
            row = static_cast<uint16_t>(row << 4 | digit);
        }
        glyph->rows[r] = row;
    }
    *code = value;
    return true;
}

bool glyph_ink(const HexGlyph& glyph, int x, int y)
{
    if (x < 0 || y < 0 || x >= glyph.width || y >= FONT_ATLAS_GLYPH_ROWS)
        return false;
    return (glyph.rows[y] >> (glyph.width - 1 - x)) & 1;
}

void plot_ink(FontAtlasImage* image, int x, int y)
{
    uint8_t* px = &image->rgba[(static_cast<size_t>(y) * image->width + x) * RGBA_CHANNELS];
    px[3] = INK;
}

// Places a glyph with its top-left at (x, y) in scale-1 units. At scale 2 each
// pixel becomes four by the Scale2x rule, which keeps diagonal strokes from
// turning into staircases.
void draw_glyph(FontAtlasImage* image, const HexGlyph& glyph, int x, int y, int scale)
{
    for (int gy = 0; gy < FONT_ATLAS_GLYPH_ROWS; gy++) {
        for (int gx = 0; gx < glyph.width; gx++) {
            bool p = glyph_ink(glyph, gx, gy);
            if (scale == 1) {
                if (p)
                    plot_ink(image, x + gx, y + gy);
                continue;
            }
            bool a = glyph_ink(glyph, gx, gy - 1);
            bool b = glyph_ink(glyph, gx + 1, gy);
            bool c = glyph_ink(glyph, gx - 1, gy);
            bool d = glyph_ink(glyph, gx, gy + 1);
            bool quad[4] = {
                c == a && c != d && a != b ? a : p,
                a == b && a != c && b != d ? b : p,
                d == c && d != b && c != a ? c : p,
                b == d && b != a && d != c ? d : p,
            };
            int ox = (x + gx) * 2, oy = (y + gy) * 2;
            for (int q = 0; q < 4; q++) {
                if (quad[q])
                    plot_ink(image, ox + (q & 1), oy + (q >> 1));
            }
        }
    }
}

bool joins_its_neighbours(uint32_t codepoint)
{
    return codepoint == HORIZONTAL_BAR ||
           (codepoint >= BOX_DRAWING_FIRST && codepoint <= BOX_DRAWING_LAST);
}

// The glyph centred in a full-width cell with its outer columns repeated out
// to the cell's edges: a stroke that reaches its edge goes on into the next
// cell, one that stops short of it stays as drawn.
HexGlyph widened_to_full_cell(const HexGlyph& glyph)
{
    HexGlyph wide = {FONT_FULL_WIDTH, {}};
    const int offset = (FONT_FULL_WIDTH - glyph.width) / 2;
    for (int y = 0; y < FONT_ATLAS_GLYPH_ROWS; y++) {
        for (int x = 0; x < FONT_FULL_WIDTH; x++) {
            if (glyph_ink(glyph, std::clamp(x - offset, 0, glyph.width - 1), y))
                wide.rows[y] =
                    static_cast<uint16_t>(wide.rows[y] | 1u << (FONT_FULL_WIDTH - 1 - x));
        }
    }
    return wide;
}

const HexGlyph* find_glyph(const HexGlyphSet& glyphs, uint32_t code)
{
    auto it = glyphs.find(code);
    return it == glyphs.end() ? nullptr : &it->second;
}

bool write_png(const std::string& path, const FontAtlasImage& image)
{
    return stbi_write_png(path.c_str(), image.width, image.height, RGBA_CHANNELS, image.rgba.data(),
                          image.width * RGBA_CHANNELS) != 0;
}

}  // namespace

size_t font_atlas_parse_hex(const char* text, size_t len, HexGlyphSet* out)
{
    size_t count = 0;
    size_t pos = 0;
    while (pos < len) {
        const char* line = text + pos;
        const char* end = static_cast<const char*>(memchr(line, '\n', len - pos));
        size_t line_len = end ? static_cast<size_t>(end - line) : len - pos;
        uint32_t code;
        HexGlyph glyph;
        if (parse_hex_line(line, line_len, &code, &glyph)) {
            (*out)[code] = glyph;
            count++;
        }
        pos += line_len + 1;
    }
    return count;
}

bool font_atlas_load_hex(const std::string& path, HexGlyphSet* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return font_atlas_parse_hex(text.data(), text.size(), out) > 0;
}

uint16_t font_atlas_jis_to_sjis(int row, int cell)
{
    int lead = SJIS_LEAD_FIRST + row / 2;
    if (lead > SJIS_LEAD_LOW_LAST)
        lead += SJIS_LEAD_HIGH_SHIFT;
    int trail;
    if (row % 2 == 0) {
        trail = SJIS_TRAIL_EVEN_ROW_FIRST + cell;
        if (trail >= SJIS_TRAIL_SKIPPED)
            trail++;
    } else {
        trail = SJIS_TRAIL_ODD_ROW_FIRST + cell;
    }
    return static_cast<uint16_t>(lead << 8 | trail);
}

std::vector<uint32_t> font_atlas_jis_unicode_table()
{
    std::vector<uint32_t> table;
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return table;
    table.assign(static_cast<size_t>(FONT_ATLAS_JIS_ROWS) * FONT_ATLAS_JIS_CELLS, 0);
    for (int row = 0; row < FONT_ATLAS_JIS_ROWS; row++) {
        for (int cell = 0; cell < FONT_ATLAS_JIS_CELLS; cell++) {
            uint16_t sjis = font_atlas_jis_to_sjis(row, cell);
            char in[SJIS_PAIR_BYTES] = {static_cast<char>(sjis >> 8),
                                        static_cast<char>(sjis & 0xFF)};
            unsigned char out[UTF32_BYTES] = {};
            char* in_p = in;
            char* out_p = reinterpret_cast<char*>(out);
            size_t in_left = sizeof in, out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) ||
                in_left != 0 || out_left != 0)
                continue;
            table[static_cast<size_t>(row) * FONT_ATLAS_JIS_CELLS + cell] =
                static_cast<uint32_t>(out[0]) | static_cast<uint32_t>(out[1]) << 8 |
                static_cast<uint32_t>(out[2]) << 16 | static_cast<uint32_t>(out[3]) << 24;
        }
    }
    iconv_close(cd);
    return table;
}

FontAtlasImage font_atlas_build(const HexGlyphSet& glyphs, const std::vector<uint32_t>& jis_table,
                                int scale)
{
    FontAtlasImage image;
    image.width = FONT_ATLAS_SD_WIDTH * scale;
    image.height = FONT_ATLAS_SD_HEIGHT * scale;
    // Transparent white, so a filtered edge never darkens the tinted ink.
    image.rgba.resize(static_cast<size_t>(image.width) * image.height * RGBA_CHANNELS, INK);
    for (size_t i = 3; i < image.rgba.size(); i += RGBA_CHANNELS)
        image.rgba[i] = 0;

    for (int c = SINGLE_BYTE_FIRST_PRINTABLE; c <= SINGLE_BYTE_LAST_PRINTABLE; c++) {
        const HexGlyph* glyph = find_glyph(glyphs, static_cast<uint32_t>(c));
        if (glyph && glyph->width == FONT_HALF_WIDTH)
            draw_glyph(&image, *glyph, c * FONT_HALF_WIDTH, 0, scale);
    }
    for (size_t i = 0; i < jis_table.size(); i++) {
        const HexGlyph* glyph = jis_table[i] ? find_glyph(glyphs, jis_table[i]) : nullptr;
        if (!glyph)
            continue;
        HexGlyph widened;
        if (glyph->width < FONT_FULL_WIDTH && joins_its_neighbours(jis_table[i])) {
            widened = widened_to_full_cell(*glyph);
            glyph = &widened;
        }
        int x = static_cast<int>(i % FONT_ATLAS_CELLS_PER_ROW) * FONT_FULL_WIDTH;
        int y = static_cast<int>(i / FONT_ATLAS_CELLS_PER_ROW + 1) * FONT_HEIGHT;
        if (y + FONT_HEIGHT > FONT_ATLAS_SD_HEIGHT)
            break;
        // A half-width form in a full-width cell sits in the middle of it.
        int offset = (FONT_FULL_WIDTH - glyph->width) / 2;
        draw_glyph(&image, *glyph, x + offset, y, scale);
    }
    return image;
}

bool font_atlas_write(const std::string& folder, const HexGlyphSet& glyphs, std::string* error)
{
    std::vector<uint32_t> table = font_atlas_jis_unicode_table();
    if (table.empty()) {
        *error = "the system's iconv cannot convert from CP932";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const char* names[] = {FONT_ATLAS_SD_NAME, FONT_ATLAS_HD_NAME};
    for (int scale = 1; scale <= 2; scale++) {
        std::string path = folder + "/" + names[scale - 1];
        if (!write_png(path, font_atlas_build(glyphs, table, scale))) {
            *error = "cannot write " + path;
            return false;
        }
    }
    return true;
}
