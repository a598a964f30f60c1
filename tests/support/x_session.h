// A private X server (Xvfb) and the real game running on it, for
// whole-program tests that need a real window and real keys and clicks
// (sent with xdotool). The tests wait on what the window shows, read back
// from the server, rather than on fixed sleeps.
#pragma once

#include "test_support.h"
#include "x_pixels.h"

#include <functional>
#include <string>
#include <sys/types.h>

// A PNG file's pixels; empty (w 0) when it cannot be read.
WindowPixels load_png_pixels(const std::string& path);

// A desktop's screen, and what the private server runs besides the game:
// nothing, or a real window manager, which has its own say in the window's
// size and place (icewm also keeps a taskbar out of the work area; i3 tiles;
// xfwm4 ignores the window's requests while its frame is dragged;
// herbstluftwm floats the window, puts its client area, not its frame, where
// the window asks to be, and knows fullscreen but not maximised).
constexpr int X_DESKTOP_WIDTH = 1920, X_DESKTOP_HEIGHT = 1080;
enum XDesktop {
    X_BARE,
    X_OPENBOX,
    X_ICEWM,
    X_I3,
    X_XFWM4,
    X_HERBSTLUFTWM,
};

// "bare", or the name of the window manager's program.
const char* x_desktop_name(XDesktop desktop);

class XSession {
public:
    // Starts Xvfb with a screen_w x screen_h screen on a display number the
    // server finds free, and the window manager when asked for.
    explicit XSession(XDesktop desktop = X_BARE, int screen_w = 1280, int screen_h = 1024);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // False when Xvfb or xdotool is missing, or the window manager or wmctrl
    // for a session with one.
    bool available() const { return tools_; }
    // Empty when the server did not come up.
    const std::string& display() const { return display_; }

    // Runs xdotool with these arguments on this display; true on status 0.
    bool xdotool(const std::string& args) const;
    // Runs wmctrl with these arguments on this display; true on status 0.
    bool wmctrl(const std::string& args) const;

    // In a child process of the test: restarts SDL's video on this display and
    // makes the game's arrow and hand cursors, which only a real display has.
    // False when either fails.
    bool start_sdl_with_cursors() const;

private:
    bool run(const char* tool, const std::string& args) const;
    void start_window_manager(XDesktop desktop, int screen_h);

    bool tools_ = false;
    ScratchDir home_;  // the window manager's home: its settings and sockets stay here
    pid_t server_ = 0;
    pid_t window_manager_ = 0;
    std::string display_;
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

    // Waits until the game's window is shown and puts the pointer over it
    // (keys go to the window under the pointer), away from the top edge,
    // where the menu bar would open; false after timeout_seconds or when the
    // game has ended.
    bool wait_for_window(int timeout_seconds);
    // wait_for_window, then waits for the loading screen's start prompt and
    // presses Space; false when either wait runs out or the game ended.
    bool start(int timeout_seconds);
    // Reads the game's window until shown holds; false after timeout_seconds
    // or when the game has ended.
    bool wait_for_screen(int timeout_seconds, const std::function<bool(const WindowPixels&)>& shown);
    // True once the game has ended.
    bool ended();
    // For a failure message: "running" or how the game ended, where
    // wait_for_screen last saw its window, and its standard error.
    std::string state();
    // Sends SIGINT (a quit) and waits; the exit status, -1 if killed.
    int quit(int timeout_seconds);

private:
    const XSession& session_;
    std::string folder_;
    pid_t child_ = 0;
    std::string ending_;
    std::string last_seen_ = "never read";  // the window as wait_for_screen last read it
    int exit_status_ = -1;
};
