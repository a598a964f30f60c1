// Putting a frame together: the planes, the canvas, the sprites and the text
// layer, bottom to top, and the optional scanline overlay.
#include "screen.h"

#include <SDL.h>

#include <algorithm>

static constexpr uint8_t TINT_NONE = 255;
static constexpr uint8_t SCANLINE_ALPHA = 80;

// Copies a whole layer over the whole current target, modulated by the tint
// when there is one; the layer's own modulation is left white afterwards.
static void draw_layer(SDL_Renderer* renderer, SDL_Texture* layer, const uint8_t tint[3], bool tinted)
{
    if (tinted)
        SDL_SetTextureColorMod(layer, tint[0], tint[1], tint[2]);
    SDL_RenderCopy(renderer, layer, nullptr, nullptr);
    if (tinted)
        SDL_SetTextureColorMod(layer, TINT_NONE, TINT_NONE, TINT_NONE);
}

// One dark line in every second logical row, drawn in output pixels over the
// letterboxed area where SDL shows the logical screen, never over the bars.
static void draw_scanlines(SDL_Renderer* renderer)
{
    int logical_w = 0;
    int logical_h = 0;
    SDL_RenderGetLogicalSize(renderer, &logical_w, &logical_h);
    if (logical_w <= 0 || logical_h <= 0)
        return;
    int output_w = 0;
    int output_h = 0;
    SDL_GetRendererOutputSize(renderer, &output_w, &output_h);

    const float scale = std::min(static_cast<float>(output_w) / static_cast<float>(logical_w),
                                 static_cast<float>(output_h) / static_cast<float>(logical_h));
    const int picture_w = static_cast<int>(scale * static_cast<float>(logical_w));
    const int picture_h = static_cast<int>(scale * static_cast<float>(logical_h));
    const int origin_x = (output_w - picture_w) / 2;
    const int origin_y = (output_h - picture_h) / 2;

    SDL_RenderSetLogicalSize(renderer, 0, 0);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SCANLINE_ALPHA);
    const float bottom = static_cast<float>(origin_y + picture_h);
    for (float y = static_cast<float>(origin_y) + scale; y < bottom; y += 2.0f * scale) {
        const int row = static_cast<int>(y);
        SDL_RenderDrawLine(renderer, origin_x, row, origin_x + picture_w - 1, row);
    }
    SDL_RenderSetLogicalSize(renderer, logical_w, logical_h);
}

void gfx_compose_frame(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (!renderer)
        return;
    const uint8_t* tint = engine->tint;
    const bool tinted = tint[0] < TINT_NONE || tint[1] < TINT_NONE || tint[2] < TINT_NONE;

    gfx_upload_vram(engine);
    if (engine->canvas_texture)
        draw_layer(renderer, engine->canvas_texture, tint, tinted);
    gfx_draw_sprites(engine);
    if (engine->text_layer)
        draw_layer(renderer, engine->text_layer, tint, tinted);
    if (engine->scanlines)
        draw_scanlines(renderer);
}

static FrameOverlayFn s_frame_overlay = nullptr;

void gfx_set_frame_overlay(FrameOverlayFn draw)
{
    s_frame_overlay = draw;
}

void gfx_present_frame(Engine* engine)
{
    if (!engine->renderer)
        return;
    if (s_frame_overlay)
        s_frame_overlay(engine);
    SDL_RenderPresent(engine->renderer);
}

void gfx_fill_rect(SDL_Renderer* renderer, const SDL_Color& colour, int32_t x, int32_t y, int32_t w,
                   int32_t h)
{
    SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a);
    const SDL_Rect rect = {x, y, w, h};
    SDL_RenderFillRect(renderer, &rect);
}
