// The drawing primitives of the demo's pictures: a canvas drawn in logical
// pixels at any scale, in flat colours with ordered dithering, as a
// 16-colour display would show them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

constexpr double PI = 3.14159265358979323846;
constexpr int RGBA_CHANNELS = 4;  // bytes R, G, B, A

struct Canvas {
    int w = 0, h = 0;  // device pixels
    int scale = 1;  // device pixels per logical pixel
    std::vector<uint8_t> rgba;
};

struct Point {
    double x, y;
};

// A fixed-seed xorshift generator: the same pictures on every run.
struct Rng {
    uint32_t state;
};

// The next 32 random bits, a number in [0, 1), a number in [lo, hi).
uint32_t rng_next(Rng* rng);
double rng_unit(Rng* rng);
double rng_range(Rng* rng, double lo, double hi);

// A canvas of the logical size drawn at `scale` device pixels per logical
// pixel: transparent, or opaque black.
Canvas canvas_new(int logical_w, int logical_h, int scale, bool transparent);

// Sets device pixel (px, py), which must lie on the canvas, to the opaque 0xRRGGBB colour.
void put(Canvas* c, int px, int py, uint32_t colour);

// Ordered dithering: true on the share `amount` (0..1) of pixels, spread evenly.
bool dither(double amount, int px, int py);

// Calls shade(px, py, u, v) for every device pixel whose centre lies in the
// logical box, with (u, v) that centre in logical coordinates.
template <typename Shade>
void paint_box(Canvas* c, double x0, double y0, double x1, double y1, Shade shade)
{
    int s = c->scale;
    int px0 = std::max(0, static_cast<int>(std::floor(x0 * s)));
    int py0 = std::max(0, static_cast<int>(std::floor(y0 * s)));
    int px1 = std::min(c->w, static_cast<int>(std::ceil(x1 * s)));
    int py1 = std::min(c->h, static_cast<int>(std::ceil(y1 * s)));
    for (int py = py0; py < py1; py++) {
        double v = (py + 0.5) / s;
        for (int px = px0; px < px1; px++)
            shade(px, py, (px + 0.5) / s, v);
    }
}

// A vertical gradient through n colours between y0 and y1, dithered between
// neighbouring colours rather than blended, as a 16-colour screen would show it.
void paint_gradient(Canvas* c, double y0, double y1, std::initializer_list<uint32_t> stops);

// A box filled with the colour on the share `amount` of its pixels.
void paint_rect(Canvas* c, double x0, double y0, double x1, double y1, uint32_t colour,
                double amount = 1.0);

// Whether (u, v) lies in the ellipse of centre (cx, cy) and radii rx, ry.
bool in_ellipse(double u, double v, double cx, double cy, double rx, double ry);

// An ellipse filled with the colour on the share `amount` of its pixels.
void paint_ellipse(Canvas* c, double cx, double cy, double rx, double ry, uint32_t colour,
                   double amount = 1.0);

// A soft halo: dithered coverage falling off from `strength` at the centre.
void paint_glow(Canvas* c, double cx, double cy, double r, uint32_t colour, double strength);

// A polygon filled with the colour on the share `amount` of its pixels.
void paint_polygon(Canvas* c, const std::vector<Point>& pts, uint32_t colour, double amount = 1.0);

// A stroke of the given half-width between two points.
void paint_segment(Canvas* c, Point a, Point b, double radius, uint32_t colour);

// Land below the curve top(u), down to `bottom`.
template <typename Top>
void paint_ridge(Canvas* c, double bottom, uint32_t colour, Top top)
{
    paint_box(c, 0, 0, c->w / c->scale, bottom, [&](int px, int py, double u, double v) {
        if (v >= top(u))
            put(c, px, py, colour);
    });
}

// A pine of stacked tiers with its apex at (x, top) and its foot at `base`.
void paint_pine(Canvas* c, double x, double top, double base, double width, uint32_t leaves,
                uint32_t trunk);

// Sharp stars for a night sky; one in twenty gets a cross of light.
void paint_stars(Canvas* c, Rng* rng, int count, double x0, double y0, double x1, double y1,
                 std::initializer_list<uint32_t> colours);

// A dark rim around every opaque shape of a transparent picture, one logical
// pixel wide, so a figure reads cleanly over any background.
void paint_outline(Canvas* c, uint32_t colour);
