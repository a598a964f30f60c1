#include "x_session.h"

#include <stb_image.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int GAME_WIDTH = 640, GAME_HEIGHT = 400;
constexpr int SERVER_START_SECONDS = 30;
// The loading screen's start prompt: grey text on the row at 0.9 of the height.
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

Picture load_png(const std::string& path)
{
    Picture picture;
    int channels = 0;
    uint8_t* pixels = stbi_load(path.c_str(), &picture.w, &picture.h, &channels, 4);
    if (!pixels)
        return Picture{};
    picture.rgba.assign(pixels, pixels + static_cast<size_t>(picture.w) * picture.h * 4);
    stbi_image_free(pixels);
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

XSession::XSession()
{
    tools_ = command_exists("Xvfb") && command_exists("xdotool");
    int ready[2];
    if (!tools_ || pipe(ready) != 0)
        return;
    const std::string ready_fd = std::to_string(ready[1]);
    server_ = fork();
    if (server_ == 0) {
        close(ready[0]);
        // -displayfd: the server takes a display number no other server holds.
        // -noreset: by default the server resets when its last client leaves,
        // as xdotool does after every command, and drops a client that
        // connects meanwhile; the game then cannot open its display.
        execlp("Xvfb", "Xvfb", "-displayfd", ready_fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
               "1280x1024x24", "-fbdir", framebuffer_.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    display_ = read_display(ready[0]);
    close(ready[0]);
}

XSession::~XSession()
{
    if (server_ <= 0)
        return;
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
}

bool XSession::xdotool(const std::string& args) const
{
    const std::string command = "DISPLAY=" + display_ + " xdotool " + args + " > /dev/null 2>&1";
    return !display_.empty() && std::system(command.c_str()) == 0;
}

static uint32_t big_endian_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

Picture XSession::screen(int w, int h) const
{
    // -fbdir keeps the screen in this file as an XWD image: a header of
    // 32-bit big-endian fields, a colour map of 12-byte entries, then the
    // pixels, 32 bits each in the order blue, green, red, unused.
    enum { HEADER_SIZE = 0, WIDTH = 4, HEIGHT = 5, BITS_PER_PIXEL = 11, BYTES_PER_LINE = 12, COLOURS = 19 };
    std::ifstream in(framebuffer_.file("Xvfb_screen0"), std::ios::binary);
    uint8_t header[(COLOURS + 1) * 4];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header))
        return Picture{};
    auto field = [&](int index) { return big_endian_u32(header + index * 4); };
    if (field(BITS_PER_PIXEL) != 32 || field(WIDTH) < static_cast<uint32_t>(w) ||
        field(HEIGHT) < static_cast<uint32_t>(h))
        return Picture{};
    Picture picture{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h; y++) {
        in.seekg(field(HEADER_SIZE) + field(COLOURS) * 12 + static_cast<std::streamoff>(y) * field(BYTES_PER_LINE));
        if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size())))
            return Picture{};
        for (size_t x = 0; x < row.size(); x += 4) {
            uint8_t* out = &picture.rgba[static_cast<size_t>(y) * row.size() + x];
            out[0] = row[x + 2];
            out[1] = row[x + 1];
            out[2] = row[x];
            out[3] = 0xFF;
        }
    }
    return picture;
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

bool GameProcess::wait_for_screen(int timeout_seconds, const std::function<bool(const Picture&)>& shown)
{
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    while (!ended() && Clock::now() < deadline) {
        const Picture window = session_.screen(GAME_WIDTH, GAME_HEIGHT);
        if (!window.rgba.empty() && shown(window))
            return true;
        pause_ms(50);
    }
    return false;
}

bool GameProcess::start(int timeout_seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    // No window manager: the window stays where it is put, and keys go to the
    // window under the pointer, kept away from the top edge, where the menu
    // bar would open.
    while (!session_.xdotool("search --onlyvisible --name \"Kavrel Engine\" windowmove %1 0 0 "
                             "mousemove --window %1 600 200")) {
        if (ended() || Clock::now() >= deadline)
            return false;
        pause_ms(100);
    }
    // The loading screen drops keys until its prompt is up.
    return wait_for_screen(timeout_seconds, [](const Picture& window) {
               return window.count(PROMPT_GREY, 0, PROMPT_TOP, GAME_WIDTH, PROMPT_BOTTOM) >= PROMPT_MIN_PIXELS;
           }) && session_.xdotool("key space");
}

std::string GameProcess::state()
{
    const std::string errors = read_text_file(folder_ + "/stderr.txt");
    if (session_.display().empty())
        return "no X server came up";
    return (ended() ? ending_ : "running") + (errors.empty() ? "" : "; its standard error:\n" + errors);
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
