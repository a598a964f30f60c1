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

static void set_draw_colour(SDL_Renderer* r, uint32_t rgba)
{
    SDL_SetRenderDrawColor(r, rgba >> 24, (rgba >> 16) & 0xFF, (rgba >> 8) & 0xFF, rgba & 0xFF);
}

static SDL_Texture* make_target_cleared(int w, int h, uint32_t rgba)
{
    SDL_Renderer* r = test_renderer();
    SDL_Texture* t = SDL_CreateTexture(r, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET, w, h);
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    SDL_SetRenderTarget(r, t);
    set_draw_colour(r, rgba);
    SDL_RenderClear(r);
    return t;
}

SDL_Texture* make_render_target(int w, int h)
{
    return make_target_cleared(w, h, 0);
}

SDL_Texture* make_filled_target(int w, int h, uint32_t rgba)
{
    SDL_Texture* t = make_target_cleared(w, h, rgba);
    SDL_SetRenderTarget(test_renderer(), nullptr);
    return t;
}

void fill_target_rect(SDL_Texture* target, const SDL_Rect& rect, uint32_t rgba)
{
    SDL_Renderer* r = test_renderer();
    SDL_SetRenderTarget(r, target);
    SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_NONE);
    set_draw_colour(r, rgba);
    SDL_RenderFillRect(r, &rect);
    SDL_SetRenderTarget(r, nullptr);
}

static Pixels read_pixels(SDL_Renderer* r, SDL_Texture* target, uint32_t format)
{
    int w = 0, h = 0;
    SDL_QueryTexture(target, nullptr, nullptr, &w, &h);
    Pixels pixels(static_cast<size_t>(w) * h);
    SDL_SetRenderTarget(r, target);
    EXPECT_EQ(SDL_RenderReadPixels(r, nullptr, format, pixels.data(), w * RGBA_BYTES), 0) << SDL_GetError();
    SDL_SetRenderTarget(r, nullptr);
    return pixels;
}

Pixels read_render_target(SDL_Texture* target)
{
    return read_pixels(test_renderer(), target, SDL_PIXELFORMAT_RGBA8888);
}

uint32_t window_pixel(SDL_Renderer* renderer, int x, int y)
{
    uint32_t pixel = 0;
    const SDL_Rect one = {x, y, 1, 1};
    SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_RGBA8888, &pixel, RGBA_BYTES);
    return pixel;
}

Pixels draw_to_target(int w, int h, const std::function<void()>& draw, uint32_t background)
{
    SDL_Texture* target = make_target_cleared(w, h, background);
    draw();
    Pixels pixels = read_render_target(target);
    SDL_DestroyTexture(target);
    return pixels;
}

static void append_bytes(void* context, void* data, int size)
{
    auto* out = static_cast<Bytes*>(context);
    auto* bytes = static_cast<uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

Bytes encode_png(int w, int h, const uint8_t* rgba)
{
    Bytes png;
    stbi_write_png_to_func(append_bytes, &png, w, h, RGBA_BYTES, rgba, w * RGBA_BYTES);
    return png;
}

Bytes encode_bmp(int w, int h, const uint8_t* rgba)
{
    Bytes bmp;
    stbi_write_bmp_to_func(append_bytes, &bmp, w, h, RGBA_BYTES, rgba);
    return bmp;
}

Bytes encode_tga(int w, int h, const uint8_t* rgba)
{
    Bytes tga;
    stbi_write_tga_to_func(append_bytes, &tga, w, h, RGBA_BYTES, rgba);
    return tga;
}

bool load_white_font(const ScratchDir& scratch, uint8_t hd)
{
    std::vector<uint8_t> rgba(static_cast<size_t>(WHITE_ATLAS_WIDTH) * WHITE_ATLAS_HEIGHT * RGBA_BYTES, 0xFF);
    write_file(scratch.file(hd ? "FONT_ATLAS_GDI.PNG" : "FONT_ATLAS_SD.PNG"),
               encode_png(WHITE_ATLAS_WIDTH, WHITE_ATLAS_HEIGHT, rgba.data()));
    return font_init(test_renderer(), hd);
}

void ScreenWindowTest::open_screen(uint8_t hd, int window_w, int window_h)
{
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    k = hd ? 2 : 1;
    logical_w = SCREEN_WIDTH * k;
    logical_h = SCREEN_HEIGHT * k;
    window = SDL_CreateWindow("screen test", 0, 0, window_w ? window_w : logical_w,
                              window_h ? window_h : logical_h, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE);
    ASSERT_NE(renderer, nullptr) << SDL_GetError();
    SDL_RenderSetLogicalSize(renderer, logical_w, logical_h);
    engine = std::make_unique<Engine>();
    engine_init(engine.get(), hd);
    engine->window = window;
    engine->renderer = renderer;
    gfx_init_screen(engine.get());
    ASSERT_NE(engine->canvas_texture, nullptr);
}

void ScreenWindowTest::TearDown()
{
    if (renderer)
        SDL_DestroyRenderer(renderer);
    if (window)
        SDL_DestroyWindow(window);
    renderer = nullptr;
    window = nullptr;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    SDL_Quit();
}

Pixels ScreenWindowTest::read_output()
{
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(renderer, &lw, &lh);
    SDL_RenderSetLogicalSize(renderer, 0, 0);
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(renderer, &ow, &oh);
    Pixels pixels(static_cast<size_t>(ow) * oh);
    EXPECT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), ow * RGBA_BYTES), 0)
        << SDL_GetError();
    SDL_RenderSetLogicalSize(renderer, lw, lh);
    return pixels;
}

Pixels ScreenWindowTest::read_texture(SDL_Texture* texture)
{
    return read_pixels(renderer, texture, SDL_PIXELFORMAT_ARGB8888);
}
