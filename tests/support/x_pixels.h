// What a window shows, read back from the X server: for checking what the
// game draws on screen but never puts in a screenshot, such as its menus.
#pragma once

#include "app.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WindowPixels {
    int x = 0, y = 0;  // where the window's top-left pixel lies on the screen
    int frame_y = 0;   // where the top of the frame around it (its title bar) lies
    unsigned long id = 0;  // the X window's id
    int min_w = 0, min_h = 0;  // the smallest size it asks its manager to keep; 0 x 0 when none
    bool focused = false;  // keys typed now reach it: it has the focus, or the focus follows the pointer
    int w = 0, h = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, row after row
    uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * w + x]; }
};

// The pixels of the first shown window on the display whose title holds
// title_part, inside a window manager's frame too; empty (w 0) when there is
// none or it cannot be read.
WindowPixels x_read_window(const std::string& display, const std::string& title_part);

// The ConfigureNotify events a window manager makes up for the window x_read_window
// finds while during runs: its answer to each size request it does not carry out.
int x_count_made_up_configures(const std::string& display, const std::string& title_part,
                               const std::function<void()>& during);

// The part of the screen a window manager leaves to windows (_NET_WORKAREA),
// the whole screen when none names it; w 0 when the display cannot be opened.
ScreenRect x_work_area(const std::string& display);
