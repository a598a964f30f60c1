// The canvas of pictures: whole and partial blits from the picture slots,
// clearing, and the command log that lets the canvas be rebuilt by replay.
#include "screen.h"

#include <SDL.h>

#include <cstring>
#include <initializer_list>

static constexpr uint16_t CLEAR_RECT_IMAGE_ID = 0xFFFF;
static constexpr uint16_t KIND_LOW_BYTE = 0xFF;
static constexpr int64_t COLUMN_PIXELS = 8;
static constexpr int64_t ROW_LINES = 2;

// Set while the log is being replayed, so that the replayed operations neither
// log themselves again nor disturb the slots' sprite flags.
static uint8_t g_gfx_replaying = 0;

static bool image_usable(const Engine* engine, int64_t id)
{
    return id >= 0 && id < IMAGE_SLOT_COUNT && engine->image_slots[id].loaded;
}

// The next free log record, cleared, or null when the log is full (the
// operation is then drawn but not recorded).
static GfxCommand* log_append(Engine* engine, uint16_t kind)
{
    if (engine->gfx_log_count < 0 || engine->gfx_log_count >= GFX_LOG_CAPACITY)
        return nullptr;
    GfxCommand* record = &engine->gfx_log[engine->gfx_log_count++];
    memset(record, 0, sizeof *record);
    record->kind = kind;
    return record;
}

static void clear_canvas_pixels(SDL_Renderer* renderer)
{
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0);
    SDL_RenderClear(renderer);
}

static void clear_canvas_rect(SDL_Renderer* renderer, const SDL_Rect* rect)
{
    // Blending off so that the transparent colour replaces what is there.
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0);
    SDL_RenderFillRect(renderer, rect);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
}

// A rectangle in 64-bit arithmetic: the operands come from the scenario and
// their products in pixels may not fit in 32 bits.
struct WideRect {
    int64_t x, y, w, h;
};

// Partial blits whose rectangles reach further than this from the origin come
// only from damaged operands; they are not drawn, which also keeps the cut's
// products well inside 64 bits.
static constexpr int64_t PART_PIXEL_LIMIT = int64_t{1} << 24;

static bool within_limit(const WideRect& rect)
{
    for (int64_t value : {rect.x, rect.y, rect.w, rect.h})
        if (value < -PART_PIXEL_LIMIT || value > PART_PIXEL_LIMIT)
            return false;
    return true;
}

void gfx_blit_image(Engine* engine, uint32_t id)
{
    SDL_Renderer* renderer = engine->renderer;
    if (!engine->canvas_texture || !renderer || !image_usable(engine, id))
        return;
    const ImageSlot& slot = engine->image_slots[id];
    if (!g_gfx_replaying) {
        if (GfxCommand* record = log_append(engine, GFX_CMD_BLIT)) {
            record->image_id = static_cast<uint16_t>(id);
            record->x = slot.x;
            record->y = slot.y;
        }
    }
    const int k = engine_scale(engine);
    SDL_SetRenderTarget(renderer, engine->canvas_texture);
    if (engine->hd_mode && slot.hd_loaded && slot.tex_hd) {
        const SDL_Rect dest = {slot.x, slot.y, slot.hd_w, slot.hd_h};
        SDL_RenderCopy(renderer, slot.tex_hd, nullptr, &dest);
    } else {
        // Without an HD picture the SD one is doubled in HD mode.
        const SDL_Rect dest = {slot.x, slot.y, slot.sd_w * k, slot.sd_h * k};
        SDL_RenderCopy(renderer, slot.tex_sd, nullptr, &dest);
    }
    SDL_SetRenderTarget(renderer, nullptr);
}


// Takes amount pixels off one end of a destination span and the same share
// off its source span; a span already empty loses the amount itself.
static int64_t source_share(int64_t source_size, int64_t amount, int64_t dest_size)
{
    return dest_size > 0 ? source_size * amount / dest_size : amount;
}

// Cuts the destination to the canvas, left, top, right, bottom, taking the
// same share off the source each time so the picture is not shifted.
static void cut_to_canvas(WideRect* source, WideRect* dest, int64_t canvas_w, int64_t canvas_h)
{
    if (dest->x < 0) {
        const int64_t amount = -dest->x;
        const int64_t share = source_share(source->w, amount, dest->w);
        source->x += share;
        source->w -= share;
        dest->w -= amount;
        dest->x = 0;
    }
    if (dest->y < 0) {
        const int64_t amount = -dest->y;
        const int64_t share = source_share(source->h, amount, dest->h);
        source->y += share;
        source->h -= share;
        dest->h -= amount;
        dest->y = 0;
    }
    if (dest->x + dest->w > canvas_w) {
        const int64_t amount = dest->x + dest->w - canvas_w;
        source->w -= source_share(source->w, amount, dest->w);
        dest->w -= amount;
    }
    if (dest->y + dest->h > canvas_h) {
        const int64_t amount = dest->y + dest->h - canvas_h;
        source->h -= source_share(source->h, amount, dest->h);
        dest->h -= amount;
    }
}

static void draw_part(Engine* engine, const ImageSlot& slot, int64_t src_x8, int64_t src_y2, int64_t w8,
                      int64_t h2)
{
    const int64_t k = engine_scale(engine);
    SDL_Texture* texture = slot.tex_sd;
    int64_t factor_x = 1;
    int64_t factor_y = 1;
    int64_t texture_w = slot.sd_w;
    int64_t texture_h = slot.sd_h;
    if (engine->hd_mode && slot.hd_loaded && slot.tex_hd) {
        texture = slot.tex_hd;
        factor_x = slot.sd_w > 0 ? slot.hd_w / slot.sd_w : k;
        factor_y = slot.sd_h > 0 ? slot.hd_h / slot.sd_h : k;
        texture_w = slot.hd_w;
        texture_h = slot.hd_h;
    }
    WideRect source = {src_x8 * COLUMN_PIXELS * factor_x, src_y2 * ROW_LINES * factor_y,
                       w8 * COLUMN_PIXELS * factor_x, h2 * ROW_LINES * factor_y};
    WideRect dest = {int64_t{engine->blit_x8} * COLUMN_PIXELS * k, int64_t{engine->blit_y2} * ROW_LINES * k,
                     w8 * COLUMN_PIXELS * k, h2 * ROW_LINES * k};

    // A source running off the texture is shortened and the rest stretched
    // over the full destination.
    if (source.x + source.w > texture_w)
        source.w = texture_w - source.x;
    if (source.y + source.h > texture_h)
        source.h = texture_h - source.y;
    if (!within_limit(source) || !within_limit(dest))
        return;
    cut_to_canvas(&source, &dest, SCREEN_WIDTH * k, SCREEN_HEIGHT * k);

    if (source.w <= 0 || source.h <= 0)
        return;
    const SDL_Rect src_rect = {static_cast<int>(source.x), static_cast<int>(source.y), static_cast<int>(source.w),
                               static_cast<int>(source.h)};
    const SDL_Rect dest_rect = {static_cast<int>(dest.x), static_cast<int>(dest.y), static_cast<int>(dest.w),
                                static_cast<int>(dest.h)};
    SDL_Renderer* renderer = engine->renderer;
    SDL_SetRenderTarget(renderer, engine->canvas_texture);
    SDL_RenderCopy(renderer, texture, &src_rect, &dest_rect);
    SDL_SetRenderTarget(renderer, nullptr);
}

void gfx_blit_image_part(Engine* engine, uint32_t id, uint32_t src_x8, uint32_t src_y2, uint32_t w8,
                         uint32_t h2)
{
    if (!engine->canvas_texture || !engine->renderer)
        return;
    int64_t resolved = id;
    if (!image_usable(engine, resolved)) {
        resolved = engine->current_image;
        if (!image_usable(engine, resolved))
            return;
    }
    ImageSlot& slot = engine->image_slots[resolved];
    const int32_t signed_x8 = static_cast<int32_t>(src_x8);
    const int32_t signed_y2 = static_cast<int32_t>(src_y2);
    const int32_t signed_w8 = static_cast<int32_t>(w8);
    const int32_t signed_h2 = static_cast<int32_t>(h2);
    if (!g_gfx_replaying) {
        if (GfxCommand* record = log_append(engine, GFX_CMD_BLIT_PART)) {
            record->image_id = static_cast<uint16_t>(resolved);
            record->src_x8 = static_cast<int16_t>(signed_x8);
            record->src_y2 = static_cast<int16_t>(signed_y2);
            record->w8 = static_cast<int16_t>(signed_w8);
            record->h2 = static_cast<int16_t>(signed_h2);
            record->dst_x8 = static_cast<int16_t>(engine->blit_x8);
            record->dst_y2 = static_cast<int16_t>(engine->blit_y2);
            record->x = slot.x;
            record->y = slot.y;
        }
    }
    if (signed_w8 > 0 && signed_h2 > 0)
        draw_part(engine, slot, signed_x8, signed_y2, signed_w8, signed_h2);
    if (!g_gfx_replaying)
        slot.sprite_visible = 0;
}

void gfx_clear_canvas(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (engine->canvas_texture && renderer) {
        SDL_SetRenderTarget(renderer, engine->canvas_texture);
        clear_canvas_pixels(renderer);
        SDL_SetRenderTarget(renderer, nullptr);
    }
    if (!g_gfx_replaying)
        engine->gfx_log_count = 0;
}

void gfx_clear_rect(Engine* engine, uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    SDL_Renderer* renderer = engine->renderer;
    if (engine->canvas_texture && renderer) {
        const SDL_Rect rect = {static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h)};
        SDL_SetRenderTarget(renderer, engine->canvas_texture);
        clear_canvas_rect(renderer, &rect);
        SDL_SetRenderTarget(renderer, nullptr);
    }
    if (g_gfx_replaying)
        return;
    if (GfxCommand* record = log_append(engine, GFX_CMD_CLEAR_RECT)) {
        record->image_id = CLEAR_RECT_IMAGE_ID;
        record->rect_x = static_cast<int16_t>(x);
        record->rect_y = static_cast<int16_t>(y);
        record->rect_w = static_cast<int16_t>(w);
        record->rect_h = static_cast<int16_t>(h);
    }
}

static void replay_record(Engine* engine, const GfxCommand& record)
{
    SDL_Renderer* renderer = engine->renderer;
    // Ids are stored in 16 bits and read back signed: a clear-rectangle id
    // (0xFFFF) or any other out-of-range id never names a slot.
    const int16_t id = static_cast<int16_t>(record.image_id);
    switch (record.kind & KIND_LOW_BYTE) {
    case GFX_CMD_CLEAR:
        SDL_SetRenderTarget(renderer, engine->canvas_texture);
        clear_canvas_pixels(renderer);
        SDL_SetRenderTarget(renderer, nullptr);
        break;
    case GFX_CMD_CLEAR_RECT: {
        const SDL_Rect rect = {record.rect_x, record.rect_y, record.rect_w, record.rect_h};
        SDL_SetRenderTarget(renderer, engine->canvas_texture);
        clear_canvas_rect(renderer, &rect);
        SDL_SetRenderTarget(renderer, nullptr);
        break;
    }
    case GFX_CMD_BLIT:
        if (image_usable(engine, id)) {
            ImageSlot& slot = engine->image_slots[id];
            const int32_t own_x = slot.x;
            const int32_t own_y = slot.y;
            slot.x = record.x;
            slot.y = record.y;
            gfx_blit_image(engine, static_cast<uint32_t>(id));
            slot.x = own_x;
            slot.y = own_y;
        }
        break;
    case GFX_CMD_BLIT_PART:
        if (image_usable(engine, id)) {
            const int32_t own_x8 = engine->blit_x8;
            const int32_t own_y2 = engine->blit_y2;
            engine->blit_x8 = record.dst_x8;
            engine->blit_y2 = record.dst_y2;
            gfx_blit_image_part(engine, static_cast<uint32_t>(id), static_cast<uint32_t>(int32_t{record.src_x8}),
                                static_cast<uint32_t>(int32_t{record.src_y2}),
                                static_cast<uint32_t>(int32_t{record.w8}), static_cast<uint32_t>(int32_t{record.h2}));
            engine->blit_x8 = own_x8;
            engine->blit_y2 = own_y2;
        }
        break;
    default:
        break;
    }
}

void gfx_replay_log(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (!engine->canvas_texture || !renderer)
        return;
    g_gfx_replaying = 1;
    SDL_SetRenderTarget(renderer, engine->canvas_texture);
    clear_canvas_pixels(renderer);
    SDL_SetRenderTarget(renderer, nullptr);
    const int32_t count = engine->gfx_log_count < GFX_LOG_CAPACITY ? engine->gfx_log_count : GFX_LOG_CAPACITY;
    for (int32_t index = 0; index < count; index++)
        replay_record(engine, engine->gfx_log[index]);
    g_gfx_replaying = 0;
}
