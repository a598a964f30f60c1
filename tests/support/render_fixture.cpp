#include "render_fixture.h"

#include "screen.h"

#include <SDL.h>
#include <stb_image_write.h>

// Wide enough for the single-byte row and the first rows of Shift-JIS at
// either glyph scale.
constexpr int WHITE_ATLAS_WIDTH = 2048;
constexpr int WHITE_ATLAS_HEIGHT = 128;
constexpr int RGBA_BYTES = 4;

SDL_Renderer* test_renderer()
{
    static SDL_Renderer* renderer = [] {
        SDL_Init(SDL_INIT_VIDEO);
        SDL_Window* window = SDL_CreateWindow("test", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
        return SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE);
    }();
    return renderer;
}

SDL_Texture* make_render_target(int w, int h)
{
    SDL_Renderer* r = test_renderer();
    SDL_Texture* t = SDL_CreateTexture(r, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET, w, h);
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    SDL_SetRenderTarget(r, t);
    SDL_SetRenderDrawColor(r, 0, 0, 0, 0);
    SDL_RenderClear(r);
    return t;
}

Pixels read_render_target(SDL_Texture* target)
{
    SDL_Renderer* r = test_renderer();
    int w = 0, h = 0;
    SDL_QueryTexture(target, nullptr, nullptr, &w, &h);
    Pixels pixels(static_cast<size_t>(w) * h);
    SDL_SetRenderTarget(r, target);
    SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_RGBA8888, pixels.data(), w * RGBA_BYTES);
    SDL_SetRenderTarget(r, nullptr);
    return pixels;
}

static void append_bytes(void* context, void* data, int size)
{
    auto* out = static_cast<Bytes*>(context);
    auto* bytes = static_cast<uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

bool load_white_font(const ScratchDir& scratch, uint8_t hd)
{
    std::vector<uint8_t> rgba(static_cast<size_t>(WHITE_ATLAS_WIDTH) * WHITE_ATLAS_HEIGHT * RGBA_BYTES, 0xFF);
    Bytes png;
    stbi_write_png_to_func(append_bytes, &png, WHITE_ATLAS_WIDTH, WHITE_ATLAS_HEIGHT, RGBA_BYTES,
                           rgba.data(), WHITE_ATLAS_WIDTH * RGBA_BYTES);
    write_file(scratch.file(hd ? "FONT_ATLAS_GDI.PNG" : "FONT_ATLAS_SD.PNG"), png);
    return font_init(test_renderer(), hd);
}
