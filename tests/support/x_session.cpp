#include "x_session.h"

#include "app.h"
#include "test_support.h"

#include <SDL.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

static bool command_exists(const char* name)
{
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

static void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

XSession::XSession()
{
    if (!command_exists("Xvfb") || !command_exists("xdotool"))
        return;
    // A display number of our own, so parallel tests never share a server.
    const int number = 100 + static_cast<int>(getpid() % 800);
    display_ = ":" + std::to_string(number);
    pid_t child = fork();
    if (child == 0) {
        execlp("Xvfb", "Xvfb", display_.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    server_ = child;
    for (int tries = 0; tries < 100; tries++) {
        if (xdotool("getmouselocation"))
            return;
        pause_ms(50);
    }
    kill(server_, SIGKILL);
    waitpid(server_, nullptr, 0);
    server_ = 0;
}

XSession::~XSession()
{
    if (!server_)
        return;
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
}

bool XSession::xdotool(const std::string& args) const
{
    const std::string command = "DISPLAY=" + display_ + " xdotool " + args + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool XSession::start_sdl_with_cursors() const
{
    SDL_Quit();
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return false;
    g_cursor_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    g_cursor_hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
    return g_cursor_arrow && g_cursor_hand;
}

GameProcess::GameProcess(const XSession& session, const std::string& folder) : session_(session)
{
    const std::string copy = folder + "/kavrel";
    fs::copy_file(KAVREL_BINARY, copy, fs::copy_options::overwrite_existing);
    child_ = fork();
    if (child_ == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        setenv("DISPLAY", session.display().c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // Under X the display and GL libraries, loaded and unloaded at run
        // time, leave allocations behind that LeakSanitizer cannot even name;
        // our own code's leaks are checked by the dummy-driver runs.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

GameProcess::~GameProcess()
{
    if (child_ > 0 && waitpid(child_, nullptr, WNOHANG) == 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
}

bool GameProcess::wait_for_window(int timeout_seconds)
{
    for (int waited = 0; waited < timeout_seconds * 20; waited++) {
        if (session_.xdotool("search --onlyvisible --name \"Kavrel Engine\""))
            return true;
        if (state() != "running")
            return false;
        pause_ms(50);
    }
    return false;
}

std::string GameProcess::state()
{
    if (child_ <= 0)
        return "ended earlier";
    int status = 0;
    if (waitpid(child_, &status, WNOHANG) != child_)
        return "running";
    child_ = 0;
    return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "killed by signal " + std::to_string(WTERMSIG(status));
}

int GameProcess::quit(int timeout_seconds)
{
    if (child_ <= 0)
        return -1;
    kill(child_, SIGINT);
    for (int waited = 0; waited < timeout_seconds * 100; waited++) {
        int status = 0;
        if (waitpid(child_, &status, WNOHANG) == child_) {
            child_ = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        pause_ms(10);
    }
    return -1;
}
