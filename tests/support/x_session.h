// A private X server (Xvfb) and the real game running on it, for
// whole-program tests that need a real window and real keys and clicks
// (sent with xdotool). The tests wait on what the screen shows, read from
// the server's framebuffer, rather than on fixed sleeps.
#pragma once

#include "test_support.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Pixels as red-green-blue-alpha bytes, row by row.
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    uint32_t rgb(int x, int y) const
    {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
    int count(uint32_t colour, int left, int top, int right, int bottom) const
    {
        int hits = 0;
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++)
                hits += rgb(x, y) == colour;
        return hits;
    }
};

// A PNG file's pixels; an empty picture when it cannot be read.
Picture load_png(const std::string& path);

class XSession {
public:
    XSession();  // starts Xvfb on a display number the server finds free
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // False when Xvfb or xdotool is missing.
    bool available() const { return tools_; }
    // Empty when the server did not come up.
    const std::string& display() const { return display_; }

    // Runs xdotool with these arguments on this display; true on status 0.
    bool xdotool(const std::string& args) const;
    // The screen's top-left w x h pixels as they stand now.
    Picture screen(int w, int h) const;

private:
    bool tools_ = false;
    pid_t server_ = 0;
    std::string display_;
    ScratchDir framebuffer_;
};

// The built kavrel, copied into folder (so its screenshots land there) and
// started there on the session's display with the dummy audio driver. Its
// standard error goes to folder/stderr.txt.
class GameProcess {
public:
    GameProcess(const XSession& session, const std::string& folder);
    ~GameProcess();
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    // Waits for the window, moves it to the screen's top-left corner with
    // the pointer over it, waits for the loading screen's start prompt and
    // presses Space. False when either wait takes over timeout_seconds or
    // the game ended.
    bool start(int timeout_seconds);
    // Reads the game's 640 x 400 window, in the corner start() put it, until
    // shown holds; false after timeout_seconds or when the game ended.
    bool wait_for_screen(int timeout_seconds, const std::function<bool(const Picture&)>& shown);
    // True once the game has ended.
    bool ended();
    // For a failure message: "running", or how the game ended, followed by
    // what it wrote to standard error.
    std::string state();
    // Sends SIGINT (a quit) and waits; the exit status, -1 if killed.
    int quit(int timeout_seconds);

private:
    const XSession& session_;
    std::string folder_;
    pid_t child_ = 0;
    std::string ending_;
    int exit_status_ = -1;
};
