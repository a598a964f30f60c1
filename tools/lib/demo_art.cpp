#include "demo_art.h"
#include "demo_paint.h"

#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iterator>

namespace {

constexpr int SCREEN_W = 640;
constexpr int SCREEN_H = 400;
constexpr int PORTRAIT_W = 160;
constexpr int PORTRAIT_H = 240;
constexpr int LETTER_W = 320;
constexpr int LETTER_H = 160;

// Every text of the demo stands on rows 18 to 23 of the screen (the story's
// window, the choices, the title and "Press any key"). Each scene is shaded
// there like a text box, dark enough that white, yellow and dusk-tinted
// text all stay sharp over it, with a dithered edge just above it.
constexpr double TEXT_BAND_TOP = 288;
constexpr double TEXT_BAND_EDGE = 8;
constexpr double TEXT_BAND_SHADE = 0.3;

void shade_text_band(Canvas* c)
{
    const double edge_top = TEXT_BAND_TOP - TEXT_BAND_EDGE;
    paint_box(c, 0, edge_top, SCREEN_W, SCREEN_H, [&](int px, int py, double, double v) {
        if (!dither((v - edge_top) / TEXT_BAND_EDGE, px, py))
            return;
        uint8_t* p = &c->rgba[(static_cast<size_t>(py) * c->w + px) * RGBA_CHANNELS];
        for (int channel = 0; channel < 3; channel++)
            p[channel] = static_cast<uint8_t>(std::lround(p[channel] * TEXT_BAND_SHADE));
    });
}

double far_mountains(double u)
{
    // A valley in the middle for the sun to set into.
    double valley = (u - 320) / 110;
    return 196 + 24 * std::sin(u * 0.011 + 1.0) + 12 * std::sin(u * 0.029 + 2.0) +
           5 * std::sin(u * 0.083 + 0.5) + 34 * std::exp(-valley * valley);
}

constexpr double LAKE_Y = 262;

// Dusk over a mountain lake: the title screen.
void draw_title(Canvas* c)
{
    Rng rng = {0x7A11E5u};
    paint_gradient(c, 0, LAKE_Y, {0x1a1040, 0x2e1c5c, 0x4a2a78, 0x7a3c86, 0xb0507a, 0xe0705c,
                                  0xf0a050, 0xf8d080});
    paint_stars(c, &rng, 45, 0, 0, SCREEN_W, 90, {0xe8e0ff, 0xc8c0f0});
    paint_glow(c, 320, 214, 150, 0xf8d080, 0.7);
    paint_ellipse(c, 320, 214, 30, 30, 0xfff0b0);
    paint_ridge(c, LAKE_Y, 0x5a3c7a, far_mountains);
    paint_ridge(c, LAKE_Y, 0x2c1c4c, [](double u) {
        return 236 + 12 * std::sin(u * 0.021 + 4.0) + 7 * std::sin(u * 0.057 + 1.0);
    });
    paint_gradient(c, LAKE_Y, SCREEN_H, {0x3a2a6a, 0x241a50, 0x140e30});
    // The far range mirrored in the water, half-toned.
    paint_box(c, 0, LAKE_Y, SCREEN_W, SCREEN_H, [&](int px, int py, double u, double v) {
        if (v - LAKE_Y < (LAKE_Y - far_mountains(u)) * 0.7 && dither(0.5, px, py))
            put(c, px, py, 0x2a1e58);
    });
    for (double y = LAKE_Y + 2; y < 380; y += 3) {
        double fade = 1 - (y - LAKE_Y) / 130;
        double w = 70 * fade * rng_range(&rng, 0.4, 1.0);
        double x = 320 + rng_range(&rng, -6, 6);
        paint_rect(c, x - w / 2, y, x + w / 2, y + 1, y < 300 ? 0xf8d080 : 0xf0a050);
    }
    // The near shore with its pines, in silhouette.
    constexpr uint32_t SHORE = 0x0c0818;
    paint_polygon(c, {{0, 330}, {60, 334}, {150, 356}, {230, 400}, {0, 400}}, SHORE);
    paint_pine(c, 36, 214, 340, 70, SHORE, SHORE);
    paint_pine(c, 92, 250, 350, 54, SHORE, SHORE);
    paint_pine(c, 138, 290, 360, 34, SHORE, SHORE);
    paint_polygon(c, {{640, 372}, {560, 384}, {520, 400}, {640, 400}}, SHORE);
    for (int i = 0; i < 9; i++) {
        double x = 548 + i * 9 + rng_range(&rng, -2, 2);
        paint_segment(c, {x, 390}, {x + rng_range(&rng, -4, 4), 352 + rng_range(&rng, 0, 18)},
                      0.6, SHORE);
    }
    shade_text_band(c);
}

// A window of the study: spring sky, a far green hill and a cherry tree in
// bloom, behind a wooden frame with a cross of glazing bars.
void paint_study_window(Canvas* c, Rng* rng)
{
    constexpr double LEFT = 64, TOP = 52, RIGHT = 228, BOTTOM = 196, FRAME = 8, BAR = 2;
    constexpr uint32_t WOOD = 0x6a4a30, WOOD_LIGHT = 0x8a6644;
    paint_rect(c, LEFT - FRAME, TOP - FRAME, RIGHT + FRAME, BOTTOM + FRAME, WOOD);
    paint_rect(c, LEFT - FRAME - 4, BOTTOM + FRAME, RIGHT + FRAME + 4, BOTTOM + FRAME + 6,
               WOOD_LIGHT);
    paint_box(c, LEFT, TOP, RIGHT, BOTTOM, [&](int px, int py, double, double v) {
        put(c, px, py, dither((v - TOP) / (BOTTOM - TOP), px, py) ? 0xd4ecf0 : 0x9cd0ec);
    });
    paint_box(c, LEFT, TOP, RIGHT, BOTTOM, [&](int px, int py, double u, double v) {
        if (v >= 168 + 10 * std::sin(u * 0.03 + 1.0))
            put(c, px, py, 0x8cc070);
    });
    paint_segment(c, {184, BOTTOM}, {176, 120}, 3, 0x5a3a2a);
    paint_segment(c, {178, 138}, {150, 112}, 1.5, 0x5a3a2a);
    for (int i = 0; i < 140; i++) {
        double angle = rng_range(rng, 0, 2 * PI), reach = std::sqrt(rng_unit(rng));
        double x = std::min(RIGHT - 3, 170 + 52 * reach * std::cos(angle));
        double y = std::max(TOP + 3, 104 + 36 * reach * std::sin(angle));
        paint_ellipse(c, x, y, 3.5, 3, i % 3 == 0 ? 0xe8a0b8 : 0xf8d0dc);
    }
    double mid_x = (LEFT + RIGHT) / 2, mid_y = (TOP + BOTTOM) / 2;
    paint_rect(c, mid_x - BAR, TOP, mid_x + BAR, BOTTOM, WOOD);
    paint_rect(c, LEFT, mid_y - BAR, RIGHT, mid_y + BAR, WOOD);
}

// Shelves of books along the study's right wall.
void paint_bookcase(Canvas* c, Rng* rng)
{
    constexpr double LEFT = 470, RIGHT = 612, TOP = 36, BOTTOM = 300, SHELF_STEP = 66;
    const uint32_t spines[] = {0x8a2c2c, 0x2c4a7a, 0x3a6a3a, 0xc09040, 0x6a3a6a, 0xd8c8a0};
    paint_rect(c, LEFT, TOP, RIGHT, BOTTOM, 0x5a3a22);
    for (double shelf_top = TOP + 6; shelf_top < BOTTOM - 20; shelf_top += SHELF_STEP) {
        double floor_y = shelf_top + SHELF_STEP - 10;
        paint_rect(c, LEFT + 6, shelf_top, RIGHT - 6, floor_y, 0x2e1c10);
        for (double x = LEFT + 8; x < RIGHT - 18;) {
            double width = rng_range(rng, 6, 12), height = rng_range(rng, 36, 50);
            uint32_t spine = spines[rng_next(rng) % std::size(spines)];
            paint_rect(c, x, floor_y - height, x + width, floor_y, spine);
            paint_rect(c, x + 1, floor_y - height + 6, x + width - 1, floor_y - height + 8,
                       0xe0c870, 0.6);
            x += width + 1;
        }
    }
}

// Grandfather's study on a spring afternoon: the window, the bookcase, and
// his old desk with a drawer pulled out and a letter lying in it.
void draw_study(Canvas* c)
{
    Rng rng = {0x57D1u};
    paint_gradient(c, 0, 236, {0xe8d8b4, 0xd8c49c, 0xc0a880});
    paint_rect(c, 0, 0, SCREEN_W, 18, 0x5a3c26);
    paint_rect(c, 0, 236, SCREEN_W, 300, 0x7a5638);
    for (double x = 0; x < SCREEN_W; x += 32)
        paint_rect(c, x, 236, x + 1, 300, 0x5a3c26);
    paint_gradient(c, 300, SCREEN_H, {0x8a6440, 0x6a4a30});
    paint_study_window(c, &rng);
    paint_bookcase(c, &rng);
    // Sunlight from the window, slanting down across the wall.
    paint_box(c, 0, 210, 470, 300, [&](int px, int py, double u, double v) {
        if (u > 40 + (v - 210) * 1.2 && u < 250 + (v - 210) * 1.6 && dither(0.25, px, py))
            put(c, px, py, 0xf8ecc8);
    });
    constexpr uint32_t DESK = 0x6a4226, DESK_TOP = 0xa06c40, DESK_EDGE = 0x4a2c18, BRASS = 0xd8b060;
    paint_polygon(c, {{190, 200}, {450, 200}, {470, 214}, {170, 214}}, DESK_TOP);
    paint_rect(c, 176, 214, 464, 292, DESK);
    paint_rect(c, 176, 214, 464, 216, DESK_EDGE);
    paint_rect(c, 172, 292, 468, 300, DESK_EDGE);
    for (double x : {190.0, 394.0}) {
        paint_rect(c, x, 226, x + 56, 252, DESK_EDGE);
        paint_rect(c, x + 1, 227, x + 55, 251, DESK);
        paint_ellipse(c, x + 28, 239, 3, 2, BRASS);
    }
    // The middle drawer, pulled out towards us: its dark inside with the
    // letter, then its front, lower and wider for being nearer.
    paint_polygon(c, {{270, 222}, {382, 222}, {392, 250}, {260, 250}}, 0x2c1a10);
    paint_polygon(c, {{290, 234}, {352, 230}, {356, 244}, {288, 247}}, 0xf2e6c8);
    paint_ellipse(c, 322, 239, 3, 3, 0xa83040);
    paint_polygon(c, {{260, 250}, {270, 222}, {274, 222}, {265, 250}}, DESK_TOP);
    paint_polygon(c, {{387, 250}, {378, 222}, {382, 222}, {392, 250}}, DESK_TOP);
    paint_rect(c, 256, 250, 396, 284, DESK_EDGE);
    paint_rect(c, 257, 251, 395, 283, 0x7a4c2c);
    paint_ellipse(c, 326, 267, 4, 3, BRASS);
    // A lamp with a green shade, a pile of books and an inkpot on the desk.
    paint_ellipse(c, 220, 202, 14, 4, 0xb08840);
    paint_segment(c, {220, 200}, {228, 150}, 1.5, 0xb08840);
    paint_polygon(c, {{210, 152}, {246, 152}, {268, 201}, {188, 201}}, 0xfff0b0, 0.3);
    paint_polygon(c, {{206, 152}, {250, 152}, {240, 128}, {216, 128}}, 0x3a6a4a);
    paint_rect(c, 388, 188, 440, 196, 0x2c4a7a);
    paint_rect(c, 392, 180, 436, 188, 0x8a2c2c);
    paint_ellipse(c, 454, 202, 6, 3, 0x1a1a28);
    paint_rect(c, 450, 194, 458, 202, 0x1a1a28);
    shade_text_band(c);
}

// A path into a pine wood just after sunset: the sky fading from the glow
// where the sun went down to the first stars, the wood darkening below it.
void draw_forest(Canvas* c)
{
    Rng rng = {0xF0E57u};
    paint_gradient(c, 0, 230, {0x1c1e4c, 0x2e2c64, 0x4a3a78, 0x7a4a80, 0xb46074, 0xe4885a, 0xf2b060});
    paint_stars(c, &rng, 24, 0, 0, SCREEN_W, 70, {0xd8d8f8, 0xb8b8e8});
    paint_glow(c, 320, 228, 170, 0xf2b060, 0.55);
    constexpr uint32_t FAR = 0x3c3a5e, MID = 0x22382e, NEAR = 0x0c1a16, TRUNK = 0x261a14;
    paint_rect(c, 0, 200, SCREEN_W, 232, FAR);
    for (double x = -10; x < SCREEN_W + 20; x += 13)
        paint_pine(c, x, 140 + rng_range(&rng, 0, 24), 232, 20, FAR, FAR);
    paint_gradient(c, 228, SCREEN_H, {0x34523e, 0x2c4836, 0x223a2c, 0x182c22});
    paint_polygon(c, {{306, 232}, {334, 232}, {480, 400}, {160, 400}}, 0x6a5a4a);
    paint_polygon(c, {{312, 232}, {328, 232}, {430, 400}, {210, 400}}, 0x84705a);
    // The last of the sky's glow, caught on the path.
    paint_polygon(c, {{312, 232}, {328, 232}, {430, 400}, {210, 400}}, 0xd89868, 0.2);
    for (double x = -20; x < SCREEN_W + 40; x += 38) {
        if (x > 230 && x < 410)
            continue;  // keep the path open
        double top = 96 + rng_range(&rng, 0, 40);
        paint_pine(c, x + rng_range(&rng, -6, 6), top, 262 + rng_range(&rng, 0, 16), 52, MID,
                   TRUNK);
    }
    for (int i = 0; i < 70; i++) {
        double x = rng_range(&rng, 0, SCREEN_W), y = rng_range(&rng, 270, SCREEN_H);
        double path_half = 20 + (y - 232) * 0.95;
        if (std::fabs(x - 320) < path_half)
            continue;
        uint32_t petal = (i % 3 == 0) ? 0x9a6080 : 0xa89a58;
        paint_ellipse(c, x, y, 1.6, 1.2, petal);
        paint_ellipse(c, x, y + 2.2, 0.6, 1.0, 0x1c3a1c);
    }
    paint_pine(c, 40, -30, 350, 170, NEAR, TRUNK);
    paint_pine(c, 610, -50, 370, 190, NEAR, TRUNK);
    shade_text_band(c);
}

// A crescent moon over dark hills and a cottage with a lit window, all above
// the text band.
void draw_night(Canvas* c)
{
    Rng rng = {0x5EA51u};
    paint_gradient(c, 0, 270, {0x05081a, 0x0c1430, 0x16244c, 0x243a68, 0x34507a});
    // A faint band of the galaxy from the upper left to the lower right.
    paint_box(c, 0, 0, SCREEN_W, 270, [&](int px, int py, double u, double v) {
        double d = (u * 0.57 - v * 0.82 + 20) / 44;
        double amount =
            0.3 * std::exp(-d * d) * (0.7 + 0.3 * std::sin(u * 0.07) * std::sin(v * 0.05));
        if (dither(amount, px, py))
            put(c, px, py, 0x3a4a80);
    });
    paint_stars(c, &rng, 220, 0, 0, SCREEN_W, 240, {0xffffff, 0xd8e0ff, 0xfff0c0});
    paint_glow(c, 500, 78, 90, 0x2a3e70, 0.6);
    paint_box(c, 470, 48, 530, 108, [&](int px, int py, double u, double v) {
        if (in_ellipse(u, v, 500, 78, 30, 30) && !in_ellipse(u, v, 513, 69, 27, 27))
            put(c, px, py, 0xf8f0c0);
    });
    paint_ridge(c, SCREEN_H, 0x0e1830, [](double u) {
        return 232 + 14 * std::sin(u * 0.013 + 0.6) + 6 * std::sin(u * 0.041 + 2.0);
    });
    constexpr uint32_t NEAR = 0x070c1a;
    paint_ridge(c, SCREEN_H, NEAR, [](double u) {
        return 270 + 10 * std::sin(u * 0.017 + 2.4) + 4 * std::sin(u * 0.07);
    });
    paint_glow(c, 166, 258, 34, 0xf0c060, 0.35);
    paint_rect(c, 146, 244, 196, 276, 0x101626);
    paint_polygon(c, {{140, 246}, {171, 224}, {202, 246}}, 0x0a0e1a);
    paint_rect(c, 184, 224, 190, 238, 0x0a0e1a);
    paint_rect(c, 158, 252, 172, 264, 0xf0c060);
    paint_rect(c, 164.5, 252, 165.5, 264, 0x101626);
    paint_rect(c, 158, 257.5, 172, 258.5, 0x101626);
    paint_pine(c, 236, 230, 274, 26, NEAR, NEAR);
    paint_pine(c, 254, 240, 276, 20, NEAR, NEAR);
    paint_pine(c, 566, 226, 272, 30, NEAR, NEAR);
    shade_text_band(c);
}

constexpr double LAKE_SHORE_Y = 190;

double lake_far_shore(double u)
{
    return 150 + 14 * std::sin(u * 0.015 + 2.2) + 6 * std::sin(u * 0.047 + 0.4);
}

// The lake at night, as still as a mirror: every star of the sky again in the
// water, and the rings of a tossed pebble spreading across them.
void draw_lake(Canvas* c)
{
    Rng rng = {0x1A4E5u};
    paint_gradient(c, 0, LAKE_SHORE_Y, {0x04061a, 0x0a1030, 0x142050, 0x1e3064});
    paint_gradient(c, LAKE_SHORE_Y, SCREEN_H, {0x182858, 0x101c44, 0x08102a});
    paint_glow(c, 200, 58, 70, 0x24366a, 0.6);
    paint_box(c, 176, 34, 224, 82, [&](int px, int py, double u, double v) {
        if (in_ellipse(u, v, 200, 58, 22, 22) && !in_ellipse(u, v, 210, 51, 20, 20))
            put(c, px, py, 0xf8f0c0);
    });
    // Each star and its twin in the water, drawn out a little by the ripples.
    const uint32_t star_colours[] = {0xffffff, 0xd8e0ff, 0xfff0c0};
    const uint32_t water_colours[] = {0xa0acd8, 0x8898c8, 0xb0a888};
    for (int i = 0; i < 140; i++) {
        double x = rng_range(&rng, 0, SCREEN_W), y = rng_range(&rng, 0, LAKE_SHORE_Y - 44);
        int kind = static_cast<int>(rng_next(&rng) % std::size(star_colours));
        double r = rng_unit(&rng) > 0.8 ? 0.9 : 0.55;
        paint_ellipse(c, x, y, r, r, star_colours[kind]);
        double twin = 2 * LAKE_SHORE_Y - y;
        paint_rect(c, x - 2 * r, twin, x + 2 * r, twin + 1, water_colours[kind]);
    }
    constexpr uint32_t FAR_SHORE = 0x0a1228;
    paint_box(c, 0, 100, SCREEN_W, 2 * LAKE_SHORE_Y - 100, [&](int px, int py, double u, double v) {
        double top = lake_far_shore(u);
        bool land = v >= top && v < LAKE_SHORE_Y;
        bool mirrored = v >= LAKE_SHORE_Y && v <= 2 * LAKE_SHORE_Y - top;
        if (land || (mirrored && dither(0.6, px, py)))
            put(c, px, py, FAR_SHORE);
    });
    // The moon's path on the water.
    for (double y = LAKE_SHORE_Y + 3; y < 296; y += 4) {
        double w = 26 * (1 - (y - LAKE_SHORE_Y) / 140) * rng_range(&rng, 0.5, 1.0);
        double x = 200 + rng_range(&rng, -4, 4);
        paint_rect(c, x - w / 2, y, x + w / 2, y + 1, 0xd8d0a0);
    }
    for (double r : {14.0, 28.0, 42.0})
        paint_box(c, 420 - r - 1, 248 - r / 4 - 1, 420 + r + 1, 248 + r / 4 + 1,
                  [&](int px, int py, double u, double v) {
                      if (in_ellipse(u, v, 420, 248, r + 1, r / 4 + 0.6) &&
                          !in_ellipse(u, v, 420, 248, r, r / 4))
                          put(c, px, py, 0x5a6ca8);
                  });
    // The near shore in silhouette: pines on the left, reeds on the right.
    constexpr uint32_t SHORE = 0x04060e;
    paint_polygon(c, {{0, 262}, {70, 270}, {150, 300}, {180, 330}, {0, 330}}, SHORE);
    paint_pine(c, 30, 96, 282, 76, SHORE, SHORE);
    paint_pine(c, 92, 150, 292, 50, SHORE, SHORE);
    paint_polygon(c, {{640, 276}, {560, 292}, {520, 330}, {640, 330}}, SHORE);
    for (int i = 0; i < 12; i++) {
        double x = 556 + i * 7 + rng_range(&rng, -2, 2);
        paint_segment(c, {x, 300}, {x + rng_range(&rng, -5, 5), 236 + rng_range(&rng, 0, 30)}, 0.6,
                      SHORE);
    }
    shade_text_band(c);
}

double hill_crest(double u)
{
    return 274 - 24 * std::exp(-u / 170);
}

// A pine bough reaching in from the edge of the picture: a branch with sprays
// of needles swept forward along it, thinning towards its tip.
void paint_bough(Canvas* c, Rng* rng, Point from, Point to, uint32_t colour)
{
    double dx = to.x - from.x, dy = to.y - from.y;
    double len = std::hypot(dx, dy);
    Point along = {dx / len, dy / len}, across = {-dy / len, dx / len};
    paint_segment(c, from, to, 2.0, colour);
    constexpr int SPRAYS = 28;
    for (int i = 0; i < SPRAYS; i++) {
        double t = static_cast<double>(i) / SPRAYS;
        Point p = {from.x + dx * t, from.y + dy * t};
        double reach = 30 * (1 - t * 0.6) * rng_range(rng, 0.7, 1.0);
        double sweep = 14 * rng_range(rng, 0.7, 1.0);
        for (double side : {-1.0, 1.0}) {
            Point tip = {p.x + along.x * sweep + across.x * side * reach,
                         p.y + along.y * sweep + across.y * side * reach};
            paint_polygon(c, {p, tip, {p.x + along.x * sweep, p.y + along.y * sweep}}, colour);
            paint_segment(c, p, tip, 0.7, colour);
        }
    }
}

// A windy hilltop at night: stars between the pine boughs above, and the
// lights of the village far down in the valley.
void draw_hill(Canvas* c)
{
    Rng rng = {0x4111u};
    paint_gradient(c, 0, 290, {0x03051a, 0x0a1232, 0x182a58, 0x2a4070});
    paint_stars(c, &rng, 240, 0, 0, SCREEN_W, 210, {0xffffff, 0xd8e0ff, 0xfff0c0});
    paint_ridge(c, SCREEN_H, 0x121e3e, [](double u) {
        return 212 + 16 * std::sin(u * 0.012 + 1.0) + 7 * std::sin(u * 0.037);
    });
    paint_ridge(c, SCREEN_H, 0x0b1530, [](double u) {
        return 240 + 8 * std::sin(u * 0.02 + 3.0) + 4 * std::sin(u * 0.061 + 1.0);
    });
    paint_glow(c, 410, 250, 80, 0x2a2a50, 0.5);
    for (int i = 0; i < 34; i++) {
        double x = 410 + rng_range(&rng, -1, 1) * rng_range(&rng, 0, 70);
        double y = 250 + rng_range(&rng, -5, 7);
        paint_rect(c, x - 1, y - 1, x + 1, y + 1, i % 4 == 0 ? 0xf0a050 : 0xf8d878);
    }
    constexpr uint32_t GROUND = 0x05080f;
    paint_ridge(c, SCREEN_H, GROUND, hill_crest);
    // Grass along the crest, bent over by the wind.
    for (double x = 0; x < SCREEN_W; x += 4) {
        double base = hill_crest(x) + 3;
        paint_segment(c, {x, base}, {x + rng_range(&rng, 5, 9), base - rng_range(&rng, 5, 10)}, 0.5,
                      GROUND);
    }
    paint_bough(c, &rng, {-10, 10}, {230, 58}, GROUND);
    paint_bough(c, &rng, {-10, 96}, {130, 118}, GROUND);
    paint_bough(c, &rng, {650, 24}, {450, 52}, GROUND);
    shade_text_band(c);
}

// A bundle of logs tied with cord, carried across the front of the portrait's
// robe: sleeves from the shoulders, hands holding it from below.
void paint_firewood_in_arms(Canvas* c, uint32_t sleeve, uint32_t skin)
{
    constexpr uint32_t BARK = 0x7a5232, BARK_DARK = 0x4e3220, CUT_FACE = 0xe4c088,
                       GROWTH_RING = 0xb08850, CORD = 0xd8c8a0;
    constexpr double LOG_RADIUS = 5;
    paint_polygon(c, {{30, 176}, {20, 216}, {40, 226}, {48, 188}}, sleeve);
    paint_polygon(c, {{130, 176}, {140, 210}, {120, 218}, {112, 188}}, sleeve);
    const Point logs[][2] = {
        {{14, 203}, {146, 195}}, {{10, 212}, {138, 205}}, {{16, 221}, {150, 212}}};
    for (const auto& log : logs) {
        paint_segment(c, log[0], log[1], LOG_RADIUS, BARK);
        for (double offset : {-2.0, 2.0})
            paint_segment(c, {log[0].x + 12, log[0].y + offset},
                          {log[1].x - 20, log[1].y + offset}, 0.5, BARK_DARK);
        paint_ellipse(c, log[0].x, log[0].y, 3.5, LOG_RADIUS, CUT_FACE);
        paint_ellipse(c, log[0].x, log[0].y, 2, 3, GROWTH_RING);
        paint_ellipse(c, log[0].x, log[0].y, 0.8, 1.2, BARK_DARK);
    }
    for (double x : {56.0, 104.0})
        paint_segment(c, {x, 196 - (x - 14) * 0.06}, {x, 226 - (x - 14) * 0.06}, 1.2, CORD);
    paint_ellipse(c, 36, 224, 7, 5.5, skin);
    paint_ellipse(c, 124, 216, 7, 5.5, skin);
}

// A girl with long dark hair in a teal robe, carrying firewood, on a
// transparent ground.
void draw_portrait(Canvas* c)
{
    constexpr uint32_t HAIR = 0x3a2440, HAIR_LIGHT = 0x6a4470, SKIN = 0xf4d0b4,
                       SKIN_SHADE = 0xdca88c, ROBE = 0x2c5c74, ROBE_DARK = 0x1c3c50,
                       ROBE_LIGHT = 0x5a98b0, COLLAR = 0xece4d4, EYE = 0x2a3a6a,
                       IRIS = 0x4a6aa8, RIBBON = 0xc84860;
    paint_ellipse(c, 80, 84, 44, 46, HAIR);
    paint_polygon(c, {{36, 88}, {124, 88}, {134, 206}, {26, 206}}, HAIR);
    paint_polygon(c, {{20, 240}, {140, 240}, {130, 174}, {106, 152}, {54, 152}, {30, 174}}, ROBE);
    paint_polygon(c, {{100, 152}, {106, 152}, {130, 174}, {140, 240}, {114, 240}}, ROBE_DARK);
    paint_polygon(c, {{62, 150}, {98, 150}, {80, 186}}, COLLAR);
    paint_segment(c, {60, 152}, {80, 190}, 1.0, ROBE_LIGHT);
    paint_segment(c, {100, 152}, {80, 190}, 1.0, ROBE_LIGHT);
    paint_rect(c, 72, 126, 88, 156, SKIN);
    paint_polygon(c, {{71, 150}, {89, 150}, {80, 168}}, SKIN);
    paint_rect(c, 72, 126, 88, 136, SKIN_SHADE, 0.5);
    paint_ellipse(c, 80, 98, 31, 34, SKIN);
    paint_polygon(c, {{50, 100}, {110, 100}, {97, 126}, {80, 136}, {63, 126}}, SKIN);
    paint_polygon(c, {{44, 100}, {46, 72}, {60, 56}, {80, 50}, {100, 56}, {114, 72}, {116, 100},
                      {110, 86}, {104, 92}, {100, 84}, {94, 90}, {88, 82}, {82, 89}, {76, 82},
                      {70, 90}, {64, 84}, {58, 92}, {52, 86}},
                  HAIR);
    paint_polygon(c, {{44, 84}, {54, 84}, {52, 142}, {40, 154}}, HAIR);
    paint_polygon(c, {{106, 84}, {116, 84}, {120, 154}, {108, 142}}, HAIR);
    // A sheen across the crown.
    paint_box(c, 50, 40, 110, 70, [&](int px, int py, double u, double v) {
        double d = std::hypot(u - 80, v - 84);
        if (d > 30 && d < 34 && v < 64 && dither(0.5, px, py))
            put(c, px, py, HAIR_LIGHT);
    });
    for (double ex : {67.0, 93.0}) {
        paint_ellipse(c, ex, 105, 4.5, 6, EYE);
        paint_ellipse(c, ex, 107.5, 3, 2.5, IRIS);
        paint_ellipse(c, ex + 1.5, 102.5, 1.5, 1.5, 0xffffff);
        paint_segment(c, {ex - 6, 99}, {ex + 6, 99.5}, 0.9, HAIR);
        paint_ellipse(c, ex - 5 + (ex > 80 ? 10 : 0), 116, 6, 3, 0xf0a0a0, 0.4);
    }
    paint_segment(c, {80, 110}, {81, 113}, 0.5, SKIN_SHADE);
    paint_segment(c, {76, 122}, {84, 122}, 0.7, 0xc06868);
    paint_polygon(c, {{110, 64}, {124, 54}, {122, 74}}, RIBBON);
    paint_polygon(c, {{110, 64}, {100, 50}, {98, 68}}, RIBBON);
    paint_ellipse(c, 110, 64, 3, 3, 0xe87090);
    paint_firewood_in_arms(c, ROBE, SKIN);
    paint_outline(c, 0x181020);
}

// A written page: lines of flowing strokes, a signature and a wax seal.
void draw_letter(Canvas* c)
{
    Rng rng = {0x1E77E2u};
    paint_box(c, 0, 0, LETTER_W, LETTER_H, [&](int px, int py, double u, double v) {
        double dx = (u - LETTER_W / 2.0) / (LETTER_W / 2.0),
               dy = (v - LETTER_H / 2.0) / (LETTER_H / 2.0);
        double edge = std::max(std::fabs(dx), std::fabs(dy));
        uint32_t colour = 0xf2e6c8;
        if (dither((edge - 0.6) * 1.5, px, py))
            colour = 0xe2d0a6;
        if (dither((edge - 0.9) * 6, px, py))
            colour = 0xc8b080;
        put(c, px, py, colour);
    });
    for (double inset : {6.0, 9.0}) {
        Point corners[] = {{inset, inset}, {LETTER_W - inset, inset},
                           {LETTER_W - inset, LETTER_H - inset}, {inset, LETTER_H - inset}};
        for (int i = 0; i < 4; i++)
            paint_segment(c, corners[i], corners[(i + 1) % 4], 0.5, 0xb09870);
    }
    constexpr uint32_t INK = 0x2c2040;
    constexpr double LINE_STEP = 15;
    constexpr int LINES = 7;
    for (int line = 0; line < LINES; line++) {
        double base = 30 + line * LINE_STEP;
        double x = line == 0 ? 24 : 34;
        double end = line == 0 ? 120 : (line == LINES - 1 ? 170 : 296);
        while (x < end - 12) {
            double width = std::min(rng_range(&rng, 12, 40), end - x);
            int loops = std::max(2, static_cast<int>(width / 5));
            // Cursive: a forward-moving cycloid whose loops are letters of
            // x-height, with now and then a tall stroke or a descender.
            constexpr int STEPS_PER_LOOP = 12;
            Point last = {x, base};
            double height = 0;
            for (int i = 1; i <= loops * STEPS_PER_LOOP; i++) {
                if ((i - 1) % STEPS_PER_LOOP == 0) {
                    double kind = rng_unit(&rng);
                    height = kind < 0.18 ? rng_range(&rng, 7, 9)
                             : kind < 0.26 ? -rng_range(&rng, 4, 5)
                                           : rng_range(&rng, 3, 4.5);
                }
                double t = static_cast<double>(i) / (loops * STEPS_PER_LOOP);
                double angle = t * loops * 2 * PI;
                Point p = {x + t * width - 1.8 * std::sin(angle),
                           base - height * (1 - std::cos(angle)) / 2};
                paint_segment(c, last, p, 0.6, INK);
                last = p;
            }
            x += width + rng_range(&rng, 5, 8);
        }
    }
    Point last = {214, 138};
    for (int i = 1; i <= 120; i++) {
        double t = i / 120.0;
        Point p = {214 + t * 70 - 4 * std::sin(t * 5 * 2 * PI),
                   138 - 5 * std::sin(t * 5 * PI) * (1 - t * 0.5)};
        paint_segment(c, last, p, 0.7, INK);
        last = p;
    }
    paint_segment(c, {210, 144}, {290, 141}, 0.6, INK);
    paint_ellipse(c, 44, 134, 11, 11, 0xa83040);
    paint_ellipse(c, 44, 134, 7, 7, 0xc85060);
    paint_ellipse(c, 44, 134, 4, 4, 0xa83040);
}

// The game's name in a blocky display face of our own, '#' for ink.
const char* const TITLE_BANNER[] = {
    ".#####..................................###.###........",
    "##...##..................................##..##........",
    "##.......................................##..##........",
    "##.......#####..##.###..##...##..#####...##..##..####..",
    ".#####..##...##.###..##.##...##.##...##..##..##.....##.",
    ".....##.##...##.##......##...##.#######..##..##..#####.",
    ".....##.##...##.##.......##.##..##.......##..##.##..##.",
    "##...##.##...##.##.......##.##..##...##..##..##.##..##.",
    ".#####...#####..##........###....#####..###.###..###.##",
};
constexpr int TITLE_ROWS = static_cast<int>(std::size(TITLE_BANNER));

// Gold lettering with a shadow and a lit upper edge on each block, the
// banner's top-left at (x, y) and each block `cell` pixels square.
void paint_title_banner(Canvas* c, double x, double y, double cell)
{
    constexpr double SHADOW = 4;
    constexpr double HIGHLIGHT = 2;
    const uint32_t gold[] = {0xfff0b0, 0xf8d080, 0xe0a050, 0xc07838};
    constexpr int GOLD_BANDS = 3;
    for (int pass = 0; pass < 2; pass++) {
        for (int r = 0; r < TITLE_ROWS; r++) {
            for (int col = 0; TITLE_BANNER[r][col]; col++) {
                if (TITLE_BANNER[r][col] != '#')
                    continue;
                double x0 = x + col * cell, y0 = y + r * cell;
                if (pass == 0) {
                    paint_rect(c, x0 + SHADOW, y0 + SHADOW, x0 + cell + SHADOW,
                               y0 + cell + SHADOW, 0x06040f);
                    continue;
                }
                paint_box(c, x0, y0, x0 + cell, y0 + cell, [&](int px, int py, double, double v) {
                    double t = (v - y) / (TITLE_ROWS * cell) * GOLD_BANDS;
                    int i = std::min(static_cast<int>(t), GOLD_BANDS - 1);
                    put(c, px, py, dither(t - i, px, py) ? gold[i + 1] : gold[i]);
                });
                if (r == 0 || TITLE_BANNER[r - 1][col] != '#')
                    paint_rect(c, x0, y0, x0 + cell, y0 + HIGHLIGHT, 0xfff8e0);
            }
        }
    }
}

void draw_splash(Canvas* c)
{
    Rng rng = {0x5071E11Au};
    paint_gradient(c, 0, SCREEN_H, {0x0a0820, 0x141038, 0x1e1850, 0x141038, 0x0a0820});
    paint_stars(c, &rng, 90, 24, 24, SCREEN_W - 24, SCREEN_H - 24, {0x8880c0, 0xc8c0f0, 0xf8e8b0});
    for (double inset : {14.0, 18.0}) {
        uint32_t colour = inset < 16 ? 0x3c3470 : 0x2a2456;
        paint_rect(c, inset, inset, SCREEN_W - inset, inset + 1, colour);
        paint_rect(c, inset, SCREEN_H - inset - 1, SCREEN_W - inset, SCREEN_H - inset, colour);
        paint_rect(c, inset, inset, inset + 1, SCREEN_H - inset, colour);
        paint_rect(c, SCREEN_W - inset - 1, inset, SCREEN_W - inset, SCREEN_H - inset, colour);
    }
    for (Point corner : {Point{16, 16}, Point{624, 16}, Point{16, 384}, Point{624, 384}})
        paint_polygon(c, {{corner.x, corner.y - 6}, {corner.x + 6, corner.y},
                          {corner.x, corner.y + 6}, {corner.x - 6, corner.y}},
                      0xf8d080);
    paint_glow(c, 540, 74, 60, 0x2a2a68, 0.6);
    paint_box(c, 520, 54, 560, 94, [&](int px, int py, double u, double v) {
        if (in_ellipse(u, v, 540, 74, 18, 18) && !in_ellipse(u, v, 548, 68, 16, 16))
            put(c, px, py, 0xf8f0c0);
    });
    constexpr double CELL = 9;
    double width = strlen(TITLE_BANNER[0]) * CELL;
    paint_title_banner(c, (SCREEN_W - width) / 2, 130, CELL);
    paint_rect(c, 200, 236, 440, 237, 0x8a6a3a);
    paint_polygon(c, {{320, 230}, {327, 236.5}, {320, 243}, {313, 236.5}}, 0xf8d080);
}

struct PictureSpec {
    int width, height;
    bool transparent;
    void (*draw)(Canvas*);
};

const PictureSpec PICTURES[DEMO_ART_PICTURE_COUNT] = {
    {SCREEN_W, SCREEN_H, false, draw_title},     {SCREEN_W, SCREEN_H, false, draw_forest},
    {SCREEN_W, SCREEN_H, false, draw_night},     {PORTRAIT_W, PORTRAIT_H, true, draw_portrait},
    {LETTER_W, LETTER_H, false, draw_letter},    {SCREEN_W, SCREEN_H, false, draw_lake},
    {SCREEN_W, SCREEN_H, false, draw_hill},      {SCREEN_W, SCREEN_H, false, draw_study},
};

ArtImage to_image(Canvas&& c)
{
    ArtImage image;
    image.width = c.w;
    image.height = c.h;
    image.rgba = std::move(c.rgba);
    return image;
}

bool write_png(const std::string& path, const ArtImage& image, std::string* error)
{
    if (stbi_write_png(path.c_str(), image.width, image.height, RGBA_CHANNELS, image.rgba.data(),
                       image.width * RGBA_CHANNELS) == 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

bool demo_art_picture_size(int id, int* width, int* height)
{
    if (id < 0 || id >= DEMO_ART_PICTURE_COUNT)
        return false;
    *width = PICTURES[id].width;
    *height = PICTURES[id].height;
    return true;
}

ArtImage demo_art_picture(int id, int scale)
{
    if (id < 0 || id >= DEMO_ART_PICTURE_COUNT || scale < 1 || scale > DEMO_ART_HD_SCALE)
        return {};
    const PictureSpec& spec = PICTURES[id];
    Canvas c = canvas_new(spec.width, spec.height, scale, spec.transparent);
    spec.draw(&c);
    return to_image(std::move(c));
}

ArtImage demo_art_splash()
{
    Canvas c = canvas_new(SCREEN_W, SCREEN_H, 1, false);
    draw_splash(&c);
    return to_image(std::move(c));
}

bool demo_art_write_all(const std::string& folder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder + "/img/hd", ec);
    for (int id = 0; id < DEMO_ART_PICTURE_COUNT; id++) {
        char name[32];
        snprintf(name, sizeof name, "/img/%03d.png", id);
        if (!write_png(folder + name, demo_art_picture(id, 1), error))
            return false;
        snprintf(name, sizeof name, "/img/hd/%03d.png", id);
        if (!write_png(folder + name, demo_art_picture(id, DEMO_ART_HD_SCALE), error))
            return false;
    }
    return write_png(folder + "/splash.png", demo_art_splash(), error);
}
