// The font: one texture, a PNG atlas or the fallback bitmap turned into a
// white mask, drawn one cell per character with the colour applied as
// colour modulation.
#include "screen.h"

#include "archive.h"
#include "platform.h"

#include <SDL.h>
#include <stb_image.h>

#include <algorithm>
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
// A transparent target of the screen's size that strings bound for a target
// scaled by a fraction are drawn into first; null when it cannot be made.
static SDL_Texture* g_string_layer = nullptr;
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

// Makes the string layer; without one, strings are drawn straight into any target.
static void font_create_string_layer(SDL_Renderer* renderer)
{
    g_string_layer = text_layer_new_target(renderer, g_font_scale);
    if (g_string_layer)
        SDL_SetTextureScaleMode(g_string_layer, SDL_ScaleModeNearest);
}

bool font_init(SDL_Renderer* renderer, uint8_t hd)
{
    if (g_font_texture)
        SDL_DestroyTexture(g_font_texture);
    g_font_texture = nullptr;
    if (g_string_layer)
        SDL_DestroyTexture(g_string_layer);
    g_string_layer = nullptr;
    text_layer_destroy();

    g_font_scale = hd ? 2 : 1;
    g_font_texture = font_load(renderer, hd ? FONT_ATLAS_HD : FONT_ATLAS_SD);
    if (!g_font_texture)
        return false;
    font_create_string_layer(renderer);
    return text_layer_create(renderer, g_font_scale);
}

SDL_Texture* font_get_texture() { return g_font_texture; }
SDL_Texture* font_get_debug_texture() { return g_debug_font_texture; }
int32_t font_get_scale() { return g_font_scale; }
bool font_uses_bitmap_layout() { return g_font_bmp_layout; }

void font_draw_glyph(SDL_Renderer* renderer, int32_t x, int32_t y, uint16_t code, uint32_t colour)
{
    bool debug = renderer && renderer == g_debug_renderer;
    SDL_Texture* texture = debug ? g_debug_font_texture : g_font_texture;
    int32_t scale = debug ? 1 : g_font_scale;
    if (!renderer || !texture)
        return;
    FontCell cell = font_glyph_cell(code, scale, g_font_bmp_layout);
    SDL_Rect src = {cell.x, cell.y, cell.w, cell.h};
    SDL_Rect dst = {x, y, cell.w, cell.h};
    SDL_SetTextureColorMod(texture, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
    SDL_RenderCopy(renderer, texture, &src, &dst);
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

// Draws a string's glyphs from (x, y) into the current target and returns
// the rectangle their cells cover (empty for an empty string).
static SDL_Rect font_put_string(SDL_Renderer* renderer, int32_t x, int32_t y, const char* text,
                                uint32_t colour)
{
    int32_t scale = renderer && renderer == g_debug_renderer ? 1 : g_font_scale;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    int32_t px = x, py = y;
    int64_t right = x, bottom = y;
    while (*p) {
        int32_t advance = 0;
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
                break;  // a pair cut off by the end of the string
            font_draw_glyph(renderer, px, py, static_cast<uint16_t>(p[0] << 8 | p[1]), colour);
            advance = FONT_FULL_WIDTH * scale;
            p += 2;
        } else {
            font_draw_glyph(renderer, px, py, *p, colour);
            advance = FONT_HALF_WIDTH * scale;
            p++;
        }
        if (advance > 0) {
            right = std::max<int64_t>(right, int64_t{px} + advance);
            bottom = std::max<int64_t>(bottom, int64_t{py} + FONT_HEIGHT * scale);
            px += advance;
        }
    }
    return {x, y, static_cast<int>(std::min<int64_t>(right - x, INT32_MAX)),
            static_cast<int>(std::min<int64_t>(bottom - y, INT32_MAX))};
}

// Making a texture target current again resets its scale, which the caller set.
static void font_restore_target(SDL_Renderer* renderer, SDL_Texture* previous, float scale_x,
                                float scale_y)
{
    SDL_SetRenderTarget(renderer, previous);
    if (previous)
        SDL_RenderSetScale(renderer, scale_x, scale_y);
}

static bool font_scale_is_fraction(SDL_Renderer* renderer, float* scale_x, float* scale_y)
{
    SDL_RenderGetScale(renderer, scale_x, scale_y);
    return *scale_x != std::floor(*scale_x) || *scale_y != std::floor(*scale_y);
}

// Glyphs copied one by one onto a target scaled by a fraction have their
// edges between output pixels: the software renderer drops a column at some
// of them, and a GPU samples the next atlas cell there. Drawn at the screen's
// own size into the string layer, the string is then scaled as one picture,
// as the text layer is.
static void font_draw_string_scaled(SDL_Renderer* renderer, int32_t x, int32_t y, const char* text,
                                    uint32_t colour, float scale_x, float scale_y)
{
    SDL_Texture* previous = SDL_GetRenderTarget(renderer);
    if (SDL_SetRenderTarget(renderer, g_string_layer) != 0) {
        font_put_string(renderer, x, y, text, colour);
        return;
    }
    // Copied, not blended, onto the transparent layer, so half-transparent
    // ink is blended once, when the layer is.
    SDL_SetTextureBlendMode(g_font_texture, SDL_BLENDMODE_NONE);
    const SDL_Rect drawn = font_put_string(renderer, x, y, text, colour);
    SDL_SetTextureBlendMode(g_font_texture, SDL_BLENDMODE_BLEND);
    font_restore_target(renderer, previous, scale_x, scale_y);

    SDL_Rect area;
    if (!text_layer_clip(g_string_layer, drawn.x, drawn.y, drawn.w, drawn.h, &area))
        return;
    SDL_RenderCopy(renderer, g_string_layer, &area, &area);

    // Left transparent for the next string, whose scaled copy may read a
    // pixel beyond its own rectangle.
    SDL_BlendMode blend = SDL_BLENDMODE_BLEND;
    uint8_t r = 0, g = 0, b = 0, a = 0;
    SDL_GetRenderDrawBlendMode(renderer, &blend);
    SDL_GetRenderDrawColor(renderer, &r, &g, &b, &a);
    text_layer_erase(renderer, g_string_layer, area);
    SDL_SetRenderDrawBlendMode(renderer, blend);
    SDL_SetRenderDrawColor(renderer, r, g, b, a);
    font_restore_target(renderer, previous, scale_x, scale_y);
}

void font_draw_string(SDL_Renderer* renderer, int32_t x, int32_t y, const char* text,
                      uint32_t colour)
{
    if (!text)
        return;
    float scale_x = 1.0f, scale_y = 1.0f;
    const bool debug = renderer && renderer == g_debug_renderer;
    if (renderer && !debug && g_font_texture && g_string_layer &&
        font_scale_is_fraction(renderer, &scale_x, &scale_y))
        font_draw_string_scaled(renderer, x, y, text, colour, scale_x, scale_y);
    else
        font_put_string(renderer, x, y, text, colour);
}
