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


// ---------------------------------------------------------------------------
// Text layer and fonts
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Text history
// ---------------------------------------------------------------------------

