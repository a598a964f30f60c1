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


// ---------------------------------------------------------------------------
// Canvas, picture slots and sprites
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Thumbnails and screenshots
// ---------------------------------------------------------------------------

// Save thumbnails: 8-bit RGB PNGs of this size in both graphics modes.
constexpr int THUMB_WIDTH = 320;
constexpr int THUMB_HEIGHT = 200;
constexpr int THUMB_CHANNELS = 3;
// A thumbnail's buffer holds at least this many bytes; a PNG beyond it gets
// THUMB_GROWN_CAPACITY bytes, and one beyond that exactly its own length.
constexpr int32_t THUMB_BUFFER_CAPACITY = 32768;
constexpr int32_t THUMB_GROWN_CAPACITY = 65536;

// Composes the game screen off-screen (no choice list, prompt, history view or
// slot screen) and box-averages it to a THUMB_WIDTH x THUMB_HEIGHT PNG. Returns 1
// with a malloc'd buffer in *out_png (caller frees) and the PNG's length in
// *out_size; 0 with both untouched when there is no renderer or something fails.
// The window's default target is current afterwards.
int32_t gfx_capture_thumbnail(Engine* engine, uint8_t** out_png, int32_t* out_size);

// Writes the frame drawn so far in the window (overlays included) to path as an
// RGBA PNG at the window's own resolution of the picture, replacing any file of
// that name. Gives up silently when the frame cannot be read or the file written.
void gfx_save_screenshot(Engine* engine, const char* path);


// ---------------------------------------------------------------------------
// Text layer and fonts
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Text history
// ---------------------------------------------------------------------------

