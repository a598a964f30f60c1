// A software renderer and read-back helpers for pixel tests, a plain white
// font for tests that need text drawn, and a window fixture for tests of the
// composed screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine.h"
#include "test_support.h"

struct SDL_Rect;
struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Window;

using Pixels = std::vector<uint32_t>;  // RGBA8888: 0xRRGGBBAA

// One software renderer on a hidden window for the whole program: the font
// and the text layer keep their textures across calls, so every test of a
// program must draw with the same renderer. Null when SDL cannot make one.
SDL_Renderer* test_renderer();

// A transparent RGBA8888 target texture with blending, left as the current target.
SDL_Texture* make_render_target(int w, int h);

// An RGBA8888 target texture with blending cleared to rgba (0xRRGGBBAA);
// leaves the default target current.
SDL_Texture* make_filled_target(int w, int h, uint32_t rgba);

// Paints a rectangle of a target texture in rgba, replacing what was there;
// leaves the default target current.
void fill_target_rect(SDL_Texture* target, const SDL_Rect& rect, uint32_t rgba);

// Every pixel of a target texture; leaves the default target current.
Pixels read_render_target(SDL_Texture* target);

// One pixel of what the renderer last drew to its window.
uint32_t window_pixel(SDL_Renderer* renderer, int x, int y);

// Runs draw with a fresh w x h target cleared to background current and
// returns what it drew; leaves the default target current.
Pixels draw_to_target(int w, int h, const std::function<void()>& draw, uint32_t background = 0);

inline uint32_t pixel_at(const Pixels& pixels, int w, int x, int y)
{
    return pixels[static_cast<size_t>(y) * w + x];
}

// 0xRRGGBB as the opaque pixel it draws.
inline uint32_t opaque(uint32_t rgb) { return rgb << 8 | 0xFF; }

// RGBA bytes (R, G, B, A per pixel) as a PNG, BMP or TGA file's bytes.
Bytes encode_png(int w, int h, const uint8_t* rgba);
Bytes encode_bmp(int w, int h, const uint8_t* rgba);
Bytes encode_tga(int w, int h, const uint8_t* rgba);

// Writes an atlas that is white ink everywhere as the loose font of the mode
// into the scratch folder (which must be the working directory) and loads it
// with font_init, which also makes a fresh transparent text layer.
bool load_white_font(const ScratchDir& scratch, uint8_t hd);

// A window of its own with a software renderer showing the logical screen of
// the mode, and an Engine with its screen set up as at start-up. The window
// may be larger than the logical screen, as after the player resizes it.
// SDL is shut down after each test, so a program that uses this fixture
// must not use test_renderer().
class ScreenWindowTest : public ::testing::Test {
protected:
    // Window of window_w x window_h (the logical size when 0).
    void open_screen(uint8_t hd, int window_w = 0, int window_h = 0);
    void TearDown() override;

    // The window's output pixels as 0xAARRGGBB, whatever the logical size.
    Pixels read_output();
    // Every pixel of a target texture as 0xAARRGGBB; leaves the default target current.
    Pixels read_texture(SDL_Texture* texture);

    int k = 1;  // the mode's scale
    int logical_w = SCREEN_WIDTH;
    int logical_h = SCREEN_HEIGHT;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    std::unique_ptr<Engine> engine;
};
