// The screen as PNG: save thumbnails composed off-screen, and screenshots of
// the frame shown in the window.
#include "screen.h"

#include "platform.h"
#include "stb_compress.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Read-backs come as ABGR8888: bytes R, G, B, A in memory.
constexpr int READBACK_CHANNELS = 4;
constexpr int THUMB_STRIDE = THUMB_WIDTH * THUMB_CHANNELS;

// Reads the whole current target (w x h) into a new buffer; null on failure.
static uint8_t* capture_read_target(SDL_Renderer* renderer, int w, int h)
{
    uint8_t* pixels = static_cast<uint8_t*>(malloc(static_cast<size_t>(w) * h * READBACK_CHANNELS));
    if (!pixels)
        return nullptr;
    SDL_Rect area = {0, 0, w, h};
    if (SDL_RenderReadPixels(renderer, &area, SDL_PIXELFORMAT_ABGR8888, pixels,
                             w * READBACK_CHANNELS) != 0) {
        free(pixels);
        return nullptr;
    }
    return pixels;
}

// The game screen as a fresh W x H picture, drawn into a target of its own so
// that nothing drawn over the window (menus, history, slot screen) is in it.
static uint8_t* capture_compose_offscreen(Engine* engine, int w, int h)
{
    SDL_Renderer* renderer = engine->renderer;
    SDL_Texture* target =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, w, h);
    if (!target)
        return nullptr;
    SDL_SetRenderTarget(renderer, target);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer);
    gfx_compose_frame(engine);
    uint8_t* pixels = capture_read_target(renderer, w, h);
    SDL_SetRenderTarget(renderer, nullptr);
    SDL_DestroyTexture(target);
    return pixels;
}

// Each thumbnail pixel is the truncated mean of its block of the screen.
static void capture_box_average(const uint8_t* src, int src_w, int src_h, uint8_t* dst)
{
    int block_w = src_w / THUMB_WIDTH;
    int block_h = src_h / THUMB_HEIGHT;
    unsigned block_area = static_cast<unsigned>(block_w * block_h);
    for (int oy = 0; oy < THUMB_HEIGHT; oy++) {
        for (int ox = 0; ox < THUMB_WIDTH; ox++) {
            unsigned sum[THUMB_CHANNELS] = {0, 0, 0};
            for (int by = 0; by < block_h; by++) {
                const uint8_t* row = src + (static_cast<size_t>(oy * block_h + by) * src_w
                                            + static_cast<size_t>(ox * block_w))
                                               * READBACK_CHANNELS;
                for (int bx = 0; bx < block_w; bx++) {
                    for (int c = 0; c < THUMB_CHANNELS; c++)
                        sum[c] += row[bx * READBACK_CHANNELS + c];
                }
            }
            uint8_t* out = dst + static_cast<size_t>(oy * THUMB_WIDTH + ox) * THUMB_CHANNELS;
            for (int c = 0; c < THUMB_CHANNELS; c++)
                out[c] = static_cast<uint8_t>(sum[c] / block_area);
        }
    }
}

// The save writer reserves a fixed thumbnail buffer; only larger PNGs grow it.
static size_t capture_thumbnail_capacity(int32_t png_len)
{
    if (png_len <= THUMB_BUFFER_CAPACITY)
        return THUMB_BUFFER_CAPACITY;
    if (png_len <= THUMB_GROWN_CAPACITY)
        return THUMB_GROWN_CAPACITY;
    return static_cast<size_t>(png_len);
}

int32_t gfx_capture_thumbnail(Engine* engine, uint8_t** out_png, int32_t* out_size)
{
    if (!engine->renderer || !out_png || !out_size)
        return 0;
    int scale = engine_scale(engine);
    int screen_w = SCREEN_WIDTH * scale;
    int screen_h = SCREEN_HEIGHT * scale;

    uint8_t* screen = capture_compose_offscreen(engine, screen_w, screen_h);
    if (!screen)
        return 0;
    uint8_t* rgb = static_cast<uint8_t*>(malloc(static_cast<size_t>(THUMB_STRIDE) * THUMB_HEIGHT));
    if (!rgb) {
        free(screen);
        return 0;
    }
    capture_box_average(screen, screen_w, screen_h, rgb);
    free(screen);

    int png_len = 0;
    uint8_t* png = stbi_write_png_to_mem(rgb, THUMB_STRIDE, THUMB_WIDTH, THUMB_HEIGHT,
                                         THUMB_CHANNELS, &png_len);
    free(rgb);
    if (!png || png_len <= 0) {
        free(png);
        return 0;
    }
    uint8_t* buffer = static_cast<uint8_t*>(malloc(capture_thumbnail_capacity(png_len)));
    if (!buffer) {
        free(png);
        return 0;
    }
    memcpy(buffer, png, static_cast<size_t>(png_len));
    free(png);

    *out_png = buffer;
    *out_size = png_len;
    return 1;
}

// The part of the window that shows the logical screen, in output pixels:
// SDL's own letterbox viewport, the one the frame is drawn into and that
// SDL_RenderReadPixels clips to. SDL reports it divided by the render scale
// and rounded down, so it is read at scale 1 to get it whole.
static SDL_Rect capture_shown_area(SDL_Renderer* renderer)
{
    float scale_x = 1.0f;
    float scale_y = 1.0f;
    SDL_RenderGetScale(renderer, &scale_x, &scale_y);
    SDL_RenderSetScale(renderer, 1.0f, 1.0f);
    SDL_Rect area;
    SDL_RenderGetViewport(renderer, &area);
    SDL_RenderSetScale(renderer, scale_x, scale_y);
    return area;
}

struct CaptureFile {
    const uint8_t* bytes;
    size_t len;
};

static bool capture_write_bytes(FILE* file, void* user)
{
    const CaptureFile* png = static_cast<const CaptureFile*>(user);
    return fwrite(png->bytes, 1, png->len, file) == png->len;
}

// Through a temporary file wherever it can replace the old one whole, so a
// crash never leaves half a picture behind.
static void capture_write_file(const char* path, const uint8_t* bytes, int len)
{
    CaptureFile png = {bytes, static_cast<size_t>(len)};
    plat_replace_file(path, capture_write_bytes, &png);
}

void gfx_save_screenshot(Engine* engine, const char* path)
{
    if (!engine->renderer || !path)
        return;
    SDL_Renderer* renderer = engine->renderer;
    SDL_SetRenderTarget(renderer, nullptr);

    // A window larger than the logical screen shows it enlarged; the
    // screenshot keeps what the player sees, at that size.
    SDL_Rect area = capture_shown_area(renderer);
    if (area.w <= 0 || area.h <= 0)
        return;
    int stride = area.w * READBACK_CHANNELS;
    uint8_t* pixels = static_cast<uint8_t*>(calloc(static_cast<size_t>(stride), area.h));
    if (!pixels)
        return;
    // SDL clips the request to its viewport, so it never writes past this area.
    if (SDL_RenderReadPixels(renderer, &area, SDL_PIXELFORMAT_ABGR8888, pixels, stride) != 0) {
        free(pixels);
        return;
    }

    int png_len = 0;
    uint8_t* png =
        stbi_write_png_to_mem(pixels, stride, area.w, area.h, READBACK_CHANNELS, &png_len);
    free(pixels);
    if (!png)
        return;
    if (png_len > 0)
        capture_write_file(path, png, png_len);
    free(png);
}
