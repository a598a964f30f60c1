// A private X server (Xvfb) and the real game running on it, for
// whole-program tests that need a real window and real keys and clicks
// (sent with xdotool).
#pragma once

#include <string>
#include <sys/types.h>

class XSession {
public:
    XSession();  // starts Xvfb on a free display number
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // False when Xvfb or xdotool is missing or the server did not come up.
    bool available() const { return server_ != 0; }
    const std::string& display() const { return display_; }

    // Runs xdotool with these arguments on this display; true on status 0.
    bool xdotool(const std::string& args) const;

    // In a child process of the test: restarts SDL's video on this display and
    // makes the game's arrow and hand cursors, which only a real display has.
    // False when either fails.
    bool start_sdl_with_cursors() const;

private:
    pid_t server_ = 0;
    std::string display_;
};

// The built kavrel, copied into folder (so its screenshots land there) and
// started there on the session's display with the dummy audio driver.
class GameProcess {
public:
    GameProcess(const XSession& session, const std::string& folder);
    ~GameProcess();
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    // Waits until the game's window is mapped; false after timeout_seconds
    // or when the game has ended.
    bool wait_for_window(int timeout_seconds);
    // How the game ended, for a failure message: "running" or its exit status.
    std::string state();
    // Sends SIGINT (a quit) and waits; the exit status, -1 if killed.
    int quit(int timeout_seconds);

private:
    const XSession& session_;
    pid_t child_ = 0;
};
