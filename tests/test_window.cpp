#include <gtest/gtest.h>

#include "app.h"
#include "config.h"

static Config unsaved_config()
{
    Config config{};
    config.game_speed = 1;
    config.window_x = config.window_y = config.window_w = config.window_h = -1;
    return config;
}

TEST(WindowPlacementTest, FitScaleIsTheLargestMultipleBelowTheTitleReserve)
{
    EXPECT_EQ(win_fit_scale_in({0, 0, 1366, 728}, 640, 400), 1);   // 800 > 672
    EXPECT_EQ(win_fit_scale_in({0, 0, 2560, 1400}, 640, 400), 3);  // 1600 > 1344
    EXPECT_EQ(win_fit_scale_in({0, 0, 3840, 2100}, 640, 400), 5);  // 6 fails on the height
    // A display narrower than twice the base gives 1 whatever its height.
    EXPECT_EQ(win_fit_scale_in({0, 0, 1279, 5000}, 640, 400), 1);
}

TEST(WindowPlacementTest, ScaleToScreenReplacesTheHdScale)
{
    Config config = unsaved_config();
    config.scale_to_screen = 1;

    ScreenRect small = win_startup_placement_in(config, 1, {0, 0, 1366, 728});
    EXPECT_EQ(small.w, 640);
    EXPECT_EQ(small.h, 400);

    ScreenRect large = win_startup_placement_in(config, 0, {0, 0, 2560, 1400});
    EXPECT_EQ(large.w, 1920);
    EXPECT_EQ(large.h, 1200);
}

TEST(WindowPlacementTest, UnsavedWindowIsCentredBelowTheReserve)
{
    ScreenRect placed = win_startup_placement_in(unsaved_config(), 0, {0, 0, 1920, 1040});
    EXPECT_EQ(placed.x, 640);
    EXPECT_EQ(placed.y, 348);
    EXPECT_EQ(placed.w, 640);
    EXPECT_EQ(placed.h, 400);

    ScreenRect hd = win_startup_placement_in(unsaved_config(), 1, {100, 20, 1920, 1080});
    EXPECT_EQ(hd.w, 1280);
    EXPECT_EQ(hd.h, 800);
    EXPECT_EQ(hd.x, 100 + 320);
    EXPECT_EQ(hd.y, 20 + 56 + (1080 - 800 - 56) / 2);
}

TEST(WindowPlacementTest, SavedRectangleIsPulledBackOnScreen)
{
    Config config = unsaved_config();
    config.window_x = 5000;
    config.window_y = 0;
    config.window_w = 1280;
    config.window_h = 2000;
    ScreenRect placed = win_startup_placement_in(config, 0, {0, 0, 1920, 1080});
    EXPECT_EQ(placed.w, 1280);
    EXPECT_EQ(placed.h, 1024);  // cut to the height below the reserve
    EXPECT_EQ(placed.x, 640);
    EXPECT_EQ(placed.y, 56);    // raised below the reserve
}

TEST(WindowPlacementTest, HalfSavedPositionCountsAsUnsaved)
{
    Config config = unsaved_config();
    config.window_x = -1;
    config.window_y = 300;
    ScreenRect placed = win_startup_placement_in(config, 0, {0, 0, 1920, 1080});
    EXPECT_EQ(placed.x, 640);
    EXPECT_EQ(placed.y, 56 + (1080 - 400 - 56) / 2);
}

TEST(WindowPlacementTest, ExtremeSavedPositionDoesNotOverflow)
{
    Config config = unsaved_config();
    config.window_x = INT32_MAX;
    config.window_y = INT32_MAX;
    ScreenRect placed = win_startup_placement_in(config, 0, {0, 0, 1920, 1080});
    EXPECT_EQ(placed.x, 1920 - 640);
    EXPECT_EQ(placed.y, 1080 - 400);
}
