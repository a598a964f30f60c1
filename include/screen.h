// The screen: the emulated PC-98 planes and palette, frame composition, the
// canvas of pictures with its command log, sprites, the text layer and fonts,
// thumbnails and screenshots, and the text history.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

// ---------------------------------------------------------------------------
// Planes, palette and frame composition
// ---------------------------------------------------------------------------

// The planes are 640x400 one-bit pixels in both modes, 8 pixels per byte.
constexpr int VRAM_WIDTH = 640;
constexpr int VRAM_HEIGHT = 400;
constexpr int VRAM_BYTES_PER_LINE = VRAM_WIDTH / 8;

// The sixteen start-up colours, 0xAARRGGBB; entries 0 to 7 colour the planes.
extern const uint32_t DEFAULT_PALETTE[PALETTE_SIZE];

// Converts the three planes into 640x400 32-bit pixels, each palette[index]
// unchanged with index = plane 0 bit + 2 x plane 1 bit + 4 x plane 2 bit.
// out_pitch is the distance between rows of out, in pixels (at least 640).
void gfx_convert_planes(const uint8_t planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES],
                        const uint32_t palette[PALETTE_SIZE], uint32_t* out, int out_pitch);

// Sets the default palette, a neutral tint and the screen's start-up fields,
// then (when the renderer exists) makes the transparent canvas. A canvas that
// cannot be made stays null and the canvas operations then draw nothing.
void gfx_init_screen(Engine* engine);

// Converts the planes into the planes texture (made on the first call) and
// copies it over the whole current target. Draws nothing when the texture
// cannot be made or locked; the next call tries again.
void gfx_upload_vram(Engine* engine);

// Derives the tint of the picture layers from palette entries 1 to 7 against
// the default palette's brightness, and clears palette_changed.
void gfx_update_tint(Engine* engine);

// Composes one frame into the current target: planes, canvas, sprites, text
// layer (the last three tinted), then the scanline overlay when it is on.
// Never clears or presents.
void gfx_compose_frame(Engine* engine);

// Chooses linear filtering for every screen and picture texture when on is
// non-zero in HD mode, nearest otherwise; the font stays nearest.
void gfx_set_smoothing(Engine* engine, uint8_t on);

// After the renderer lost its targets: redraws the planes into the current
// target and refills the canvas with the opaque planes picture. The pictures
// that were on the canvas are not redrawn.
void gfx_restore_layers(Engine* engine);

// ---------------------------------------------------------------------------
// Canvas, picture slots and sprites
// ---------------------------------------------------------------------------

// Draws the whole picture of slot id at the slot's position on the canvas and
// logs it. Does nothing for an id above 255 or a slot without a picture.
void gfx_blit_image(Engine* engine, uint32_t id);

// Draws a part of a picture, in units of 8 pixels by 2 lines, at the place
// picture destination (blit_x8, blit_y2), cut to the canvas, logs it and hides
// the slot's sprite. An unusable id falls back to current_image; when that is
// unusable too, nothing happens. The four operands are read as signed.
void gfx_blit_image_part(Engine* engine, uint32_t id, uint32_t src_x8, uint32_t src_y2,
                         uint32_t w8, uint32_t h2);

// Clears the canvas to transparent and empties the command log.
void gfx_clear_canvas(Engine* engine);

// Makes a rectangle of the canvas (in canvas pixels) transparent and logs it;
// the record is kept even when there is no canvas.
void gfx_clear_rect(Engine* engine, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// Rebuilds the canvas from the command log without changing the log, the
// slots' positions and sprite flags, or the place-picture destination.
void gfx_replay_log(Engine* engine);

// Draws every visible picture slot, in slot order, into the current target
// with its fixed effect stage and the tint, cut at the screen's bottom edge.
void gfx_draw_sprites(Engine* engine);

// ---------------------------------------------------------------------------
// Thumbnails and screenshots
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Text layer and fonts
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Text history
// ---------------------------------------------------------------------------

