#include <gtest/gtest.h>

#include "app.h"
#include "config.h"

#include <vector>

TEST(WindowPlacementTest, FitScaleIsTheLargestMultipleBelowTheTitleReserve)
{
    EXPECT_EQ(win_fit_scale_in({0, 0, 1366, 728}, 640, 400), 1);   // 800 > 672
    EXPECT_EQ(win_fit_scale_in({0, 0, 2560, 1400}, 640, 400), 3);  // 1600 > 1344
    EXPECT_EQ(win_fit_scale_in({0, 0, 3840, 2100}, 640, 400), 5);  // 6 fails on the height
    // A display narrower than twice the base gives 1 whatever its height.
    EXPECT_EQ(win_fit_scale_in({0, 0, 1279, 5000}, 640, 400), 1);
}

TEST(WindowPlacementTest, StartupPlacementFromTheSettingsAndTheUsableBounds)
{
    struct Case {
        const char* what;
        uint8_t scale_to_screen, hd;
        int32_t saved_x, saved_y, saved_w, saved_h;
        ScreenRect usable, placed;
    };
    // Each side is cut to the bounds below the reserve, then 16:10 and the mode's minimum follow.
    const Case cases[] = {
        {"scale to screen keeps the HD minimum", 1, 1, -1, -1, -1, -1, {0, 0, 1366, 728}, {43, 56, 1280, 800}},
        {"scale to screen", 1, 0, -1, -1, -1, -1, {0, 0, 2560, 1400}, {320, 128, 1920, 1200}},
        {"centred below the reserve", 0, 0, -1, -1, -1, -1, {0, 0, 1920, 1040}, {640, 348, 640, 400}},
        {"centred in HD", 0, 1, -1, -1, -1, -1, {100, 20, 1920, 1080}, {420, 188, 1280, 800}},
        {"pulled back on screen", 0, 0, 5000, 0, 1280, 720, {0, 0, 1920, 1080}, {640, 56, 1280, 800}},
        {"too high: the width is kept", 0, 0, 5000, 0, 1280, 2000, {0, 0, 1920, 1080}, {640, 56, 1280, 800}},
        {"saved maximised", 0, 0, 0, 19, 1920, 1200, {0, 0, 1920, 1080}, {0, 56, 1639, 1024}},
        {"too wide", 0, 0, 10, 60, 2560, 800, {0, 0, 1920, 1080}, {10, 56, 1639, 1024}},
        {"from a 4K screen", 0, 0, 1500, 800, 3000, 1875, {0, 0, 1366, 742}, {267, 56, 1099, 686}},
        {"below the minimum", 0, 0, 1266, 668, 100, 100, {0, 0, 1366, 768}, {726, 368, 640, 400}},
        {"HD after SD", 0, 1, 1200, 600, 640, 400, {0, 0, 1920, 1080}, {640, 280, 1280, 800}},
        {"half a saved position", 0, 0, -1, 300, -1, -1, {0, 0, 1920, 1080}, {640, 368, 640, 400}},
        {"extreme position", 0, 0, INT32_MAX, INT32_MAX, -1, -1, {0, 0, 1920, 1080}, {1280, 680, 640, 400}},
    };
    for (const Case& c : cases) {
        Config config{};
        config.scale_to_screen = c.scale_to_screen;
        config.window_x = c.saved_x;
        config.window_y = c.saved_y;
        config.window_w = c.saved_w;
        config.window_h = c.saved_h;
        const ScreenRect p = win_startup_placement_in(config, c.hd, c.usable);
        EXPECT_EQ((std::vector<int>{p.x, p.y, p.w, p.h}),
                  (std::vector<int>{c.placed.x, c.placed.y, c.placed.w, c.placed.h}))
            << c.what;
    }
}
