// The canvas of pictures, its command log and replay, and the sprite layer,
// read back from SDL's software renderer. Test pictures encode each pixel's
// own coordinates in its colour, so a read-back pixel tells which source
// pixel landed there.
#include <gtest/gtest.h>

#include "render_fixture.h"
#include "screen.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

static constexpr uint32_t ALPHA_MASK = 0xFF000000;
// Blending and modulation may differ by one between renderers' arithmetic.
static constexpr int CHANNEL_TOLERANCE = 1;

// Packed ABGR8888 (bytes R, G, B, A) carrying x and y up to 4095.
static uint32_t coordinate_colour(int x, int y)
{
    const uint32_t r = x & 0xFF;
    const uint32_t g = y & 0xFF;
    const uint32_t b = static_cast<uint32_t>((x >> 8) << 4 | (y >> 8));
    return 0xFF000000 | b << 16 | g << 8 | r;
}

struct Point {
    int x, y;
    bool operator==(const Point& other) const { return x == other.x && y == other.y; }
};

static std::ostream& operator<<(std::ostream& out, const Point& p) { return out << "(" << p.x << ", " << p.y << ")"; }

// Decodes a pixel read back as ARGB8888; (-1, -1) for a transparent one.
static Point source_of(uint32_t argb)
{
    if ((argb & ALPHA_MASK) == 0)
        return {-1, -1};
    const int r = (argb >> 16) & 0xFF;
    const int g = (argb >> 8) & 0xFF;
    const int b = argb & 0xFF;
    return {r | (b >> 4) << 8, g | (b & 0xF) << 8};
}

static constexpr Point NOTHING = {-1, -1};
// Pure blue never occurs in the small test pictures (it would need x and y of 3840).
static constexpr uint32_t SPRITE_BACKGROUND = 0x0000FF;

class CanvasTest : public ScreenWindowTest {
protected:
    SDL_Texture* make_picture(int w, int h) { return ::make_picture(renderer, w, h, coordinate_colour); }

    static void place(ImageSlot& slot, int32_t x, int32_t y)
    {
        slot.x = x;
        slot.y = y;
    }

    // Fills slot id with an SD picture and, when hd_w is given, an HD one.
    ImageSlot& load_slot(int id, int sd_w, int sd_h, int hd_w = 0, int hd_h = 0)
    {
        ImageSlot& slot = engine->image_slots[id];
        slot.tex_sd = make_picture(sd_w, sd_h);
        slot.sd_w = sd_w;
        slot.sd_h = sd_h;
        if (hd_w > 0) {
            slot.tex_hd = make_picture(hd_w, hd_h);
            slot.hd_w = hd_w;
            slot.hd_h = hd_h;
            slot.hd_loaded = 1;
        }
        slot.loaded = 1;
        return slot;
    }

    Pixels read_canvas() { return read_texture(engine->canvas_texture); }

    Point canvas_at(int x, int y) { return source_of(pixel_at(read_canvas(), logical_w, x, y)); }

    // The sprite layer alone over a window of SPRITE_BACKGROUND.
    std::vector<uint32_t> draw_sprites()
    {
        SDL_SetRenderDrawColor(renderer, 0, 0, 0xFF, 255);
        SDL_RenderClear(renderer);
        gfx_draw_sprites(engine.get());
        return read_output();
    }

    int opaque_count(const std::vector<uint32_t>& pixels)
    {
        int count = 0;
        for (uint32_t pixel : pixels)
            count += (pixel & ALPHA_MASK) != 0;
        return count;
    }

};

// ---------------------------------------------------------------------------
// Whole blits
// ---------------------------------------------------------------------------

TEST_F(CanvasTest, WholeBlitDrawsAtTheSlotPositionAndIsLogged)
{
    open_screen(0);
    ImageSlot& slot = load_slot(3, 32, 16);
    place(slot, 100, 50);
    gfx_blit_image(engine.get(), 3);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
    EXPECT_EQ(canvas_at(100, 50), (Point{0, 0}));
    EXPECT_EQ(canvas_at(131, 65), (Point{31, 15}));
    EXPECT_EQ(canvas_at(99, 50), NOTHING);
    EXPECT_EQ(canvas_at(132, 50), NOTHING);

    ASSERT_EQ(engine->gfx_log_count, 1);
    const GfxCommand& record = engine->gfx_log[0];
    EXPECT_EQ(record.kind, GFX_CMD_BLIT);
    EXPECT_EQ(record.image_id, 3);
    EXPECT_EQ(record.x, 100);
    EXPECT_EQ(record.y, 50);
}

TEST_F(CanvasTest, WholeBlitInHdUsesTheHdPictureOrDoublesTheSdOne)
{
    open_screen(1);
    ImageSlot& sd_only = load_slot(1, 32, 16);
    place(sd_only, 10, 10);
    ImageSlot& with_hd = load_slot(2, 32, 16, 64, 32);
    place(with_hd, 500, 10);
    gfx_blit_image(engine.get(), 1);
    gfx_blit_image(engine.get(), 2);
    EXPECT_EQ(canvas_at(10 + 11, 10 + 6), (Point{5, 3}));
    EXPECT_EQ(canvas_at(73, 41), (Point{31, 15}));
    EXPECT_EQ(canvas_at(74, 41), NOTHING);
    EXPECT_EQ(canvas_at(500 + 63, 10 + 31), (Point{63, 31}));
}

TEST_F(CanvasTest, WholeBlitOfAnUnusableIdDrawsAndLogsNothing)
{
    open_screen(0);
    load_slot(0, 8, 8);
    engine->image_slots[5].sd_w = 8;  // a slot without a picture
    gfx_blit_image(engine.get(), 256);
    gfx_blit_image(engine.get(), 5);
    gfx_blit_image(engine.get(), 0xFFFFFFFF);
    EXPECT_EQ(engine->gfx_log_count, 0);
    EXPECT_EQ(opaque_count(read_canvas()), 0);
}

// ---------------------------------------------------------------------------
// Partial blits
// ---------------------------------------------------------------------------

TEST_F(CanvasTest, PartialBlitInHdScalesTheSourceByThePictureFactor)
{
    open_screen(1);
    ImageSlot& slot = load_slot(7, 640, 400, 1280, 800);
    slot.sprite_visible = 1;
    engine->blit_x8 = 5;
    engine->blit_y2 = 10;
    gfx_blit_image_part(engine.get(), 7, 0, 0, 10, 20);
    // Source (0, 0, 160, 80) of the HD picture at (80, 40, 160, 80).
    EXPECT_EQ(canvas_at(80, 40), (Point{0, 0}));
    EXPECT_EQ(canvas_at(239, 119), (Point{159, 79}));
    EXPECT_EQ(canvas_at(79, 40), NOTHING);
    EXPECT_EQ(canvas_at(240, 40), NOTHING);
    EXPECT_EQ(canvas_at(80, 120), NOTHING);
    EXPECT_EQ(slot.sprite_visible, 0);

    ASSERT_EQ(engine->gfx_log_count, 1);
    const GfxCommand& record = engine->gfx_log[0];
    EXPECT_EQ(record.kind, GFX_CMD_BLIT_PART);
    EXPECT_EQ(record.image_id, 7);
    EXPECT_EQ(record.w8, 10);
    EXPECT_EQ(record.h2, 20);
    EXPECT_EQ(record.dst_x8, 5);
    EXPECT_EQ(record.dst_y2, 10);

    // Without an HD picture the SD source is cut in SD pixels and doubled.
    load_slot(8, 64, 64);
    engine->blit_x8 = 40;
    engine->blit_y2 = 0;
    gfx_blit_image_part(engine.get(), 8, 1, 2, 2, 3);
    EXPECT_EQ(canvas_at(640, 0), (Point{8, 4}));
    EXPECT_EQ(canvas_at(671, 11), (Point{23, 9}));
    EXPECT_EQ(canvas_at(672, 0), NOTHING);
    EXPECT_EQ(canvas_at(640, 12), NOTHING);
}

struct CutCase {
    const char* edge;
    uint8_t hd;
    int blit_x8, blit_y2, src_x8, src_y2, w8, h2;
    Point probe, expected;  // canvas pixel and the source pixel it must show
    Point outside;          // canvas pixel that must stay empty
};

TEST_F(CanvasTest, PartialBlitCutsEachEdgeOfTheCanvasTakingTheSameShareOffTheSource)
{
    const CutCase cases[] = {
        // 16 pixels past the right edge of a 64-pixel cut: the first 48 source pixels.
        {"right SD", 0, 74, 0, 0, 0, 8, 4, {639, 0}, {47, 0}, {591, 0}},
        {"left SD", 0, -2, 0, 1, 0, 8, 4, {0, 0}, {24, 0}, {48, 0}},
        {"top SD", 0, 0, -4, 0, 1, 4, 8, {0, 0}, {0, 10}, {0, 8}},
        {"bottom SD", 0, 0, 196, 0, 0, 4, 8, {0, 399}, {0, 7}, {0, 391}},
        // HD pictures at twice the SD size: factors 2 on both axes.
        {"right HD", 1, 76, 0, 1, 0, 8, 4, {1279, 0}, {16 + 63, 0}, {1215, 0}},
        {"left HD", 1, -2, 0, 1, 0, 8, 4, {0, 0}, {16 + 32, 0}, {96, 0}},
        {"top HD", 1, 0, -4, 0, 1, 4, 8, {0, 0}, {0, 4 + 16}, {0, 16}},
        {"bottom HD", 1, 0, 196, 0, 1, 4, 8, {0, 799}, {0, 4 + 15}, {0, 783}},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.edge);
        open_screen(c.hd);
        load_slot(1, 256, 128, 512, 256);
        engine->blit_x8 = c.blit_x8;
        engine->blit_y2 = c.blit_y2;
        gfx_blit_image_part(engine.get(), 1, c.src_x8, c.src_y2, c.w8, c.h2);
        EXPECT_EQ(canvas_at(c.probe.x, c.probe.y), c.expected);
        EXPECT_EQ(canvas_at(c.outside.x, c.outside.y), NOTHING);
        EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
        TearDown();
    }
}

TEST_F(CanvasTest, PartialBlitRunningOffThePictureStretchesWhatRemains)
{
    open_screen(0);
    load_slot(2, 100, 40);
    engine->blit_x8 = 10;
    gfx_blit_image_part(engine.get(), 2, 10, 0, 4, 2);
    // Source columns 80 to 99 spread over the 32 destination columns 80 to 111.
    EXPECT_EQ(canvas_at(80, 0), (Point{80, 0}));
    const Point last = canvas_at(111, 3);
    EXPECT_GE(last.x, 97);
    EXPECT_LE(last.x, 99);
    EXPECT_EQ(canvas_at(112, 0), NOTHING);
    EXPECT_EQ(opaque_count(read_canvas()), 32 * 4);
}

TEST_F(CanvasTest, PartialBlitOfAnUnusableIdFallsBackToTheCurrentImage)
{
    open_screen(0);
    load_slot(4, 64, 64);
    engine->current_image = 4;
    gfx_blit_image_part(engine.get(), 300, 0, 0, 1, 1);
    gfx_blit_image_part(engine.get(), 9, 0, 0, 1, 1);
    ASSERT_EQ(engine->gfx_log_count, 2);
    EXPECT_EQ(engine->gfx_log[0].image_id, 4);
    EXPECT_EQ(engine->gfx_log[1].image_id, 4);
    EXPECT_EQ(canvas_at(7, 1), (Point{7, 1}));

    engine->current_image = -1;
    gfx_blit_image_part(engine.get(), 300, 0, 0, 1, 1);
    engine->current_image = 10;
    gfx_blit_image_part(engine.get(), 300, 0, 0, 1, 1);
    EXPECT_EQ(engine->gfx_log_count, 2);
}

TEST_F(CanvasTest, PartialBlitOfNoSizeDrawsNothingButIsLoggedAndHidesTheSprite)
{
    open_screen(0);
    ImageSlot& slot = load_slot(6, 64, 64);
    slot.sprite_visible = 1;
    gfx_blit_image_part(engine.get(), 6, 0, 0, 0, 4);
    gfx_blit_image_part(engine.get(), 6, 0, 0, 4, static_cast<uint32_t>(-3));
    EXPECT_EQ(engine->gfx_log_count, 2);
    EXPECT_EQ(engine->gfx_log[1].h2, -3);
    EXPECT_EQ(slot.sprite_visible, 0);
    EXPECT_EQ(opaque_count(read_canvas()), 0);
}

TEST_F(CanvasTest, PartialBlitWithExtremeOperandsDrawsNothingOutsideItsDestination)
{
    open_screen(1);
    load_slot(6, 64, 64, 128, 128);
    // 0x40000001 columns and rows lie 2^34 + 16 and 2^32 + 4 pixels away, on
    // the screen once wrapped to 32 bits.
    const uint32_t extremes[] = {0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x40000001};
    for (uint32_t value : extremes) {
        engine->blit_x8 = engine->blit_y2 = static_cast<int32_t>(value);
        gfx_blit_image_part(engine.get(), 6, 0, 0, 2, 2);
        engine->blit_x8 = engine->blit_y2 = 0;
        gfx_blit_image_part(engine.get(), 6, value, value, 2, 2);
    }
    // Only the blits to the origin may draw, into their 32 x 8 destination.
    const Pixels canvas = read_canvas();
    int outside = 0;
    for (size_t i = 0; i < canvas.size(); i++)
        outside += (canvas[i] & ALPHA_MASK) && (i % logical_w >= 32 || i / logical_w >= 8);
    EXPECT_EQ(outside, 0);

    for (uint32_t value : extremes)
        gfx_blit_image_part(engine.get(), 6, 0, 0, value, value);
    EXPECT_EQ(engine->gfx_log_count, 12);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
}

// ---------------------------------------------------------------------------
// Clearing and the log
// ---------------------------------------------------------------------------

TEST_F(CanvasTest, ClearRectMakesTheRectangleTransparentAndIsLogged)
{
    open_screen(0);
    load_slot(0, 64, 64);
    gfx_blit_image(engine.get(), 0);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);  // as every earlier clear leaves it
    gfx_clear_rect(engine.get(), 8, 8, 16, 4);
    EXPECT_EQ(canvas_at(8, 8), NOTHING);
    EXPECT_EQ(canvas_at(23, 11), NOTHING);
    EXPECT_EQ(canvas_at(24, 11), (Point{24, 11}));
    EXPECT_EQ(canvas_at(8, 12), (Point{8, 12}));
    ASSERT_EQ(engine->gfx_log_count, 2);
    const GfxCommand& record = engine->gfx_log[1];
    EXPECT_EQ(record.kind, GFX_CMD_CLEAR_RECT);
    EXPECT_EQ(record.image_id, 0xFFFF);
    EXPECT_EQ(record.rect_x, 8);
    EXPECT_EQ(record.rect_w, 16);
    EXPECT_EQ(record.rect_h, 4);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);

    gfx_clear_canvas(engine.get());
    EXPECT_EQ(engine->gfx_log_count, 0);
    EXPECT_EQ(opaque_count(read_canvas()), 0);
}

TEST(CanvasWithoutRendererTest, ClearRectIsStillLoggedAndClearingStillEmptiesTheLog)
{
    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 0);
    gfx_init_screen(engine.get());
    gfx_clear_rect(engine.get(), 1, 2, 3, 4);
    ASSERT_EQ(engine->gfx_log_count, 1);
    EXPECT_EQ(engine->gfx_log[0].rect_y, 2);
    engine->image_slots[0].loaded = 1;
    gfx_blit_image(engine.get(), 0);
    gfx_blit_image_part(engine.get(), 0, 0, 0, 1, 1);
    gfx_replay_log(engine.get());
    EXPECT_EQ(engine->gfx_log_count, 1);
    gfx_clear_canvas(engine.get());
    EXPECT_EQ(engine->gfx_log_count, 0);
}

TEST_F(CanvasTest, AFullLogStillDrawsAndReplayRebuildsOnlyTheLoggedOperations)
{
    open_screen(0);
    ImageSlot& first = load_slot(1, 16, 16);
    ImageSlot& last = load_slot(2, 16, 16);
    first.x = 0;
    last.x = 100;
    gfx_blit_image(engine.get(), 1);
    for (int i = 1; i < GFX_LOG_CAPACITY; i++)
        gfx_clear_rect(engine.get(), 600, 300, 1, 1);
    ASSERT_EQ(engine->gfx_log_count, GFX_LOG_CAPACITY);
    gfx_blit_image(engine.get(), 2);
    EXPECT_EQ(engine->gfx_log_count, GFX_LOG_CAPACITY);
    EXPECT_EQ(canvas_at(100, 0), (Point{0, 0}));

    gfx_replay_log(engine.get());
    EXPECT_EQ(engine->gfx_log_count, GFX_LOG_CAPACITY);
    EXPECT_EQ(canvas_at(15, 15), (Point{15, 15}));
    EXPECT_EQ(canvas_at(100, 0), NOTHING);
}

TEST_F(CanvasTest, ReplayDrawsWholeBlitsWhereTheSlotWasAndLeavesItWhereItIs)
{
    open_screen(0);
    ImageSlot& slot = load_slot(3, 16, 16);
    place(slot, 40, 20);
    gfx_blit_image(engine.get(), 3);
    place(slot, 300, 200);
    gfx_replay_log(engine.get());
    EXPECT_EQ(canvas_at(40, 20), (Point{0, 0}));
    EXPECT_EQ(canvas_at(300, 200), NOTHING);
    EXPECT_EQ(slot.x, 300);
    EXPECT_EQ(slot.y, 200);
    EXPECT_EQ(engine->gfx_log_count, 1);
    EXPECT_EQ(SDL_GetRenderTarget(renderer), nullptr);
}

TEST_F(CanvasTest, ReplayOfPartialBlitsKeepsDestinationAndSpriteFlag)
{
    open_screen(1);
    ImageSlot& slot = load_slot(5, 64, 64, 128, 128);
    engine->blit_x8 = 2;
    engine->blit_y2 = 3;
    gfx_blit_image_part(engine.get(), 5, 1, 1, 2, 2);
    gfx_clear_canvas(engine.get());
    engine->gfx_log_count = 1;  // keep the record but start from an empty canvas
    slot.sprite_visible = 1;
    engine->blit_x8 = 70;
    engine->blit_y2 = 80;
    gfx_replay_log(engine.get());
    EXPECT_EQ(canvas_at(32, 12), (Point{16, 4}));
    EXPECT_EQ(engine->blit_x8, 70);
    EXPECT_EQ(engine->blit_y2, 80);
    EXPECT_EQ(slot.sprite_visible, 1);
    EXPECT_EQ(engine->gfx_log_count, 1);
}

TEST_F(CanvasTest, ReplayCarriesOutClearsByKindLowByteAndSkipsWhatItCannotUse)
{
    open_screen(0);
    load_slot(1, 32, 32);
    load_slot(2, 32, 32);
    engine->image_slots[2].x = 100;
    GfxCommand* log = engine->gfx_log;
    log[0] = GfxCommand{};
    log[0].kind = GFX_CMD_BLIT;
    log[0].image_id = 1;
    log[1] = GfxCommand{};
    log[1].kind = GFX_CMD_CLEAR;  // never appended by the engine, still carried out
    log[2] = GfxCommand{};
    log[2].kind = 0x0100 | GFX_CMD_BLIT;  // only the low byte counts
    log[2].image_id = 2;
    log[2].x = 200;
    log[3] = GfxCommand{};
    log[3].kind = GFX_CMD_CLEAR_RECT;
    log[3].image_id = 0xFFFF;
    log[3].rect_x = 200;
    log[3].rect_w = 4;
    log[3].rect_h = 4;
    log[4] = GfxCommand{};
    log[4].kind = GFX_CMD_BLIT;
    log[4].image_id = 0xFFFF;  // reads as -1
    log[5] = GfxCommand{};
    log[5].kind = 9;
    log[5].image_id = 1;
    engine->gfx_log_count = 6;

    gfx_replay_log(engine.get());
    EXPECT_EQ(canvas_at(0, 0), NOTHING);
    EXPECT_EQ(canvas_at(203, 3), NOTHING);
    EXPECT_EQ(canvas_at(204, 4), (Point{4, 4}));
    EXPECT_EQ(opaque_count(read_canvas()), 32 * 32 - 16);
    EXPECT_EQ(engine->image_slots[2].x, 100);
}

TEST_F(CanvasTest, ReplayIgnoresACorruptLogCount)
{
    open_screen(0);
    engine->gfx_log_count = GFX_LOG_CAPACITY + 100;
    gfx_replay_log(engine.get());
    gfx_clear_rect(engine.get(), 0, 0, 1, 1);
    EXPECT_EQ(engine->gfx_log_count, GFX_LOG_CAPACITY + 100);
}

// ---------------------------------------------------------------------------
// Sprites
// ---------------------------------------------------------------------------

static void set_effect(ImageSlot& slot, int32_t type, int32_t progress, int32_t duration)
{
    slot.effect_active = 1;
    slot.effect_type = type;
    slot.effect_progress = progress;
    slot.effect_duration = duration;
}

// The bounding box of the opaque pixels of a read-back target.
struct Box {
    int left, top, right, bottom;  // inclusive; left > right when empty
    bool operator==(const Box& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

static std::ostream& operator<<(std::ostream& out, const Box& b)
{
    return out << "[" << b.left << ".." << b.right << "] x [" << b.top << ".." << b.bottom << "]";
}

static Box lit_box(const std::vector<uint32_t>& pixels, int width)
{
    Box box = {1 << 30, 1 << 30, -1, -1};
    for (size_t i = 0; i < pixels.size(); i++) {
        if ((pixels[i] & 0xFFFFFF) == SPRITE_BACKGROUND)
            continue;
        const int x = static_cast<int>(i % width);
        const int y = static_cast<int>(i / width);
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
    }
    return box;
}

TEST_F(CanvasTest, RevealEffectsShowTheShareOfProgressOverDuration)
{
    open_screen(0);
    ImageSlot& slot = load_slot(8, 64, 40);
    place(slot, 100, 50);
    slot.sprite_visible = 1;
    struct {
        int32_t type, progress, duration;
        Box box;
        Point first;  // the source pixel shown at the box's top-left
    } cases[] = {
        {EFFECT_REVEAL_LEFT, 30, 60, {100, 50, 131, 89}, {0, 0}},
        {EFFECT_REVEAL_LEFT, 90, 60, {100, 50, 163, 89}, {0, 0}},
        {EFFECT_REVEAL_RIGHT, 30, 60, {132, 50, 163, 89}, {32, 0}},
        {EFFECT_REVEAL_TOP, 1, 4, {100, 50, 163, 59}, {0, 0}},
        {EFFECT_REVEAL_BOTTOM, 1, 4, {100, 80, 163, 89}, {0, 30}},
        {EFFECT_REVEAL_BOTTOM, -5, 4, {1 << 30, 1 << 30, -1, -1}, {-1, -1}},
        {EFFECT_REVEAL_LEFT, 30, 0, {100, 50, 163, 89}, {0, 0}},  // no duration: whole
        {42, 1, 60, {100, 50, 163, 89}, {0, 0}},                  // unknown type: whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.progress << "/" << c.duration);
        set_effect(slot, c.type, c.progress, c.duration);
        const std::vector<uint32_t> pixels = draw_sprites();
        const Box box = lit_box(pixels, logical_w);
        EXPECT_EQ(box, c.box);
        if (box.right >= 0) {
            EXPECT_EQ(source_of(pixels[static_cast<size_t>(box.top) * logical_w + box.left]), c.first);
        }
    }
}

TEST_F(CanvasTest, FadeSetsAlphaFromProgressAndResetsItAfterwards)
{
    open_screen(0);
    ImageSlot& slot = load_slot(8, 16, 16);
    slot.sprite_visible = 1;
    set_effect(slot, EFFECT_FADE, 0, 60);
    std::vector<uint32_t> pixels = draw_sprites();
    EXPECT_EQ(pixels[5 * logical_w + 5] & 0xFFFFFF, SPRITE_BACKGROUND);
    uint8_t alpha = 0;
    SDL_GetTextureAlphaMod(slot.tex_sd, &alpha);
    EXPECT_EQ(alpha, 255);

    // Pixel (15, 3) has red 15: half faded over black gives 15 * 127 / 255.
    set_effect(slot, EFFECT_FADE, 30, 60);
    pixels = draw_sprites();
    EXPECT_NEAR(static_cast<int>((pixels[3 * logical_w + 15] >> 16) & 0xFF), 7, CHANNEL_TOLERANCE);
    SDL_GetTextureAlphaMod(slot.tex_sd, &alpha);
    EXPECT_EQ(alpha, 255);
}

TEST_F(CanvasTest, HdSpritesUseTheirHdPictureAndAreCutAtTheBottomWithTheSourceScaled)
{
    open_screen(1);
    ImageSlot& slot = load_slot(3, 16, 40);  // SD only: doubled to 32 x 80 in HD
    place(slot, 0, 760);
    slot.sprite_visible = 1;
    ImageSlot& with_hd = load_slot(4, 16, 40, 24, 20);  // the HD picture at its own size
    place(with_hd, 100, 0);
    with_hd.sprite_visible = 1;
    const std::vector<uint32_t> pixels = draw_sprites();
    // 40 rows fit; they show source rows 0 to 19, doubled.
    EXPECT_EQ(source_of(pixels[760 * logical_w + 2]), (Point{1, 0}));
    EXPECT_EQ(source_of(pixels[799 * logical_w + 31]), (Point{15, 19}));
    EXPECT_EQ(source_of(pixels[19 * logical_w + 123]), (Point{23, 19}));
    EXPECT_EQ(lit_box(pixels, logical_w), (Box{0, 0, 123, 799}));
}

TEST_F(CanvasTest, SpritesAreTintedInSlotOrderAndSkippedWhenNotShown)
{
    open_screen(0);
    ImageSlot& below = load_slot(10, 32, 32);
    ImageSlot& above = load_slot(11, 32, 32);
    ImageSlot& hidden = load_slot(12, 32, 32);
    below.sprite_visible = 1;
    above.sprite_visible = 1;
    above.x = 16;
    hidden.x = 200;
    ImageSlot& unloaded = engine->image_slots[13];
    unloaded.sprite_visible = 1;
    unloaded.sd_w = 8;
    unloaded.sd_h = 8;
    unloaded.tex_sd = make_picture(8, 8);
    unloaded.x = 300;

    engine->tint[0] = 128;
    const std::vector<uint32_t> pixels = draw_sprites();
    // Pixel (20, 1) of the lower sprite lies under the upper one's (4, 1).
    EXPECT_EQ((pixels[1 * logical_w + 20] >> 8) & 0xFF, 1u);
    EXPECT_NEAR(static_cast<int>((pixels[1 * logical_w + 20] >> 16) & 0xFF), 2, CHANNEL_TOLERANCE);
    EXPECT_NEAR(static_cast<int>((pixels[1 * logical_w + 47] >> 16) & 0xFF), 31 * 128 / 255, CHANNEL_TOLERANCE);
    EXPECT_EQ(pixels[5 * logical_w + 205] & 0xFFFFFF, SPRITE_BACKGROUND);
    EXPECT_EQ(pixels[5 * logical_w + 305] & 0xFFFFFF, SPRITE_BACKGROUND);
    uint8_t r = 0, g = 0, b = 0;
    SDL_GetTextureColorMod(above.tex_sd, &r, &g, &b);
    EXPECT_EQ(r, 255);
}

TEST_F(CanvasTest, SpritesFromDamagedSavesAreDrawnWithoutOverflow)
{
    open_screen(1);
    ImageSlot& slot = load_slot(0, 16, 16);
    slot.sprite_visible = 1;
    const int32_t extremes[] = {INT32_MIN, -1, INT32_MAX};
    for (int32_t position : extremes) {
        for (int32_t progress : extremes) {
            slot.x = position;
            slot.y = position;
            for (int32_t type = EFFECT_REVEAL_LEFT; type <= EFFECT_FADE; type++) {
                set_effect(slot, type, progress, 3);
                draw_sprites();
                uint8_t alpha = 0;
                SDL_GetTextureAlphaMod(slot.tex_sd, &alpha);
                ASSERT_EQ(alpha, 255);
            }
        }
    }
    // A progress below zero has not started: nothing of a reveal shows.
    place(slot, 0, 0);
    set_effect(slot, EFFECT_REVEAL_LEFT, -1, 3);
    EXPECT_EQ(lit_box(draw_sprites(), logical_w).right, -1);
}
