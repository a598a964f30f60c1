#include <gtest/gtest.h>

#include "engine.h"
#include "render_fixture.h"
#include "screen.h"
#include "test_support.h"

#include <SDL.h>
#include <stb_image.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

class CaptureTest : public ScreenWindowTest {
protected:
    // Puts opaque RGB pixels (3 bytes each, logical_w x logical_h) on the canvas.
    void fill_canvas(const std::vector<uint8_t>& rgb)
    {
        std::vector<uint32_t> pixels(static_cast<size_t>(logical_w) * logical_h);
        for (size_t i = 0; i < pixels.size(); i++)
            pixels[i] = (uint32_t{rgb[i * 3]} << 24) | (uint32_t{rgb[i * 3 + 1]} << 16)
                        | (uint32_t{rgb[i * 3 + 2]} << 8) | 0xFFu;
        ASSERT_EQ(SDL_UpdateTexture(engine->canvas_texture, nullptr, pixels.data(), logical_w * 4), 0)
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

    // A thumbnail of the current screen, decoded; empty when capturing failed.
    DecodedPng thumbnail();
    // A screenshot saved into dir and read back.
    DecodedPng screenshot(const ScratchDir& dir);
};

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

DecodedPng CaptureTest::thumbnail()
{
    Capture cap;
    cap.result = gfx_capture_thumbnail(engine.get(), &cap.png, &cap.size);
    EXPECT_EQ(cap.result, 1);
    if (cap.result != 1)
        return DecodedPng{};
    DecodedPng thumb = decode_png(cap.png, static_cast<size_t>(cap.size), 3);
    EXPECT_EQ(thumb.w, THUMB_WIDTH);
    EXPECT_EQ(thumb.h, THUMB_HEIGHT);
    return thumb;
}

void CaptureTest::expect_thumbnail_of_gradient(int block)
{
    std::vector<uint8_t> rgb = gradient_picture(logical_w, logical_h);
    fill_canvas(rgb);
    DecodedPng thumb = thumbnail();
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    ASSERT_EQ(thumb.h, THUMB_HEIGHT);
    expect_box_average(thumb, rgb, logical_w, block);
}

TEST_F(CaptureTest, ThumbnailAveragesTwoByTwoBlocksInSdMode)
{
    open_screen(0, 640, 400);
    expect_thumbnail_of_gradient(2);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
}

TEST_F(CaptureTest, ThumbnailAveragesFourByFourBlocksInHdMode)
{
    open_screen(1, 1280, 800);
    expect_thumbnail_of_gradient(4);
}

TEST_F(CaptureTest, ThumbnailShowsTheGameScreenNotWhatIsDrawnOverTheWindow)
{
    open_screen(0, 640, 400);
    // A menu or slot screen drawn straight into the window.
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    SDL_RenderClear(renderer);

    DecodedPng thumb = thumbnail();
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    for (uint8_t byte : thumb.pixels)
        ASSERT_EQ(byte, 0);
}

TEST_F(CaptureTest, ThumbnailAveragesTheScanlinesIntoItsRows)
{
    open_screen(0, 640, 400);
    std::vector<uint8_t> rgb;
    for (int i = 0; i < logical_w * logical_h; i++)
        rgb.insert(rgb.end(), {255, 153, 51});
    fill_canvas(rgb);
    engine->scanlines = 1;

    DecodedPng thumb = thumbnail();
    ASSERT_EQ(thumb.w, THUMB_WIDTH);
    // Every block holds a plain row and one darkened by black at alpha 80:
    // (255, 153, 51) and (175, 105, 35).
    for (size_t i = 0; i < thumb.pixels.size(); i += 3)
        ASSERT_EQ(std::vector<uint8_t>(thumb.pixels.begin() + i, thumb.pixels.begin() + i + 3),
                  (std::vector<uint8_t>{215, 129, 43})) << "pixel " << i / 3;
}

TEST_F(CaptureTest, ThumbnailBufferGrowsOnlyForLargePngs)
{
    open_screen(0, 640, 400);
    std::mt19937 random(7);
    bool seen_small = false, seen_grown = false, seen_exact = false;
    // More rows of noise make a larger PNG; the steps are fine enough to land
    // in every size class.
    for (int noisy_rows = 0; noisy_rows <= logical_h; noisy_rows += 24) {
        std::vector<uint8_t> rgb(static_cast<size_t>(logical_w) * logical_h * 3, 0);
        for (size_t i = 0; i < static_cast<size_t>(logical_w) * noisy_rows * 3; i++)
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
    open_screen(0, 640, 400);
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

DecodedPng CaptureTest::screenshot(const ScratchDir& dir)
{
    const std::string path = dir.file("shot.png");
    gfx_save_screenshot(engine.get(), path.c_str());
    Bytes file = read_file(path);
    return decode_png(file.data(), file.size(), 4);
}

TEST_F(CaptureTest, ScreenshotIsExactlyThePictureShownAtAnyWindowSize)
{
    // Where SDL shows the 640 x 400 screen in each window, letterboxed in black.
    const struct {
        int window_w, window_h;
        SDL_Rect shown;
    } cases[] = {{640, 400, {0, 0, 640, 400}},      {1280, 800, {0, 0, 1280, 800}},
                 {1400, 800, {60, 0, 1280, 800}},   {1003, 626, {1, 0, 1001, 626}},
                 {1000, 700, {0, 37, 1000, 625}},   {1920, 1017, {146, 0, 1627, 1017}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.window_w) + "x" + std::to_string(c.window_h));
        open_screen(0, c.window_w, c.window_h);
        fill_canvas(gradient_picture(logical_w, logical_h));
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        gfx_compose_frame(engine.get());
        ScratchDir dir;
        const DecodedPng shot = screenshot(dir);
        const Pixels window = read_output();  // 0xAARRGGBB
        ASSERT_EQ(shot.w, c.shown.w);
        ASSERT_EQ(shot.h, c.shown.h);
        int wrong = 0;
        for (int y = 0; y < c.window_h; y++)
            for (int x = 0; x < c.window_w; x++) {
                const uint32_t pixel = pixel_at(window, c.window_w, x, y);
                const SDL_Point point = {x, y};
                uint32_t want = 0xFF000000u;  // a bar
                if (SDL_PointInRect(&point, &c.shown)) {
                    const int sx = x - c.shown.x, sy = y - c.shown.y;
                    want = uint32_t{shot.at(sx, sy, 3, 4)} << 24 | shot.at(sx, sy, 0, 4) << 16 |
                           shot.at(sx, sy, 1, 4) << 8 | shot.at(sx, sy, 2, 4);
                }
                if (pixel != want && wrong++ < 3)
                    ADD_FAILURE() << "window pixel " << x << "," << y << " is " << std::hex << pixel
                                  << ", expected " << want;
            }
        EXPECT_EQ(wrong, 0);
        TearDown();
    }
}

TEST_F(CaptureTest, ScreenshotReplacesAnExistingFileThroughATemporaryAndSkipsUnwritablePaths)
{
    open_screen(0, 640, 400);
    ScratchDir dir;
    write_text_file(dir.file("shot.png"), std::string(2000000, 'x'));
    write_text_file(dir.file("shot.png.tmp"), "the player's");
    draw_window_frame(renderer, SDL_Rect{0, 0, 1, 1});
    EXPECT_EQ(screenshot(dir).w, 640);
    EXPECT_EQ(read_text_file(dir.file("shot.png.tmp")), "the player's");

    std::string unwritable = dir.file("no-such-folder/shot.png");
    gfx_save_screenshot(engine.get(), unwritable.c_str());
    EXPECT_FALSE(file_exists(unwritable));
    gfx_save_screenshot(engine.get(), nullptr);
}

TEST_F(CaptureTest, ScreenshotAfterACaptureReadsTheWindowNotTheCaptureTarget)
{
    open_screen(0, 640, 400);
    ScratchDir dir;
    draw_window_frame(renderer, SDL_Rect{0, 0, 1, 1});
    ASSERT_EQ(thumbnail().w, THUMB_WIDTH);
    DecodedPng shot = screenshot(dir);
    ASSERT_EQ(shot.w, 640);
    EXPECT_TRUE(pixel_is(shot, 0, 0, 255, 0, 0));
    EXPECT_TRUE(pixel_is(shot, 300, 300, 0, 0, 255));
}
