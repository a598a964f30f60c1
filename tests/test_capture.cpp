#include <gtest/gtest.h>

#include "engine.h"
#include "screen.h"
#include "test_support.h"

#include <SDL.h>
#include <stb_image.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

// A window with a software renderer and the screen set up as at start-up. The
// window may be larger than the logical screen, as after the player resizes it.
class CaptureTest : public ::testing::Test {
protected:
    void open(uint8_t hd_mode, int window_w, int window_h)
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("capture", 0, 0, window_w, window_h, 0);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        ASSERT_NE(renderer, nullptr) << SDL_GetError();
        engine = std::make_unique<Engine>();
        engine_init(engine.get(), hd_mode);
        screen_w = SCREEN_WIDTH * engine_scale(engine.get());
        screen_h = SCREEN_HEIGHT * engine_scale(engine.get());
        SDL_RenderSetLogicalSize(renderer, screen_w, screen_h);
        engine->window = window;
        engine->renderer = renderer;
        gfx_init_screen(engine.get());
        ASSERT_NE(engine->canvas_texture, nullptr);
    }

    void TearDown() override
    {
        if (renderer)
            SDL_DestroyRenderer(renderer);
        if (window)
            SDL_DestroyWindow(window);
        SDL_Quit();
    }

    // Puts opaque RGB pixels (3 bytes each, screen_w x screen_h) on the canvas.
    void fill_canvas(const std::vector<uint8_t>& rgb)
    {
        std::vector<uint32_t> pixels(static_cast<size_t>(screen_w) * screen_h);
        for (size_t i = 0; i < pixels.size(); i++)
            pixels[i] = (uint32_t{rgb[i * 3]} << 24) | (uint32_t{rgb[i * 3 + 1]} << 16)
                        | (uint32_t{rgb[i * 3 + 2]} << 8) | 0xFFu;
        ASSERT_EQ(SDL_UpdateTexture(engine->canvas_texture, nullptr, pixels.data(), screen_w * 4), 0)
            << SDL_GetError();
    }

    // Captures a canvas in which every pixel differs from its neighbours, so a
    // wrong block or rounding shows, and compares with the block means.
    void expect_thumbnail_of_gradient(int block);

    struct Capture {
        int32_t result = 0;
        uint8_t* png = nullptr;
        int32_t size = 0;
        ~Capture() { free(png); }
    };

    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    std::unique_ptr<Engine> engine;
    int screen_w = 0;
    int screen_h = 0;
};

struct DecodedPng {
    int w = 0, h = 0;
    std::vector<uint8_t> pixels;
    uint8_t at(int x, int y, int channel, int channels) const
    {
        return pixels[(static_cast<size_t>(y) * w + x) * channels + channel];
    }
};

static DecodedPng decode_png(const uint8_t* bytes, size_t len, int channels)
{
    DecodedPng out;
    int file_channels = 0;
    uint8_t* pixels = stbi_load_from_memory(bytes, static_cast<int>(len), &out.w, &out.h,
                                            &file_channels, channels);
    if (!pixels)
        return out;
    out.pixels.assign(pixels, pixels + static_cast<size_t>(out.w) * out.h * channels);
    stbi_image_free(pixels);
    return out;
}

static std::vector<uint8_t> gradient_picture(int w, int h)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7 + y * 3);
            p[1] = static_cast<uint8_t>(x * 11 + y * 29);
            p[2] = static_cast<uint8_t>(x ^ (y * 5));
        }
    return rgb;
}

static void expect_box_average(const DecodedPng& thumb, const std::vector<uint8_t>& rgb, int w, int block)
{
    int mismatches = 0;
    for (int oy = 0; oy < THUMB_HEIGHT; oy++)
        for (int ox = 0; ox < THUMB_WIDTH; ox++)
            for (int c = 0; c < 3; c++) {
                unsigned sum = 0;
                for (int by = 0; by < block; by++)
                    for (int bx = 0; bx < block; bx++)
                        sum += rgb[((static_cast<size_t>(oy) * block + by) * w + ox * block + bx) * 3 + c];
                if (thumb.at(ox, oy, c, 3) != sum / (block * block) && mismatches++ < 5)
                    ADD_FAILURE() << "thumbnail pixel " << ox << "," << oy << " channel " << c << " is "
                                  << int(thumb.at(ox, oy, c, 3)) << ", mean is " << sum / (block * block);
            }
    EXPECT_EQ(mismatches, 0);
}

void CaptureTest::expect_thumbnail_of_gradient(int block)
{
    std::vector<uint8_t> rgb = gradient_picture(screen_w, screen_h);
    fill_canvas(rgb);
    Capture cap;
    cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
    ASSERT_EQ(cap.result, 1);
    DecodedPng thumb = decode_png(cap.png, static_cast<size_t>(cap.size), 3);
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    ASSERT_EQ(thumb.h, THUMB_HEIGHT);
    expect_box_average(thumb, rgb, screen_w, block);
}

TEST_F(CaptureTest, ThumbnailAveragesTwoByTwoBlocksInSdMode)
{
    open(0, 640, 400);
    expect_thumbnail_of_gradient(2);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
}

TEST_F(CaptureTest, ThumbnailAveragesFourByFourBlocksInHdMode)
{
    open(1, 1280, 800);
    expect_thumbnail_of_gradient(4);
}

TEST_F(CaptureTest, ThumbnailShowsTheGameScreenNotWhatIsDrawnOverTheWindow)
{
    open(0, 640, 400);
    // A menu or slot screen drawn straight into the window.
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    SDL_RenderClear(renderer);

    Capture cap;
    cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
    ASSERT_EQ(cap.result, 1);
    DecodedPng thumb = decode_png(cap.png, static_cast<size_t>(cap.size), 3);
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    for (uint8_t byte : thumb.pixels)
        ASSERT_EQ(byte, 0);
}

TEST_F(CaptureTest, ThumbnailAveragesTheScanlinesIntoItsRows)
{
    open(0, 640, 400);
    fill_canvas(std::vector<uint8_t>(static_cast<size_t>(screen_w) * screen_h * 3, 255));
    engine->scanlines = 1;

    Capture cap;
    cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
    ASSERT_EQ(cap.result, 1);
    DecodedPng thumb = decode_png(cap.png, static_cast<size_t>(cap.size), 3);
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    // Every block holds one plain and one darkened row.
    uint8_t first = thumb.pixels[0];
    EXPECT_LT(first, 255);
    EXPECT_GT(first, 160);
    for (uint8_t byte : thumb.pixels)
        ASSERT_EQ(byte, first);
}

TEST_F(CaptureTest, ThumbnailBufferGrowsOnlyForLargePngs)
{
    open(0, 640, 400);
    std::mt19937 random(7);
    bool seen_small = false, seen_grown = false, seen_exact = false;
    // More rows of noise make a larger PNG; the steps are fine enough to land
    // in every size class.
    for (int noisy_rows = 0; noisy_rows <= screen_h; noisy_rows += 24) {
        std::vector<uint8_t> rgb(static_cast<size_t>(screen_w) * screen_h * 3, 0);
        for (size_t i = 0; i < static_cast<size_t>(screen_w) * noisy_rows * 3; i++)
            rgb[i] = static_cast<uint8_t>(random());
        fill_canvas(rgb);

        Capture cap;
        cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
        ASSERT_EQ(cap.result, 1);
        ASSERT_GT(cap.size, 8);
        // The reported length ends exactly at the PNG's closing chunk.
        EXPECT_EQ(memcmp(cap.png + cap.size - 8, "IEND", 4), 0) << noisy_rows;
        EXPECT_EQ(decode_png(cap.png, static_cast<size_t>(cap.size), 3).w, THUMB_WIDTH);

        size_t usable = malloc_usable_size(cap.png);
        if (cap.size <= THUMB_BUFFER_CAPACITY) {
            seen_small = true;
            EXPECT_GE(usable, size_t{THUMB_BUFFER_CAPACITY});
            EXPECT_LT(usable, size_t{THUMB_GROWN_CAPACITY});
        } else if (cap.size <= THUMB_GROWN_CAPACITY) {
            seen_grown = true;
            EXPECT_GE(usable, size_t{THUMB_GROWN_CAPACITY});
            EXPECT_LT(usable, size_t{THUMB_GROWN_CAPACITY} + 4096);
        } else {
            seen_exact = true;
            EXPECT_GE(usable, static_cast<size_t>(cap.size));
            EXPECT_LT(usable, static_cast<size_t>(cap.size) + 4096);
        }
    }
    EXPECT_TRUE(seen_small);
    EXPECT_TRUE(seen_grown);
    EXPECT_TRUE(seen_exact);
}

TEST_F(CaptureTest, ThumbnailWithoutRendererOrOutputsLeavesTheOutputsAlone)
{
    open(0, 640, 400);
    uint8_t marker = 0;
    uint8_t* png = &marker;
    int32_t size = -7;
    EXPECT_EQ(gfx_capture_thumbnail(engine.get(), nullptr, &size), 0);
    EXPECT_EQ(gfx_capture_thumbnail(engine.get(), &png, nullptr), 0);
    engine->renderer = nullptr;
    EXPECT_EQ(gfx_capture_thumbnail(engine.get(), &png, &size), 0);
    EXPECT_EQ(png, &marker);
    EXPECT_EQ(size, -7);
}

// Draws a frame straight into the window: a blue screen with a red box, the way
// overlays such as the choice list are drawn after the composed frame.
static void draw_window_frame(SDL_Renderer* renderer, const SDL_Rect& box)
{
    SDL_SetRenderTarget(renderer, nullptr);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    SDL_SetRenderDrawColor(renderer, 0, 0, 255, 255);
    SDL_RenderFillRect(renderer, nullptr);
    SDL_SetRenderDrawColor(renderer, 255, 0, 0, 255);
    SDL_RenderFillRect(renderer, &box);
}

static bool pixel_is(const DecodedPng& png, int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    return png.at(x, y, 0, 4) == r && png.at(x, y, 1, 4) == g && png.at(x, y, 2, 4) == b
           && png.at(x, y, 3, 4) == 255;
}

static DecodedPng screenshot_file(const std::string& path)
{
    Bytes file = read_file(path);
    return decode_png(file.data(), file.size(), 4);
}

TEST_F(CaptureTest, ScreenshotHoldsTheFrameDrawnInTheWindow)
{
    open(0, 640, 400);
    ScratchDir dir;
    draw_window_frame(renderer, SDL_Rect{10, 20, 30, 40});
    std::string path = dir.file("shot.png");
    gfx_save_screenshot(engine.get(), path.c_str());

    DecodedPng shot = screenshot_file(path);
    ASSERT_EQ(shot.w, 640);
    ASSERT_EQ(shot.h, 400);
    EXPECT_TRUE(pixel_is(shot, 10, 20, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 39, 59, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 40, 59, 0, 0, 255));
    EXPECT_TRUE(pixel_is(shot, 9, 20, 0, 0, 255));
    EXPECT_TRUE(pixel_is(shot, 639, 399, 0, 0, 255));
}

TEST_F(CaptureTest, ScreenshotOfAnEnlargedWindowKeepsTheWindowsResolution)
{
    open(0, 1280, 800);
    ScratchDir dir;
    draw_window_frame(renderer, SDL_Rect{10, 20, 30, 40});
    std::string path = dir.file("shot.png");
    gfx_save_screenshot(engine.get(), path.c_str());

    DecodedPng shot = screenshot_file(path);
    ASSERT_EQ(shot.w, 1280);
    ASSERT_EQ(shot.h, 800);
    EXPECT_TRUE(pixel_is(shot, 20, 40, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 79, 119, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 80, 119, 0, 0, 255));
    EXPECT_TRUE(pixel_is(shot, 1279, 799, 0, 0, 255));
}

TEST_F(CaptureTest, ScreenshotOfALetterboxedWindowLeavesTheBarsOut)
{
    // 1400 x 800 shows the 640 x 400 screen doubled, with 60-pixel bars left and right.
    open(0, 1400, 800);
    ScratchDir dir;
    draw_window_frame(renderer, SDL_Rect{0, 0, 1, 1});
    std::string path = dir.file("shot.png");
    gfx_save_screenshot(engine.get(), path.c_str());

    DecodedPng shot = screenshot_file(path);
    ASSERT_EQ(shot.w, 1280);
    ASSERT_EQ(shot.h, 800);
    EXPECT_TRUE(pixel_is(shot, 0, 0, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 1, 1, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 2, 0, 0, 0, 255));
    EXPECT_TRUE(pixel_is(shot, 1279, 799, 0, 0, 255));
}

TEST_F(CaptureTest, ScreenshotReplacesAnExistingFileAndSkipsUnwritablePaths)
{
    open(0, 640, 400);
    ScratchDir dir;
    std::string path = dir.file("shot.png");
    write_text_file(path, std::string(2000000, 'x'));
    draw_window_frame(renderer, SDL_Rect{0, 0, 1, 1});
    gfx_save_screenshot(engine.get(), path.c_str());
    EXPECT_EQ(screenshot_file(path).w, 640);

    std::string unwritable = dir.file("no-such-folder/shot.png");
    gfx_save_screenshot(engine.get(), unwritable.c_str());
    EXPECT_FALSE(file_exists(unwritable));
    gfx_save_screenshot(engine.get(), nullptr);
}

TEST_F(CaptureTest, ScreenshotAfterACaptureReadsTheWindowNotTheCaptureTarget)
{
    open(0, 640, 400);
    ScratchDir dir;
    draw_window_frame(renderer, SDL_Rect{0, 0, 1, 1});
    Capture cap;
    cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
    ASSERT_EQ(cap.result, 1);
    std::string path = dir.file("shot.png");
    gfx_save_screenshot(engine.get(), path.c_str());

    DecodedPng shot = screenshot_file(path);
    ASSERT_EQ(shot.w, 640);
    EXPECT_TRUE(pixel_is(shot, 0, 0, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 300, 300, 0, 0, 255));
}
