#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char DEFAULT_CONFIG_INI[] =
    "; Kavrel Engine Configuration\n"
    "scale_to_screen=0\n"
    "use_hd_graphics=0\n"
    "use_scanlines=0\n"
    "use_antialiasing=0\n"
    "mute_audio=0\n"
    "game_speed=1\n"
    "window_x=-1\n"
    "window_y=-1\n"
    "window_w=-1\n"
    "window_h=-1\n"
    "script_lang=\n";

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "kavrel-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        ADD_FAILURE() << "cannot make a scratch folder";
    path_ = buffer.data();
}

ScratchDir::~ScratchDir()
{
    if (!previous_cwd_.empty())
        fs::current_path(previous_cwd_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchDir::enter()
{
    if (previous_cwd_.empty())
        previous_cwd_ = fs::current_path().string();
    fs::current_path(path_);
}

void write_file(const std::string& path, const Bytes& bytes)
{
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text_file(const std::string& path, const std::string& text)
{
    write_file(path, Bytes(text.begin(), text.end()));
}

Bytes read_file(const std::string& path)
{
    // Reads the length found on opening, in one piece: a file that another
    // thread keeps writing (the disk audio driver's) is never chased.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

std::string read_text_file(const std::string& path)
{
    Bytes bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

bool file_exists(const std::string& path)
{
    return fs::exists(path);
}

static int wait_with_timeout(pid_t child, int timeout_seconds, int interrupt_after_ms)
{
    for (int waited_ms = 0; waited_ms < timeout_seconds * 1000; waited_ms += 10) {
        if (waited_ms == interrupt_after_ms)
            kill(child, SIGINT);
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(10 * 1000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

ProgramResult run_kavrel(const std::string& folder, int timeout_seconds, int interrupt_after_ms)
{
    std::string out_path = folder + "/.kavrel-stdout";
    std::string err_path = folder + "/.kavrel-stderr";

    pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        execl(KAVREL_BINARY, KAVREL_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }

    ProgramResult result;
    result.exit_status = wait_with_timeout(child, timeout_seconds, interrupt_after_ms);
    result.out = read_text_file(out_path);
    result.err = read_text_file(err_path);
    return result;
}

long resident_peak_kb()
{
    std::ifstream status("/proc/self/status");
    long peak = -1;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            peak = std::stol(line.substr(6));
    }
    return peak;
}

long resident_peak_restart_kb()
{
    std::ofstream("/proc/self/clear_refs") << "5";  // the kernel's reset of that peak
    return resident_peak_kb();
}

void make_fifo(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
}

constexpr unsigned WATCHDOG_SECONDS = 30;
Watchdog::Watchdog() { alarm(WATCHDOG_SECONDS); }
Watchdog::~Watchdog() { alarm(0); }

constexpr uid_t NOBODY = 65534;
constexpr int NO_PLAYER_USER = 126;

int run_in_child(const std::function<int()>& action, ChildUser user)
{
    const pid_t child = fork();
    if (child == 0) {
        const bool becomes_player = user == ChildUser::PLAYER && geteuid() == 0;
        if (becomes_player && (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
            _exit(NO_PLAYER_USER);
        _exit(action());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
