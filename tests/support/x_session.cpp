#include "x_session.h"

#include "app.h"
#include "test_support.h"

#include <SDL.h>
#include <stb_image.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* GAME_TITLE = "Kavrel Engine";
constexpr int SERVER_START_SECONDS = 30;
// The loading screen's start prompt: grey text on the row at 0.9 of the
// 640x400 screen's height, scaled with the window.
constexpr uint32_t PROMPT_GREY = 0x999999;
constexpr int PROMPT_TOP = 360, PROMPT_BOTTOM = 376, PROMPT_MIN_PIXELS = 100;

static bool command_exists(const char* name)
{
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

static void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

WindowPixels load_png_pixels(const std::string& path)
{
    WindowPixels picture;
    int channels = 0;
    uint8_t* rgb = stbi_load(path.c_str(), &picture.w, &picture.h, &channels, 3);
    if (!rgb)
        return WindowPixels{};
    for (int i = 0; i < picture.w * picture.h; i++)
        picture.rgb.push_back(static_cast<uint32_t>(rgb[i * 3]) << 16 | rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2]);
    stbi_image_free(rgb);
    return picture;
}

// The display name Xvfb writes to fd once it accepts clients; empty when it
// writes none in time.
static std::string read_display(int fd)
{
    std::string number;
    char c = 0;
    pollfd ready = {fd, POLLIN, 0};
    while (poll(&ready, 1, SERVER_START_SECONDS * 1000) == 1 && read(fd, &c, 1) == 1 && c != '\n')
        number += c;
    return c == '\n' && !number.empty() ? ":" + number : "";
}

const char* x_desktop_name(XDesktop desktop)
{
    constexpr const char* NAMES[] = {"bare", "openbox", "icewm", "i3", "xfwm4", "herbstluftwm"};
    return NAMES[desktop];
}

XSession::XSession(XDesktop desktop, int screen_w, int screen_h)
{
    tools_ = command_exists("Xvfb") && command_exists("xdotool") &&
             (desktop == X_BARE || (command_exists(x_desktop_name(desktop)) && command_exists("wmctrl"))) &&
             (desktop != X_XFWM4 || command_exists("dbus-run-session"));
    int ready[2];
    if (!tools_ || pipe(ready) != 0)
        return;
    const std::string ready_fd = std::to_string(ready[1]);
    const std::string screen = std::to_string(screen_w) + "x" + std::to_string(screen_h) + "x24";
    server_ = fork();
    if (server_ == 0) {
        close(ready[0]);
        // -displayfd: the server takes a display number no other server holds.
        // -noreset: by default the server resets when its last client leaves,
        // as xdotool and every read of the window do, and drops a client that
        // connects meanwhile; the game then cannot open its display.
        execlp("Xvfb", "Xvfb", "-displayfd", ready_fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
               screen.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    display_ = read_display(ready[0]);
    close(ready[0]);
    if (desktop != X_BARE && !display_.empty())
        start_window_manager(desktop, screen_h);
}

// Returns once the window manager has taken the screen over, so that the
// game's window is managed from its first map.
void XSession::start_window_manager(XDesktop desktop, int screen_h)
{
    // Without a configuration file of its own, i3 starts its set-up wizard.
    const std::string i3_config = home_.file("i3.conf");
    write_text_file(i3_config, "# i3 config file (v4)\n");
    // herbstluftwm's own start-up script would start a panel. This one places
    // new windows where there is room, as that script does, and frames them
    // with a title bar, so that the frame's top and left edges differ.
    const std::string herbst_autostart = home_.file("autostart");
    write_text_file(herbst_autostart, "#!/bin/sh\nherbstclient rule focus=on\n"
                                      "herbstclient rule floatplacement=smart\n"
                                      "herbstclient attr theme.title_height 18\n"
                                      "herbstclient attr theme.border_width 3\n");
    chmod(herbst_autostart.c_str(), 0755);
    window_manager_ = fork();
    if (window_manager_ == 0) {
        // A group of its own, so that xfwm4's session bus and settings daemon end with it.
        setpgid(0, 0);
        setenv("DISPLAY", display_.c_str(), 1);
        for (const char* folder : {"HOME", "XDG_RUNTIME_DIR"})
            setenv(folder, home_.path().c_str(), 1);
        // They complain of missing menu and theme files, which no test needs.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        // xfwm4 keeps its settings in a daemon that it reaches over a session bus.
        const char* const commands[][5] = {{}, {"openbox", "--sm-disable"}, {"icewm"}, {"i3", "-c", i3_config.c_str()},
                                           {"dbus-run-session", "--", "xfwm4", "--compositor=off"},
                                           {"herbstluftwm", "-c", herbst_autostart.c_str()}};
        execvp(commands[desktop][0], const_cast<char* const*>(commands[desktop]));
        _exit(127);
    }
    // icewm's taskbar takes its part of the screen a moment after the manager is up.
    const auto settled = [&] { return wmctrl("-m") && (desktop != X_ICEWM || x_work_area(display_).h < screen_h); };
    const auto deadline = Clock::now() + std::chrono::seconds(SERVER_START_SECONDS);
    while (!settled() && Clock::now() < deadline)
        pause_ms(50);
}

XSession::~XSession()
{
    for (pid_t child : {window_manager_, server_}) {
        if (child <= 0)
            continue;
        kill(child == window_manager_ ? -child : child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
}

bool XSession::run(const char* tool, const std::string& args) const
{
    const std::string command = "DISPLAY=" + display_ + " " + tool + " " + args + " > /dev/null 2>&1";
    return !display_.empty() && std::system(command.c_str()) == 0;
}

bool XSession::xdotool(const std::string& args) const
{
    return run("xdotool", args);
}

bool XSession::wmctrl(const std::string& args) const
{
    return run("wmctrl", args);
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

GameProcess::GameProcess(const XSession& session, const std::string& folder) : session_(session), folder_(folder)
{
    const std::string copy = folder + "/kavrel";
    fs::copy_file(KAVREL_BINARY, copy, fs::copy_options::overwrite_existing);
    child_ = fork();
    if (child_ == 0) {
        const int err = open((folder + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(folder.c_str()) != 0 || err < 0 || dup2(err, STDERR_FILENO) < 0)
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
    if (!ended()) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
}

// Reaps the game once it has ended and keeps how it ended.
bool GameProcess::ended()
{
    int status = 0;
    if (child_ > 0 && waitpid(child_, &status, WNOHANG) == child_) {
        child_ = 0;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ending_ = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                    : "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return child_ <= 0;
}

bool GameProcess::wait_for_screen(int timeout_seconds, const std::function<bool(const WindowPixels&)>& shown)
{
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    while (!ended() && Clock::now() < deadline) {
        const WindowPixels window = x_read_window(session_.display(), GAME_TITLE);
        last_seen_ = window.w == 0 ? "unreadable (not shown, or partly off the screen)"
                                   : std::to_string(window.w) + "x" + std::to_string(window.h) + " at " +
                                         std::to_string(window.x) + "," + std::to_string(window.y) +
                                         (window.focused ? "" : " without the focus");
        if (window.w > 0 && shown(window))
            return true;
        pause_ms(50);
    }
    return false;
}

bool GameProcess::wait_for_window(int timeout_seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    while (!session_.xdotool(std::string("search --onlyvisible --name \"") + GAME_TITLE +
                             "\" mousemove --window %1 600 200")) {
        if (ended() || Clock::now() >= deadline)
            return false;
        pause_ms(100);
    }
    return true;
}

bool GameProcess::start(int timeout_seconds)
{
    // The loading screen drops keys until its prompt is up, and a key typed
    // before the window has the focus goes to another window.
    return wait_for_window(timeout_seconds) && wait_for_screen(timeout_seconds, [](const WindowPixels& window) {
               int grey = 0;
               for (int y = PROMPT_TOP * window.h / 400; y < PROMPT_BOTTOM * window.h / 400; y++)
                   for (int x = 0; x < window.w; x++)
                       grey += window.at(x, y) == PROMPT_GREY;
               return window.focused && grey >= PROMPT_MIN_PIXELS;
           }) && session_.xdotool("key space");
}

std::string GameProcess::state()
{
    const std::string errors = read_text_file(folder_ + "/stderr.txt");
    if (session_.display().empty())
        return "no X server came up";
    return (ended() ? ending_ : "running") + ", window " + last_seen_ + (errors.empty() ? "" : "; stderr:\n" + errors);
}

int GameProcess::quit(int timeout_seconds)
{
    if (ended())
        return -1;
    kill(child_, SIGINT);
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    while (!ended() && Clock::now() < deadline)
        pause_ms(10);
    return ended() ? exit_status_ : -1;
}
