// The font: one texture, a PNG atlas or the fallback bitmap turned into a
// white mask, drawn one cell per character with the colour applied as
// colour modulation.
#include "screen.h"

#include "archive.h"
#include "platform.h"

#include <SDL.h>
#include <stb_image.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

const uint32_t FONT_ESCAPE_COLOURS[FONT_ESCAPE_COLOUR_COUNT] = {
    0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

static SDL_Texture* g_font_texture = nullptr;
static int32_t g_font_scale = 1;
static bool g_font_bmp_layout = false;
// A second renderer with its own font; nothing creates them, so they stay null.
static SDL_Renderer* g_debug_renderer = nullptr;
static SDL_Texture* g_debug_font_texture = nullptr;

constexpr const char* FONT_ATLAS_SD = "FONT_ATLAS_SD.PNG";
constexpr const char* FONT_ATLAS_HD = "FONT_ATLAS_GDI.PNG";
constexpr const char* FONT_FALLBACK_BMP = "FREECG98.BMP";
constexpr const char* const FONT_SEARCH_FORMATS[] = {"%s", "assets/%s", "../%s", "../../%s"};
constexpr size_t FONT_PATH_CAPACITY = 256;
constexpr int FONT_RGBA_CHANNELS = 4;

constexpr uint16_t FONT_SINGLE_BYTE_LIMIT = 0x80;
constexpr uint16_t FONT_SINGLE_BYTE_MASK = 0x7F;
constexpr int32_t SJIS_LEAD_FIRST = 0x81;
constexpr int32_t SJIS_LEAD_HIGH_BLOCK = 0xE0;
constexpr int32_t SJIS_LEAD_HIGH_SHIFT = 0x40;
constexpr int32_t SJIS_TRAIL_GAP = 0x80;  // 0x7F is never a trail byte; later ones close up
constexpr int32_t SJIS_TRAIL_FIRST = 0x40;
constexpr int32_t SJIS_TRAIL_EVEN_ROW = 0x9E;  // from here the trail byte is in the even row

// Fallback bitmap pixels at or below this in all three channels are ink.
constexpr uint8_t FONT_BMP_INK_LIMIT = 128;
constexpr uint32_t FONT_BMP_INK = 0xFFFFFFFF;
constexpr uint32_t FONT_BMP_PAPER = 0;

// Where a BMP file's header keeps the picture's size: after the 14-byte file
// header comes the info header's own size, then width and height, 16 bits
// each in the oldest (12-byte) form and 32 bits each in all later ones.
constexpr size_t BMP_HEADER_SIZE_AT = 14;
constexpr size_t BMP_SIZES_AT = 18;
constexpr uint32_t BMP_CORE_HEADER_SIZE = 12;
constexpr size_t BMP_SIZE_FIELDS_END = 26;

// How far past an output pixel's edge a cell's scaled edge is put, in output pixels.
constexpr double FONT_EDGE_NUDGE = 1.0 / 64;

// String bytes.
constexpr uint8_t STR_LINE_FEED = 0x0A;
constexpr uint8_t STR_SJIS_LEAD_LOW_LAST = 0x9F;
constexpr uint8_t STR_SJIS_LEAD_HIGH_FIRST = 0xE0;
constexpr uint8_t STR_SJIS_LEAD_HIGH_LAST = 0xFC;

void font_sjis_to_jis(uint16_t code, int32_t* row, int32_t* cell)
{
    int32_t hi = code >> 8;
    int32_t lo = code & 0xFF;
    if (hi >= SJIS_LEAD_HIGH_BLOCK)
        hi -= SJIS_LEAD_HIGH_SHIFT;
    int32_t base = 2 * (hi - SJIS_LEAD_FIRST);
    int32_t lo2 = lo >= SJIS_TRAIL_GAP ? lo - 1 : lo;
    if (lo2 < SJIS_TRAIL_EVEN_ROW) {
        *cell = lo2 - SJIS_TRAIL_FIRST;
        *row = base;
    } else {
        *cell = lo2 - SJIS_TRAIL_EVEN_ROW;
        *row = base + 1;
    }
}

FontCell font_glyph_cell(uint16_t code, int32_t scale, bool bmp_layout)
{
    if (code < FONT_SINGLE_BYTE_LIMIT)
        return {(code & FONT_SINGLE_BYTE_MASK) * FONT_HALF_WIDTH * scale, 0,
                FONT_HALF_WIDTH * scale, FONT_HEIGHT * scale};

    int32_t row, cell;
    font_sjis_to_jis(code, &row, &cell);
    int32_t size = FONT_FULL_WIDTH * scale;
    if (bmp_layout)
        return {cell * size, (row + 1) * size, size, size};
    // C++ division truncates toward zero, so invalid codes with a negative
    // index land left of or above the texture and draw nothing.
    int32_t index = row * FONT_JIS_CELLS_PER_ROW + cell;
    return {(index % FONT_ATLAS_CELLS_PER_ROW) * size, (index / FONT_ATLAS_CELLS_PER_ROW + 1) * size,
            size, size};
}

// A static ABGR8888 texture (bytes R, G, B, A, as stb_image delivers them)
// holding the decoded pixels, or null.
static SDL_Texture* font_texture_from_rgba(SDL_Renderer* renderer, const uint8_t* pixels, int w,
                                           int h)
{
    SDL_Texture* texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!texture)
        return nullptr;
    SDL_UpdateTexture(texture, nullptr, pixels, w * FONT_RGBA_CHANNELS);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    return texture;
}

static SDL_Texture* font_load_from_archive(SDL_Renderer* renderer, const char* name)
{
    int w = 0, h = 0;
    uint8_t* pixels = img_decode_rgba_asset(renderer, name, &w, &h);
    if (!pixels)
        return nullptr;
    SDL_Texture* texture = font_texture_from_rgba(renderer, pixels, w, h);
    stbi_image_free(pixels);
    return texture;
}

static SDL_Texture* font_load_loose(SDL_Renderer* renderer, const char* name)
{
    for (const char* format : FONT_SEARCH_FORMATS) {
        char path[FONT_PATH_CAPACITY];
        snprintf(path, sizeof path, format, name);
        int w = 0, h = 0;
        uint8_t* pixels = img_decode_rgba_file(renderer, path, &w, &h);
        if (!pixels)
            continue;
        SDL_Texture* texture = font_texture_from_rgba(renderer, pixels, w, h);
        stbi_image_free(pixels);
        if (texture)
            return texture;
    }
    return nullptr;
}

static uint32_t font_bmp_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The size a BMP file's header declares, read from the stream and put back
// where it was, so the bitmap loader is never handed a size it would have
// to allocate blindly. False when it is no BMP header.
static bool font_bitmap_size(SDL_RWops* stream, int64_t* w, int64_t* h)
{
    uint8_t head[BMP_SIZE_FIELDS_END];
    const Sint64 start = SDL_RWtell(stream);
    const bool read = SDL_RWread(stream, head, sizeof head, 1) == 1;
    if (SDL_RWseek(stream, start, RW_SEEK_SET) != start || !read || head[0] != 'B' || head[1] != 'M')
        return false;
    const uint8_t* sizes = head + BMP_SIZES_AT;
    if (font_bmp_u32(head + BMP_HEADER_SIZE_AT) == BMP_CORE_HEADER_SIZE) {
        *w = sizes[0] | sizes[1] << 8;
        *h = sizes[2] | sizes[3] << 8;
        return true;
    }
    // A negative height marks a picture stored top row first.
    *w = static_cast<int32_t>(font_bmp_u32(sizes));
    *h = std::abs(static_cast<int64_t>(static_cast<int32_t>(font_bmp_u32(sizes + 4))));
    return true;
}

// The first fallback bitmap that loads, or null. One larger than a texture
// or than IMG_PIXEL_CAP counts as one that does not load.
static SDL_Surface* font_find_bitmap(SDL_Renderer* renderer)
{
    for (const char* format : FONT_SEARCH_FORMATS) {
        char path[FONT_PATH_CAPACITY];
        snprintf(path, sizeof path, format, FONT_FALLBACK_BMP);
        FILE* file = plat_open_regular_file(path);
        if (!file)
            continue;
        SDL_RWops* stream = SDL_RWFromFP(file, SDL_TRUE);
        if (!stream) {
            fclose(file);
            continue;
        }
        int64_t w = 0, h = 0;
        if (!font_bitmap_size(stream, &w, &h) || !img_size_fits(renderer, w, h)) {
            SDL_RWclose(stream);
            continue;
        }
        SDL_Surface* surface = SDL_LoadBMP_RW(stream, 1);
        if (surface)
            return surface;
    }
    return nullptr;
}

// The bitmap draws dark glyphs on a light ground; the atlas convention is
// white ink on transparency, so the colour can come from modulation.
static void font_bitmap_to_mask(SDL_Surface* surface)
{
    if (surface->format->BytesPerPixel != 4)
        return;
    SDL_LockSurface(surface);
    for (int y = 0; y < surface->h; y++) {
        uint32_t* row =
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) + y * surface->pitch);
        for (int x = 0; x < surface->w; x++) {
            uint8_t r, g, b, a;
            SDL_GetRGBA(row[x], surface->format, &r, &g, &b, &a);
            bool ink = r <= FONT_BMP_INK_LIMIT && g <= FONT_BMP_INK_LIMIT && b <= FONT_BMP_INK_LIMIT;
            row[x] = ink ? FONT_BMP_INK : FONT_BMP_PAPER;
        }
    }
    SDL_UnlockSurface(surface);
}

static SDL_Texture* font_load_bitmap(SDL_Renderer* renderer)
{
    SDL_Surface* loaded = font_find_bitmap(renderer);
    if (!loaded)
        return nullptr;
    SDL_Surface* surface = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA8888, 0);
    SDL_FreeSurface(loaded);
    if (!surface)
        return nullptr;
    font_bitmap_to_mask(surface);
    SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, surface);
    SDL_FreeSurface(surface);
    if (texture)
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    return texture;
}

SDL_Texture* font_load(SDL_Renderer* renderer, const char* name)
{
    if (!renderer || !name)
        return nullptr;
    SDL_Texture* texture = font_load_from_archive(renderer, name);
    if (!texture)
        texture = font_load_loose(renderer, name);
    if (texture) {
        g_font_bmp_layout = false;
        return texture;
    }
    texture = font_load_bitmap(renderer);
    if (texture)
        g_font_bmp_layout = true;
    return texture;
}

bool font_init(SDL_Renderer* renderer, uint8_t hd)
{
    if (g_font_texture)
        SDL_DestroyTexture(g_font_texture);
    g_font_texture = nullptr;
    text_layer_destroy();

    g_font_scale = hd ? 2 : 1;
    g_font_texture = font_load(renderer, hd ? FONT_ATLAS_HD : FONT_ATLAS_SD);
    if (!g_font_texture)
        return false;
    return text_layer_create(renderer, g_font_scale);
}

SDL_Texture* font_get_texture() { return g_font_texture; }
SDL_Texture* font_get_debug_texture() { return g_debug_font_texture; }
int32_t font_get_scale() { return g_font_scale; }
bool font_uses_bitmap_layout() { return g_font_bmp_layout; }

// Where a cell's logical edge falls on a target scaled by scale: the first
// output pixel whose centre lies past it, as when the whole screen is scaled.
static double font_output_edge(int64_t at, float scale)
{
    return std::ceil(static_cast<double>(at) * scale - 0.5);
}

// Copies a cell of the font to (x, y). On a target scaled by a fraction the
// cell's edges would fall between output pixels, where the software
// renderer drops a column and a GPU samples the next atlas cell; so they are
// moved to the output pixels' own edges, which neighbouring cells share.
// The renderer scales the rectangle back and cuts it to whole pixels: the
// nudge keeps float rounding from cutting a pixel off, and is too small to
// move an edge onto a pixel's centre.
static void font_copy_cell(SDL_Renderer* renderer, SDL_Texture* texture, const SDL_Rect& src, int32_t x,
                           int32_t y)
{
    float scale_x = 1.0f, scale_y = 1.0f;
    SDL_RenderGetScale(renderer, &scale_x, &scale_y);
    if (scale_x == std::floor(scale_x) && scale_y == std::floor(scale_y)) {
        const SDL_Rect dst = {x, y, src.w, src.h};
        SDL_RenderCopy(renderer, texture, &src, &dst);
        return;
    }
    const double left = font_output_edge(x, scale_x);
    const double top = font_output_edge(y, scale_y);
    const double right = font_output_edge(int64_t{x} + src.w, scale_x);
    const double bottom = font_output_edge(int64_t{y} + src.h, scale_y);
    const SDL_FRect dst = {static_cast<float>((left + FONT_EDGE_NUDGE) / scale_x),
                           static_cast<float>((top + FONT_EDGE_NUDGE) / scale_y),
                           static_cast<float>((right - left + FONT_EDGE_NUDGE) / scale_x),
                           static_cast<float>((bottom - top + FONT_EDGE_NUDGE) / scale_y)};
    SDL_RenderCopyF(renderer, texture, &src, &dst);
}

void font_draw_glyph(SDL_Renderer* renderer, int32_t x, int32_t y, uint16_t code, uint32_t colour)
{
    bool debug = renderer && renderer == g_debug_renderer;
    SDL_Texture* texture = debug ? g_debug_font_texture : g_font_texture;
    int32_t scale = debug ? 1 : g_font_scale;
    if (!renderer || !texture)
        return;
    FontCell cell = font_glyph_cell(code, scale, g_font_bmp_layout);
    SDL_Rect src = {cell.x, cell.y, cell.w, cell.h};
    SDL_SetTextureColorMod(texture, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
    font_copy_cell(renderer, texture, src, x, y);
}

static bool font_is_sjis_lead(uint8_t b)
{
    return (b >= SJIS_LEAD_FIRST && b <= STR_SJIS_LEAD_LOW_LAST) ||
           (b >= STR_SJIS_LEAD_HIGH_FIRST && b <= STR_SJIS_LEAD_HIGH_LAST);
}

static bool font_is_colour_code(const uint8_t* p)
{
    return p[0] == '[' && p[1] == 'P' && p[2] >= '0' && p[2] <= '9';
}

void font_draw_string(SDL_Renderer* renderer, int32_t x, int32_t y, const char* text,
                      uint32_t colour)
{
    if (!text)
        return;
    int32_t scale = renderer && renderer == g_debug_renderer ? 1 : g_font_scale;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    int32_t px = x, py = y;
    while (*p) {
        if (*p == STR_LINE_FEED) {
            px = x;
            py += FONT_LINE_ADVANCE * scale;
            p++;
        } else if (font_is_colour_code(p)) {
            colour = FONT_ESCAPE_COLOURS[(p[2] - '0') & (FONT_ESCAPE_COLOUR_COUNT - 1)];
            p += 3;
            if (*p == ']')
                p++;
        } else if (font_is_sjis_lead(*p)) {
            if (!p[1])
                return;  // a pair cut off by the end of the string
            font_draw_glyph(renderer, px, py, static_cast<uint16_t>(p[0] << 8 | p[1]), colour);
            px += FONT_FULL_WIDTH * scale;
            p += 2;
        } else {
            font_draw_glyph(renderer, px, py, *p, colour);
            px += FONT_HALF_WIDTH * scale;
            p++;
        }
    }
}
