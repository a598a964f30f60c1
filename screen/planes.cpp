// The emulated PC-98 graphics screen: three bit planes seen through a
// 16-colour palette, the tint that follows palette fades, texture smoothing,
// and refilling the canvas after the renderer lost its targets.
#include "screen.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>

const uint32_t DEFAULT_PALETTE[PALETTE_SIZE] = {
    0xFF000000, 0xFF0000AA, 0xFFAA0000, 0xFFAA00AA,
    0xFF00AA00, 0xFF00FFFF, 0xFFAAAA00, 0xFFAAAAAA,
    0xFF000000, 0xFF0000FF, 0xFFFF0000, 0xFFFF00FF,
    0xFF00FF00, 0xFF00FFFF, 0xFFFFFF00, 0xFFFFFFFF,
};

static constexpr uint32_t PALETTE_SPARE_START = 0xFFFFFFFF;
static constexpr int32_t SPARE_INT_START = -1;
static constexpr uint8_t TINT_NONE = 255;

// The tint compares entries 1 to 7 with the default palette's channel sums
// over the same entries (R 680, G 765, B 765).
static constexpr int TINT_FIRST_ENTRY = 1;
static constexpr int TINT_LAST_ENTRY = 7;
static constexpr float TINT_REFERENCE_SUMS[3] = {680.0f, 765.0f, 765.0f};
static constexpr int TINT_CHANNEL_SHIFTS[3] = {16, 8, 0};

static constexpr int PLANE_COLOURS = 8;
static constexpr int PIXELS_PER_BYTE = 8;
static constexpr int PAIRS_PER_BYTE = PIXELS_PER_BYTE / 2;
static constexpr int PAIR_LANE_BITS = 16;
static constexpr int PAIR_INDEX_COUNT = PLANE_COLOURS * PLANE_COLOURS;
static constexpr uint64_t PAIR_INDEX_MASK = PAIR_INDEX_COUNT - 1;
static constexpr int RIGHT_PIXEL_SHIFT = 3;

// The conversion works on pairs of neighbouring pixels: one plane byte spreads
// into four 16-bit lanes, lane j holding the bit of pixel 2j in bit 0 and that
// of pixel 2j+1 in bit 3. Shifting plane 1's spread by 1 and plane 2's by 2 and
// or-ing the three gives each lane a 6-bit index into a 64-entry table of
// ready-made pixel pairs, so every 8 pixels cost three table reads and four
// 8-byte stores.
static constexpr std::array<uint64_t, 256> make_pair_spread()
{
    std::array<uint64_t, 256> table{};
    for (int byte = 0; byte < 256; byte++) {
        uint64_t lanes = 0;
        for (int pair = 0; pair < PAIRS_PER_BYTE; pair++) {
            const int left_bit = PIXELS_PER_BYTE - 1 - 2 * pair;
            const uint64_t left = (byte >> left_bit) & 1;
            const uint64_t right = (byte >> (left_bit - 1)) & 1;
            lanes |= (left | right << RIGHT_PIXEL_SHIFT) << (PAIR_LANE_BITS * pair);
        }
        table[byte] = lanes;
    }
    return table;
}

static constexpr std::array<uint64_t, 256> PAIR_SPREAD = make_pair_spread();

void gfx_convert_planes(const uint8_t planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES],
                        const uint32_t palette[PALETTE_SIZE], uint32_t* out, int out_pitch)
{
    uint32_t pairs[PAIR_INDEX_COUNT][2];
    for (int index = 0; index < PAIR_INDEX_COUNT; index++) {
        pairs[index][0] = palette[index % PLANE_COLOURS];
        pairs[index][1] = palette[index / PLANE_COLOURS];
    }
    for (int y = 0; y < VRAM_HEIGHT; y++) {
        const size_t line = static_cast<size_t>(y) * VRAM_BYTES_PER_LINE;
        const uint8_t* plane0 = planes[0] + line;
        const uint8_t* plane1 = planes[1] + line;
        const uint8_t* plane2 = planes[2] + line;
        uint32_t* row = out + static_cast<size_t>(y) * out_pitch;
        for (int column = 0; column < VRAM_BYTES_PER_LINE; column++) {
            const uint64_t lanes = PAIR_SPREAD[plane0[column]] | PAIR_SPREAD[plane1[column]] << 1 |
                                   PAIR_SPREAD[plane2[column]] << 2;
            uint32_t* pixels = row + column * PIXELS_PER_BYTE;
            for (int pair = 0; pair < PAIRS_PER_BYTE; pair++) {
                const uint64_t index = (lanes >> (PAIR_LANE_BITS * pair)) & PAIR_INDEX_MASK;
                memcpy(pixels + 2 * pair, pairs[index], sizeof pairs[index]);
            }
        }
    }
}

void gfx_init_screen(Engine* engine)
{
    memcpy(engine->palette, DEFAULT_PALETTE, sizeof engine->palette);
    engine->text_cursor_x = 0;
    engine->text_cursor_y = 0;
    engine->spare_byte = 0;
    engine->vm_blocked = 0;
    engine->wait_frames = 0;
    engine->vm_command_mode = 0;
    engine->palette_spare = PALETTE_SPARE_START;
    engine->spare_int = SPARE_INT_START;
    engine->tint[0] = engine->tint[1] = engine->tint[2] = TINT_NONE;
    engine->palette_changed = 0;

    SDL_Renderer* renderer = engine->renderer;
    if (!renderer)
        return;
    const int k = engine_scale(engine);
    engine->canvas_texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET,
                                               SCREEN_WIDTH * k, SCREEN_HEIGHT * k);
    if (!engine->canvas_texture)
        return;
    SDL_SetTextureBlendMode(engine->canvas_texture, SDL_BLENDMODE_BLEND);
    SDL_SetRenderTarget(renderer, engine->canvas_texture);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0);
    SDL_RenderClear(renderer);
    SDL_SetRenderTarget(renderer, nullptr);
}

void gfx_upload_vram(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (!renderer)
        return;
    if (!engine->vram_texture)
        engine->vram_texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                                 VRAM_WIDTH, VRAM_HEIGHT);
    if (!engine->vram_texture)
        return;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(engine->vram_texture, nullptr, &pixels, &pitch) < 0)
        return;
    gfx_convert_planes(engine->vram_planes, engine->palette, static_cast<uint32_t*>(pixels),
                       pitch / static_cast<int>(sizeof(uint32_t)));
    SDL_UnlockTexture(engine->vram_texture);
    SDL_RenderCopy(renderer, engine->vram_texture, nullptr, nullptr);
}

void gfx_update_tint(Engine* engine)
{
    for (int channel = 0; channel < 3; channel++) {
        unsigned sum = 0;
        for (int entry = TINT_FIRST_ENTRY; entry <= TINT_LAST_ENTRY; entry++)
            sum += (engine->palette[entry] >> TINT_CHANNEL_SHIFTS[channel]) & 0xFF;
        const float share = std::min(static_cast<float>(sum) / TINT_REFERENCE_SUMS[channel], 1.0f);
        engine->tint[channel] = static_cast<uint8_t>(share * 255.0f);
    }
    engine->palette_changed = 0;
}

static void set_scale_mode(SDL_Texture* texture, SDL_ScaleMode mode)
{
    if (texture)
        SDL_SetTextureScaleMode(texture, mode);
}

void gfx_set_smoothing(Engine* engine, uint8_t on)
{
    // Linear filtering only pays off when HD pictures are scaled; in SD mode
    // it would just blur the pixel art.
    const bool effective = engine->hd_mode && on;
    const SDL_ScaleMode mode = effective ? SDL_ScaleModeLinear : SDL_ScaleModeNearest;
    set_scale_mode(engine->vram_texture, mode);
    set_scale_mode(engine->canvas_texture, mode);
    set_scale_mode(engine->text_layer, mode);
    for (ImageSlot& slot : engine->image_slots) {
        set_scale_mode(slot.tex_sd, mode);
        set_scale_mode(slot.tex_hd, mode);
    }
    // Textures made later (the planes texture on its first upload) follow the hint.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, effective ? "1" : "0");
    // Glyphs stay crisp whatever the pictures do.
    set_scale_mode(font_get_texture(), SDL_ScaleModeNearest);
    set_scale_mode(font_get_debug_texture(), SDL_ScaleModeNearest);

    SDL_Renderer* renderer = engine->renderer;
    if (!renderer)
        return;
    int logical_w = 0;
    int logical_h = 0;
    SDL_RenderGetLogicalSize(renderer, &logical_w, &logical_h);
    if (logical_w > 0 && logical_h > 0)
        SDL_RenderSetLogicalSize(renderer, logical_w, logical_h);
}

void gfx_restore_layers(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (!engine->canvas_texture || !renderer)
        return;
    gfx_upload_vram(engine);
    if (!engine->vram_texture)
        return;
    SDL_SetRenderTarget(renderer, engine->canvas_texture);
    SDL_RenderCopy(renderer, engine->vram_texture, nullptr, nullptr);
    SDL_SetRenderTarget(renderer, nullptr);
}
