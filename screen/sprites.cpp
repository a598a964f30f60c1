// The sprite layer: picture slots marked visible, drawn over the canvas every
// frame at a fixed stage of their reveal or fade effect.
#include "screen.h"

#include <SDL.h>

static constexpr uint8_t TINT_NONE = 255;
static constexpr uint8_t ALPHA_OPAQUE = 255;

struct SpriteRects {
    int64_t src_x, src_y, src_w, src_h;
    int64_t dst_x, dst_y, dst_w, dst_h;
};

// The effect's stage as a share of the whole, 0 to 1. A progress below zero
// (possible only from a damaged save) counts as not started.
static float effect_share(const ImageSlot& slot)
{
    const float share = static_cast<float>(slot.effect_progress) / static_cast<float>(slot.effect_duration);
    if (share > 1.0f)
        return 1.0f;
    return share > 0.0f ? share : 0.0f;
}

static int64_t scaled(int64_t size, float share)
{
    return static_cast<int64_t>(static_cast<float>(size) * share);
}

static void apply_reveal(SpriteRects* rects, int32_t type, float share)
{
    switch (type) {
    case EFFECT_REVEAL_LEFT:
        rects->src_w = scaled(rects->src_w, share);
        rects->dst_w = scaled(rects->dst_w, share);
        break;
    case EFFECT_REVEAL_RIGHT: {
        const int64_t src_shown = scaled(rects->src_w, share);
        const int64_t dst_shown = scaled(rects->dst_w, share);
        rects->src_x = rects->src_w - src_shown;
        rects->src_w = src_shown;
        rects->dst_x += rects->dst_w - dst_shown;
        rects->dst_w = dst_shown;
        break;
    }
    case EFFECT_REVEAL_TOP:
        rects->src_h = scaled(rects->src_h, share);
        rects->dst_h = scaled(rects->dst_h, share);
        break;
    case EFFECT_REVEAL_BOTTOM: {
        const int64_t src_shown = scaled(rects->src_h, share);
        const int64_t dst_shown = scaled(rects->dst_h, share);
        rects->src_y = rects->src_h - src_shown;
        rects->src_h = src_shown;
        rects->dst_y += rects->dst_h - dst_shown;
        rects->dst_h = dst_shown;
        break;
    }
    default:
        break;
    }
}

static void draw_sprite(Engine* engine, ImageSlot& slot)
{
    SDL_Renderer* renderer = engine->renderer;
    const int64_t k = engine_scale(engine);
    SDL_Texture* texture = slot.tex_sd;
    SpriteRects rects = {0, 0, slot.sd_w, slot.sd_h, slot.x, slot.y, slot.sd_w * k, slot.sd_h * k};
    if (engine->hd_mode && slot.hd_loaded && slot.tex_hd) {
        texture = slot.tex_hd;
        rects.src_w = rects.dst_w = slot.hd_w;
        rects.src_h = rects.dst_h = slot.hd_h;
    }

    const bool fading = slot.effect_active && slot.effect_type == EFFECT_FADE;
    if (slot.effect_active && slot.effect_duration > 0) {
        const float share = effect_share(slot);
        apply_reveal(&rects, slot.effect_type, share);
        if (fading)
            SDL_SetTextureAlphaMod(texture, static_cast<uint8_t>(share * 255.0f));
    }

    // Only the bottom is cut here, scaling the source with it; the renderer
    // clips the other edges itself.
    const int64_t screen_h = SCREEN_HEIGHT * k;
    if (rects.dst_y + rects.dst_h > screen_h) {
        const int64_t old_h = rects.dst_h;
        rects.dst_h = screen_h - rects.dst_y;
        if (old_h > 0)
            rects.src_h = rects.dst_h * rects.src_h / old_h;
    }

    const uint8_t* tint = engine->tint;
    const bool tinted = tint[0] != TINT_NONE || tint[1] != TINT_NONE || tint[2] != TINT_NONE;
    if (tinted)
        SDL_SetTextureColorMod(texture, tint[0], tint[1], tint[2]);
    if (rects.src_w > 0 && rects.src_h > 0) {
        const SDL_Rect src = {static_cast<int>(rects.src_x), static_cast<int>(rects.src_y),
                              static_cast<int>(rects.src_w), static_cast<int>(rects.src_h)};
        const SDL_Rect dst = {static_cast<int>(rects.dst_x), static_cast<int>(rects.dst_y),
                              static_cast<int>(rects.dst_w), static_cast<int>(rects.dst_h)};
        SDL_RenderCopy(renderer, texture, &src, &dst);
    }
    if (tinted)
        SDL_SetTextureColorMod(texture, TINT_NONE, TINT_NONE, TINT_NONE);
    if (fading)
        SDL_SetTextureAlphaMod(texture, ALPHA_OPAQUE);
}

void gfx_draw_sprites(Engine* engine)
{
    if (!engine->renderer)
        return;
    for (ImageSlot& slot : engine->image_slots) {
        if (!slot.loaded || !slot.sprite_visible || slot.sd_w <= 0 || slot.sd_h <= 0)
            continue;
        draw_sprite(engine, slot);
    }
}
