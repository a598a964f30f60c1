// The planes and palette, the tint, frame composition with the scanline
// overlay, smoothing and the canvas refill, read back from SDL's software
// renderer.
#include <gtest/gtest.h>

#include "render_fixture.h"
#include "screen.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Channels may differ by one between renderers' blending arithmetic.
static constexpr int CHANNEL_TOLERANCE = 1;

static int channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

static void expect_rgb_near(uint32_t argb, int r, int g, int b, const std::string& where)
{
    EXPECT_NEAR(channel(argb, 16), r, CHANNEL_TOLERANCE) << where;
    EXPECT_NEAR(channel(argb, 8), g, CHANNEL_TOLERANCE) << where;
    EXPECT_NEAR(channel(argb, 0), b, CHANNEL_TOLERANCE) << where;
}

class ScreenTest : public ScreenWindowTest {
protected:
    Pixels read_canvas() { return read_texture(engine->canvas_texture); }

    // A transparent layer-sized render target.
    SDL_Texture* make_layer()
    {
        SDL_Texture* layer = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET,
                                               logical_w, logical_h);
        EXPECT_NE(layer, nullptr);
        SDL_SetTextureBlendMode(layer, SDL_BLENDMODE_BLEND);
        SDL_SetRenderTarget(renderer, layer);
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0);
        SDL_RenderClear(renderer);
        SDL_SetRenderTarget(renderer, nullptr);
        return layer;
    }

    void fill(SDL_Texture* target, SDL_Rect rect, uint8_t r, uint8_t g, uint8_t b)
    {
        SDL_SetRenderTarget(renderer, target);
        SDL_SetRenderDrawColor(renderer, r, g, b, 255);
        SDL_RenderFillRect(renderer, &rect);
        SDL_SetRenderTarget(renderer, nullptr);
    }
    void fill_canvas(SDL_Rect rect, uint8_t r, uint8_t g, uint8_t b) { fill(engine->canvas_texture, rect, r, g, b); }

    // A text layer with white ink in one rectangle.
    void make_text_layer(SDL_Rect ink)
    {
        engine->text_layer = make_layer();
        fill(engine->text_layer, ink, 255, 255, 255);
    }

    SDL_Texture* make_picture(int w, int h, uint32_t abgr)
    {
        return ::make_picture(renderer, w, h, [=](int, int) { return abgr; });
    }

    void compose()
    {
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        gfx_compose_frame(engine.get());
    }
};

static void set_pixel(Engine* engine, int x, int y, int index)
{
    for (int plane = 0; plane < VRAM_PLANE_COUNT; plane++) {
        uint8_t& byte = engine->vram_planes[plane][y * VRAM_BYTES_PER_LINE + x / 8];
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
        byte = static_cast<uint8_t>((index >> plane) & 1 ? byte | bit : byte & ~bit);
    }
}

// ---------------------------------------------------------------------------
// Planes and palette
// ---------------------------------------------------------------------------

TEST(PlanesTest, ConversionMatchesBitOrderAndPaletteOnRandomPlanes)
{
    static uint8_t planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES];
    srand(7);
    for (auto& plane : planes)
        for (uint8_t& byte : plane)
            byte = static_cast<uint8_t>(rand());
    uint32_t palette[PALETTE_SIZE];
    for (int i = 0; i < PALETTE_SIZE; i++)
        palette[i] = 0x10203040u * static_cast<uint32_t>(i + 1);

    // Rows wider than the picture, as a locked texture may have; the padding must stay untouched.
    const int pitch = VRAM_WIDTH + 3;
    const uint32_t padding = 0xDEADBEEF;
    std::vector<uint32_t> out(static_cast<size_t>(pitch) * VRAM_HEIGHT, padding);
    gfx_convert_planes(planes, palette, out.data(), pitch);

    int mismatches = 0;
    for (int y = 0; y < VRAM_HEIGHT; y++) {
        for (int x = 0; x < VRAM_WIDTH; x++) {
            const int offset = y * VRAM_BYTES_PER_LINE + x / 8;
            const int bit = 7 - x % 8;
            const int index = ((planes[0][offset] >> bit) & 1) | ((planes[1][offset] >> bit) & 1) << 1 |
                              ((planes[2][offset] >> bit) & 1) << 2;
            mismatches += out[static_cast<size_t>(y) * pitch + x] != palette[index];
        }
        for (int x = VRAM_WIDTH; x < pitch; x++)
            mismatches += out[static_cast<size_t>(y) * pitch + x] != padding;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(ScreenTest, PlanesAreShownThroughThePaletteLeftmostPixelInBitSeven)
{
    open_screen(0);
    engine->vram_planes[0][0] = 0x80;                        // pixel (0,0): index 1
    engine->vram_planes[1][VRAM_BYTES_PER_LINE + 1] = 0x01;  // pixel (15,1): index 2
    set_pixel(engine.get(), 639, 399, 7);
    engine->palette[1] = 0xFF102030;
    engine->palette[2] = 0xFF405060;
    engine->palette[7] = 0xFFFFFFFF;
    compose();
    const std::vector<uint32_t> pixels = read_output();
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(pixels[1] & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(pixels[640 + 15] & 0xFFFFFF, 0x405060u);
    EXPECT_EQ(pixels[640 + 14] & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(pixels[640 * 400 - 1] & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(ScreenTest, PlanesStayAt640By400AndAreStretchedInHdMode)
{
    open_screen(1);
    set_pixel(engine.get(), 3, 2, 5);
    compose();
    int w = 0;
    int h = 0;
    ASSERT_EQ(SDL_QueryTexture(engine->vram_texture, nullptr, nullptr, &w, &h), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 400);
    const std::vector<uint32_t> pixels = read_output();
    for (int dy = 0; dy < 2; dy++)
        for (int dx = 0; dx < 2; dx++)
            EXPECT_EQ(pixels[(4 + dy) * 1280 + 6 + dx] & 0xFFFFFF, 0x00FFFFu);
    EXPECT_EQ(pixels[4 * 1280 + 8] & 0xFFFFFF, 0u);
    EXPECT_EQ(pixels[6 * 1280 + 6] & 0xFFFFFF, 0u);
}

// ---------------------------------------------------------------------------
// Start-up state and tint
// ---------------------------------------------------------------------------

TEST_F(ScreenTest, InitSetsDefaultsAndATransparentCanvasOfTheLogicalSize)
{
    open_screen(1);
    // Entry 5 is cyan like 13, not the darker 0xFF00AAAA.
    EXPECT_EQ(std::vector<uint32_t>(engine->palette, engine->palette + PALETTE_SIZE),
              (std::vector<uint32_t>{0xFF000000, 0xFF0000AA, 0xFFAA0000, 0xFFAA00AA, 0xFF00AA00, 0xFF00FFFF,
                                     0xFFAAAA00, 0xFFAAAAAA, 0xFF000000, 0xFF0000FF, 0xFFFF0000, 0xFFFF00FF,
                                     0xFF00FF00, 0xFF00FFFF, 0xFFFFFF00, 0xFFFFFFFF}));
    EXPECT_EQ(engine->palette_spare, 0xFFFFFFFFu);
    EXPECT_EQ(engine->spare_int, -1);
    EXPECT_EQ(engine->tint[0] + engine->tint[1] + engine->tint[2], 3 * 255);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);

    uint32_t format = 0;
    int access = 0;
    int w = 0;
    int h = 0;
    ASSERT_EQ(SDL_QueryTexture(engine->canvas_texture, &format, &access, &w, &h), 0);
    EXPECT_EQ(format, static_cast<uint32_t>(SDL_PIXELFORMAT_RGBA8888));
    EXPECT_EQ(access, SDL_TEXTUREACCESS_TARGET);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 800);
    SDL_BlendMode blend = SDL_BLENDMODE_NONE;
    SDL_GetTextureBlendMode(engine->canvas_texture, &blend);
    EXPECT_EQ(blend, SDL_BLENDMODE_BLEND);
    for (uint32_t pixel : read_canvas())
        ASSERT_EQ(pixel, 0u);
}

TEST(ScreenInitTest, WithoutARendererTheFieldsAreSetAndNoCanvasIsMade)
{
    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 0);
    engine->wait_frames = 9;
    engine->vm_command_mode = 1;
    gfx_init_screen(engine.get());
    EXPECT_EQ(engine->canvas_texture, nullptr);
    EXPECT_EQ(engine->palette[7], 0xFFAAAAAAu);
    EXPECT_EQ(engine->wait_frames, 0);
    EXPECT_EQ(engine->vm_command_mode, 0);
    EXPECT_EQ(engine->tint[1], 255);
    // Composing without a renderer must be harmless.
    gfx_compose_frame(engine.get());
    EXPECT_EQ(engine->vram_texture, nullptr);
}

TEST(TintTest, FollowsTheBrightnessOfEntriesOneToSeven)
{
    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 0);
    gfx_init_screen(engine.get());
    auto tint_of = [&]() {
        engine->palette_changed = 1;
        gfx_update_tint(engine.get());
        EXPECT_EQ(engine->palette_changed, 0);
        return std::vector<int>{engine->tint[0], engine->tint[1], engine->tint[2]};
    };

    EXPECT_EQ(tint_of(), (std::vector<int>{255, 255, 255}));

    engine->palette[7] = engine->palette[0];
    EXPECT_EQ(tint_of(), (std::vector<int>{191, 198, 198}));

    for (int i = 1; i <= 7; i++)
        engine->palette[i] = 0xFF000000;
    EXPECT_EQ(tint_of(), (std::vector<int>{0, 0, 0}));

    // The background and the hidden upper entries do not count.
    memcpy(engine->palette, DEFAULT_PALETTE, sizeof engine->palette);
    engine->palette[0] = 0xFFFFFFFF;
    for (int i = 8; i < PALETTE_SIZE; i++)
        engine->palette[i] = 0xFF000000;
    EXPECT_EQ(tint_of(), (std::vector<int>{255, 255, 255}));

    // Brighter than the default is capped, not wrapped.
    for (int i = 1; i <= 7; i++)
        engine->palette[i] = 0xFFFFFFFF;
    EXPECT_EQ(tint_of(), (std::vector<int>{255, 255, 255}));
}

// ---------------------------------------------------------------------------
// Composition
// ---------------------------------------------------------------------------

TEST_F(ScreenTest, LayersStackPlanesCanvasSpritesTextBottomToTop)
{
    open_screen(0);
    engine->palette[0] = 0xFF0000FF;  // planes blue
    fill_canvas({0, 0, 40, 10}, 255, 0, 0);
    ImageSlot& slot = engine->image_slots[9];
    slot.tex_sd = make_picture(20, 10, 0xFF00FF00);  // green
    slot.sd_w = 20;
    slot.sd_h = 10;
    slot.loaded = 1;
    slot.sprite_visible = 1;
    make_text_layer({0, 0, 10, 10});

    compose();
    const std::vector<uint32_t> pixels = read_output();
    EXPECT_EQ(pixels[5 * 640 + 5] & 0xFFFFFF, 0xFFFFFFu);   // text
    EXPECT_EQ(pixels[5 * 640 + 15] & 0xFFFFFF, 0x00FF00u);  // sprite
    EXPECT_EQ(pixels[5 * 640 + 30] & 0xFFFFFF, 0xFF0000u);  // canvas
    EXPECT_EQ(pixels[5 * 640 + 50] & 0xFFFFFF, 0x0000FFu);  // planes
}

TEST_F(ScreenTest, TintDimsCanvasAndTextButNotThePlanesAndModulationIsReset)
{
    open_screen(0);
    engine->palette[0] = 0xFFFFFFFF;
    engine->palette[7] = 0xFF000000;
    gfx_update_tint(engine.get());
    ASSERT_EQ(engine->tint[0], 191);
    fill_canvas({0, 0, 10, 10}, 255, 255, 255);
    make_text_layer({20, 0, 10, 10});

    compose();
    const std::vector<uint32_t> pixels = read_output();
    expect_rgb_near(pixels[5 * 640 + 5], 191, 198, 198, "canvas");
    expect_rgb_near(pixels[5 * 640 + 25], 191, 198, 198, "text layer");
    expect_rgb_near(pixels[5 * 640 + 50], 255, 255, 255, "planes");
    for (SDL_Texture* layer : {engine->canvas_texture, engine->text_layer}) {
        uint8_t r = 0, g = 0, b = 0;
        SDL_GetTextureColorMod(layer, &r, &g, &b);
        EXPECT_EQ(r + g + b, 3 * 255);
    }
}

TEST_F(ScreenTest, OneChannelBelowFullIsAppliedAndAFullTintLeavesModulationAlone)
{
    open_screen(0);
    engine->palette[0] = 0xFF000000;
    fill_canvas({0, 0, 10, 10}, 255, 255, 255);
    engine->tint[2] = 254;
    compose();
    std::vector<uint32_t> pixels = read_output();
    expect_rgb_near(pixels[5 * 640 + 5], 255, 255, 254, "blue tint 254");
    EXPECT_LT(pixels[5 * 640 + 5] & 0xFF, 255u);  // applied, not lost in the tolerance
    uint8_t r = 0, g = 0, b = 0;
    SDL_GetTextureColorMod(engine->canvas_texture, &r, &g, &b);
    EXPECT_EQ(b, 255);

    // An untinted frame must not reset a modulation someone else set.
    engine->tint[2] = 255;
    SDL_SetTextureColorMod(engine->canvas_texture, 10, 20, 30);
    compose();
    SDL_GetTextureColorMod(engine->canvas_texture, &r, &g, &b);
    EXPECT_EQ(r, 10);
    EXPECT_EQ(g, 20);
    EXPECT_EQ(b, 30);
}

// ---------------------------------------------------------------------------
// Scanlines
// ---------------------------------------------------------------------------

// Rows of the output where column x is darkened over a white picture.
static std::vector<int> dark_rows(const std::vector<uint32_t>& pixels, int width, int height, int x)
{
    std::vector<int> rows;
    for (int y = 0; y < height; y++)
        if (channel(pixels[static_cast<size_t>(y) * width + x], 16) < 200)
            rows.push_back(y);
    return rows;
}

static std::vector<int> every(int first, int step, int past)
{
    std::vector<int> rows;
    for (int y = first; y < past; y += step)
        rows.push_back(y);
    return rows;
}

TEST_F(ScreenTest, ScanlinesDarkenEveryOtherRowStartingAtRowOne)
{
    open_screen(0);
    engine->palette[0] = 0xFFFFFFFF;
    engine->scanlines = 1;
    compose();
    const std::vector<uint32_t> pixels = read_output();
    EXPECT_EQ(dark_rows(pixels, 640, 400, 0), every(1, 2, 400));
    EXPECT_EQ(dark_rows(pixels, 640, 400, 639), every(1, 2, 400));
    // 80 of 255 black over white.
    expect_rgb_near(pixels[640], 175, 175, 175, "scanline");
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(renderer, &lw, &lh);
    EXPECT_EQ(lw, 640);
    EXPECT_EQ(lh, 400);
}

TEST_F(ScreenTest, ScanlinesAreOneOutputPixelThickInADoubledWindow)
{
    open_screen(0, 1280, 800);
    engine->palette[0] = 0xFFFFFFFF;
    engine->scanlines = 1;
    compose();
    const std::vector<uint32_t> pixels = read_output();
    const std::vector<int> expected = every(2, 4, 800);
    EXPECT_EQ(expected.size(), 200u);
    EXPECT_EQ(dark_rows(pixels, 1280, 800, 0), expected);
    EXPECT_EQ(dark_rows(pixels, 1280, 800, 1279), expected);
}

TEST_F(ScreenTest, ScanlinesCoverOnlyTheLetterboxedPicture)
{
    // A 2:1 window shows the 16:10 picture between bars 80 pixels wide.
    open_screen(0, 800, 400);
    engine->palette[0] = 0xFFFFFFFF;
    engine->scanlines = 1;
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    SDL_RenderClear(renderer);
    gfx_compose_frame(engine.get());
    const std::vector<uint32_t> pixels = read_output();
    EXPECT_TRUE(dark_rows(pixels, 800, 400, 79).empty());
    EXPECT_EQ(dark_rows(pixels, 800, 400, 80), every(1, 2, 400));
    EXPECT_EQ(dark_rows(pixels, 800, 400, 719), every(1, 2, 400));
    EXPECT_TRUE(dark_rows(pixels, 800, 400, 720).empty());
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(renderer, &lw, &lh);
    EXPECT_EQ(lw, 640);
}

TEST_F(ScreenTest, NoScanlinesWhenTheSettingIsOff)
{
    open_screen(0);
    engine->palette[0] = 0xFFFFFFFF;
    compose();
    EXPECT_TRUE(dark_rows(read_output(), 640, 400, 0).empty());
}

// ---------------------------------------------------------------------------
// Smoothing and the canvas refill
// ---------------------------------------------------------------------------

static SDL_ScaleMode scale_mode(SDL_Texture* texture)
{
    SDL_ScaleMode mode = SDL_ScaleModeBest;
    EXPECT_EQ(SDL_GetTextureScaleMode(texture, &mode), 0);
    return mode;
}

TEST_F(ScreenTest, SmoothingInHdModeMakesEveryScreenTextureLinear)
{
    open_screen(1);
    compose();  // makes the planes texture
    engine->text_layer = make_layer();
    engine->image_slots[0].tex_sd = make_picture(8, 8, 0xFFFFFFFF);
    engine->image_slots[255].tex_hd = make_picture(16, 16, 0xFFFFFFFF);

    gfx_set_smoothing(engine.get(), 1);
    for (SDL_Texture* texture : {engine->vram_texture, engine->canvas_texture, engine->text_layer,
                                 engine->image_slots[0].tex_sd, engine->image_slots[255].tex_hd})
        EXPECT_EQ(scale_mode(texture), SDL_ScaleModeLinear);
    EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY), "1");
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(renderer, &lw, &lh);
    EXPECT_EQ(lw, 1280);
    EXPECT_EQ(lh, 800);

    gfx_set_smoothing(engine.get(), 0);
    for (SDL_Texture* texture : {engine->vram_texture, engine->canvas_texture, engine->text_layer,
                                 engine->image_slots[0].tex_sd, engine->image_slots[255].tex_hd})
        EXPECT_EQ(scale_mode(texture), SDL_ScaleModeNearest);
    EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY), "0");
}

TEST_F(ScreenTest, SmoothingInSdModeAlwaysSelectsNearest)
{
    open_screen(0);
    engine->antialias = 1;
    engine->image_slots[3].tex_sd = make_picture(8, 8, 0xFFFFFFFF);
    SDL_SetTextureScaleMode(engine->canvas_texture, SDL_ScaleModeLinear);
    SDL_SetTextureScaleMode(engine->image_slots[3].tex_sd, SDL_ScaleModeLinear);
    gfx_set_smoothing(engine.get(), 1);
    EXPECT_EQ(scale_mode(engine->canvas_texture), SDL_ScaleModeNearest);
    EXPECT_EQ(scale_mode(engine->image_slots[3].tex_sd), SDL_ScaleModeNearest);
    EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY), "0");
}

TEST_F(ScreenTest, RestoreLayersRefillsTheCanvasWithTheOpaquePlanes)
{
    open_screen(1);
    fill_canvas({0, 0, 100, 100}, 255, 0, 0);
    engine->palette[0] = 0xFF123456;
    set_pixel(engine.get(), 639, 399, 7);
    gfx_restore_layers(engine.get());
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
    const std::vector<uint32_t> canvas = read_canvas();
    EXPECT_EQ(canvas[0], 0xFF123456u);
    EXPECT_EQ(canvas[800 * 1280 / 2 + 640], 0xFF123456u);
    EXPECT_EQ(canvas[800 * 1280 - 1], 0xFFAAAAAAu);
}
