// The text layer: a transparent render target of the screen's size that the
// text windows draw into and the frame composition lays over the pictures.
#include "screen.h"

#include <SDL.h>

#include <algorithm>

static SDL_Texture* g_text_layer = nullptr;

SDL_Texture* text_layer_get() { return g_text_layer; }

bool text_layer_create(SDL_Renderer* renderer, int32_t scale)
{
    text_layer_destroy();
    if (!renderer)
        return false;
    // Not cleared: a new target texture starts fully transparent.
    g_text_layer = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET,
                                     SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale);
    if (!g_text_layer)
        return false;
    SDL_SetTextureBlendMode(g_text_layer, SDL_BLENDMODE_BLEND);
    return true;
}

void text_layer_destroy()
{
    if (g_text_layer)
        SDL_DestroyTexture(g_text_layer);
    g_text_layer = nullptr;
}

void text_layer_clear(SDL_Renderer* renderer)
{
    if (!renderer || !g_text_layer)
        return;
    SDL_SetRenderTarget(renderer, g_text_layer);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_TRANSPARENT);
    SDL_RenderClear(renderer);
    SDL_SetRenderTarget(renderer, nullptr);
}

void text_layer_clear_rect(Engine* engine, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!engine || !engine->renderer || !g_text_layer)
        return;
    SDL_Renderer* renderer = engine->renderer;
    SDL_SetRenderTarget(renderer, g_text_layer);
    // Blending a transparent fill would change nothing; the pixels must be replaced.
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_TRANSPARENT);
    SDL_Rect rect = {x, y, w, h};
    SDL_RenderFillRect(renderer, &rect);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderTarget(renderer, nullptr);
}

bool text_layer_clip(SDL_Texture* layer, int32_t x, int32_t y, int32_t w, int32_t h, SDL_Rect* out)
{
    int layer_w = 0;
    int layer_h = 0;
    if (!layer || SDL_QueryTexture(layer, nullptr, nullptr, &layer_w, &layer_h) != 0)
        return false;
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + w, layer_w);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + h, layer_h);
    if (left >= right || top >= bottom)
        return false;
    *out = SDL_Rect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top)};
    return true;
}

void text_layer_scroll(Engine* engine, int32_t x, int32_t y, int32_t w, int32_t h, int32_t dy)
{
    if (!engine || !engine->renderer || !g_text_layer || dy <= 0 || dy >= h)
        return;
    // Only the part on the layer has pixels to move, so no caller can ask
    // for a scratch texture larger than the screen.
    SDL_Rect area;
    if (!text_layer_clip(g_text_layer, x, y, w, h, &area))
        return;
    SDL_Renderer* renderer = engine->renderer;
    SDL_Texture* scratch = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888,
                                             SDL_TEXTUREACCESS_TARGET, area.w, area.h);
    if (!scratch)
        return;
    // Copied back with no blending, the scratch replaces the rectangle, so
    // its transparent bottom rows clear the freed line.
    SDL_SetTextureBlendMode(scratch, SDL_BLENDMODE_NONE);

    SDL_SetRenderTarget(renderer, scratch);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_TRANSPARENT);
    SDL_RenderClear(renderer);
    // Blending the layer onto the transparent scratch would multiply the
    // colour of every half-transparent edge pixel by its alpha again on each
    // scroll; copy it unchanged instead.
    // When the whole visible part moves out, the cleared scratch is all that is left.
    if (dy < area.h) {
        SDL_Rect kept = {area.x, area.y + dy, area.w, area.h - dy};
        SDL_Rect moved = {0, 0, area.w, area.h - dy};
        SDL_SetTextureBlendMode(g_text_layer, SDL_BLENDMODE_NONE);
        SDL_RenderCopy(renderer, g_text_layer, &kept, &moved);
        SDL_SetTextureBlendMode(g_text_layer, SDL_BLENDMODE_BLEND);
    }

    SDL_SetRenderTarget(renderer, g_text_layer);
    SDL_RenderCopy(renderer, scratch, nullptr, &area);

    SDL_DestroyTexture(scratch);
    SDL_SetRenderTarget(renderer, nullptr);
}

void text_layer_present(SDL_Renderer* renderer)
{
    if (renderer && g_text_layer)
        SDL_RenderCopy(renderer, g_text_layer, nullptr, nullptr);
}
