#include "demo_paint.h"

constexpr uint8_t OPAQUE = 255;
constexpr int BAYER_SIZE = 4;
constexpr double BAYER_LEVELS = 16.0;
const int BAYER[BAYER_SIZE][BAYER_SIZE] = {
    {0, 8, 2, 10},
    {12, 4, 14, 6},
    {3, 11, 1, 9},
    {15, 7, 13, 5},
};

uint32_t rng_next(Rng* rng)
{
    uint32_t x = rng->state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    rng->state = x;
    return x;
}

double rng_unit(Rng* rng)
{
    constexpr double TWO_POW_32 = 4294967296.0;
    return rng_next(rng) / TWO_POW_32;
}

double rng_range(Rng* rng, double lo, double hi)
{
    return lo + (hi - lo) * rng_unit(rng);
}

Canvas canvas_new(int logical_w, int logical_h, int scale, bool transparent)
{
    Canvas c;
    c.w = logical_w * scale;
    c.h = logical_h * scale;
    c.scale = scale;
    c.rgba.assign(static_cast<size_t>(c.w) * c.h * RGBA_CHANNELS, 0);
    if (!transparent) {
        for (size_t i = 3; i < c.rgba.size(); i += RGBA_CHANNELS)
            c.rgba[i] = OPAQUE;
    }
    return c;
}

void put(Canvas* c, int px, int py, uint32_t colour)
{
    uint8_t* p = &c->rgba[(static_cast<size_t>(py) * c->w + px) * RGBA_CHANNELS];
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
    p[3] = OPAQUE;
}

static bool opaque_at(const Canvas& c, int px, int py)
{
    if (px < 0 || py < 0 || px >= c.w || py >= c.h)
        return false;
    return c.rgba[(static_cast<size_t>(py) * c.w + px) * RGBA_CHANNELS + 3] != 0;
}

bool dither(double amount, int px, int py)
{
    return amount > (BAYER[py % BAYER_SIZE][px % BAYER_SIZE] + 0.5) / BAYER_LEVELS;
}

void paint_gradient(Canvas* c, double y0, double y1, std::initializer_list<uint32_t> stops)
{
    std::vector<uint32_t> colours(stops);
    int bands = static_cast<int>(colours.size()) - 1;
    paint_box(c, 0, y0, c->w / c->scale, y1, [&](int px, int py, double, double v) {
        double t = std::clamp((v - y0) / (y1 - y0), 0.0, 1.0) * bands;
        int i = std::min(static_cast<int>(t), bands - 1);
        put(c, px, py, dither(t - i, px, py) ? colours[i + 1] : colours[i]);
    });
}

void paint_rect(Canvas* c, double x0, double y0, double x1, double y1, uint32_t colour,
                double amount)
{
    paint_box(c, x0, y0, x1, y1, [&](int px, int py, double, double) {
        if (dither(amount, px, py))
            put(c, px, py, colour);
    });
}

bool in_ellipse(double u, double v, double cx, double cy, double rx, double ry)
{
    double dx = (u - cx) / rx, dy = (v - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

void paint_ellipse(Canvas* c, double cx, double cy, double rx, double ry, uint32_t colour,
                   double amount)
{
    paint_box(c, cx - rx, cy - ry, cx + rx, cy + ry, [&](int px, int py, double u, double v) {
        if (in_ellipse(u, v, cx, cy, rx, ry) && dither(amount, px, py))
            put(c, px, py, colour);
    });
}

void paint_glow(Canvas* c, double cx, double cy, double r, uint32_t colour, double strength)
{
    paint_box(c, cx - r, cy - r, cx + r, cy + r, [&](int px, int py, double u, double v) {
        double d = std::hypot(u - cx, v - cy) / r;
        if (d < 1 && dither(strength * (1 - d) * (1 - d), px, py))
            put(c, px, py, colour);
    });
}

static bool in_polygon(double u, double v, const std::vector<Point>& pts)
{
    bool inside = false;
    for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
        if ((pts[i].y > v) != (pts[j].y > v) &&
            u < (pts[j].x - pts[i].x) * (v - pts[i].y) / (pts[j].y - pts[i].y) + pts[i].x)
            inside = !inside;
    }
    return inside;
}

void paint_polygon(Canvas* c, const std::vector<Point>& pts, uint32_t colour, double amount)
{
    double x0 = pts[0].x, x1 = pts[0].x, y0 = pts[0].y, y1 = pts[0].y;
    for (const Point& p : pts) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    paint_box(c, x0, y0, x1, y1, [&](int px, int py, double u, double v) {
        if (in_polygon(u, v, pts) && dither(amount, px, py))
            put(c, px, py, colour);
    });
}

void paint_segment(Canvas* c, Point a, Point b, double radius, uint32_t colour)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    paint_box(c, std::min(a.x, b.x) - radius, std::min(a.y, b.y) - radius,
              std::max(a.x, b.x) + radius, std::max(a.y, b.y) + radius,
              [&](int px, int py, double u, double v) {
                  double t = len2 > 0
                                 ? std::clamp(((u - a.x) * dx + (v - a.y) * dy) / len2, 0.0, 1.0)
                                 : 0.0;
                  if (std::hypot(u - (a.x + t * dx), v - (a.y + t * dy)) <= radius)
                      put(c, px, py, colour);
              });
}

void paint_pine(Canvas* c, double x, double top, double base, double width, uint32_t leaves,
                uint32_t trunk)
{
    double height = base - top;
    paint_rect(c, x - width * 0.06, base - height * 0.2, x + width * 0.06, base, trunk);
    constexpr int TIERS = 3;
    for (int tier = 0; tier < TIERS; tier++) {
        double tier_top = top + height * 0.22 * tier;
        double tier_base = top + height * (0.42 + 0.2 * tier);
        double half = width * (0.3 + 0.1 * tier);
        paint_polygon(c, {{x, tier_top}, {x + half, tier_base}, {x - half, tier_base}}, leaves);
    }
}

void paint_stars(Canvas* c, Rng* rng, int count, double x0, double y0, double x1, double y1,
                 std::initializer_list<uint32_t> colours)
{
    std::vector<uint32_t> tints(colours);
    for (int i = 0; i < count; i++) {
        double x = rng_range(rng, x0, x1), y = rng_range(rng, y0, y1);
        uint32_t colour = tints[rng_next(rng) % tints.size()];
        double size = rng_unit(rng);
        if (size > 0.95) {
            paint_segment(c, {x - 3, y}, {x + 3, y}, 0.45, colour);
            paint_segment(c, {x, y - 3}, {x, y + 3}, 0.45, colour);
        }
        paint_ellipse(c, x, y, size > 0.8 ? 0.9 : 0.55, size > 0.8 ? 0.9 : 0.55, colour);
    }
}

void paint_outline(Canvas* c, uint32_t colour)
{
    Canvas before = *c;
    int reach = c->scale;
    for (int py = 0; py < c->h; py++) {
        for (int px = 0; px < c->w; px++) {
            if (opaque_at(before, px, py))
                continue;
            bool edge = false;
            for (int dy = -reach; dy <= reach && !edge; dy++)
                for (int dx = -reach; dx <= reach && !edge; dx++)
                    edge = (dx == 0 || dy == 0) && opaque_at(before, px + dx, py + dy);
            if (edge)
                put(c, px, py, colour);
        }
    }
}
