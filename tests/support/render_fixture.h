// A software renderer and read-back helpers for pixel tests, and a plain
// white font for tests that need text drawn.
#pragma once

#include <cstdint>
#include <vector>

#include "test_support.h"

struct SDL_Renderer;
struct SDL_Texture;

using Pixels = std::vector<uint32_t>;  // RGBA8888: 0xRRGGBBAA

// One software renderer on a hidden window for the whole program: the font
// and the text layer keep their textures across calls, so every test of a
// program must draw with the same renderer. Null when SDL cannot make one.
SDL_Renderer* test_renderer();

// A transparent RGBA8888 target texture with blending, left as the current target.
SDL_Texture* make_render_target(int w, int h);

// Every pixel of a target texture; leaves the default target current.
Pixels read_render_target(SDL_Texture* target);

inline uint32_t pixel_at(const Pixels& pixels, int w, int x, int y)
{
    return pixels[static_cast<size_t>(y) * w + x];
}

// 0xRRGGBB as the opaque pixel it draws.
inline uint32_t opaque(uint32_t rgb) { return rgb << 8 | 0xFF; }

// Writes an atlas that is white ink everywhere as the loose font of the mode
// into the scratch folder (which must be the working directory) and loads it
// with font_init, which also makes a fresh transparent text layer.
bool load_white_font(const ScratchDir& scratch, uint8_t hd);
