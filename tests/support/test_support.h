// Helpers shared by the test programs: scratch folders, files, and running
// the real kavrel binary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh empty folder under the system's temporary folder, removed with its
// contents when the object goes. While it lives, the process's working
// directory can be moved into it with enter(); the old one comes back on exit.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }
    void enter();

private:
    std::string path_;
    std::string previous_cwd_;
};

// config.ini as the engine writes it when none is found.
extern const char DEFAULT_CONFIG_INI[];

// Writes bytes to a file, creating its parent folders.
void write_file(const std::string& path, const Bytes& bytes);
void write_text_file(const std::string& path, const std::string& text);
// Whole file, or an empty vector when it cannot be read.
Bytes read_file(const std::string& path);
std::string read_text_file(const std::string& path);
bool file_exists(const std::string& path);

struct ProgramResult {
    int exit_status;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs the built kavrel in the given folder with SDL's dummy drivers and no
// display. A game that reaches its main loop runs until it is interrupted:
// with interrupt_after_ms set, it gets SIGINT (a quit, for SDL) after that
// long. It is killed when it has not ended after timeout_seconds.
ProgramResult run_kavrel(const std::string& folder, int timeout_seconds = 20,
                         int interrupt_after_ms = -1);

// Starts the process's memory peak again from what it holds now and returns
// that, in kB: the base against which resident_peak_kb is read.
long resident_peak_restart_kb();
// The most memory the process has held since the peak last restarted, in kB.
long resident_peak_kb();
// A FIFO at path, its parent folders made first.
void make_fifo(const std::string& path);

// While one lives, a call that blocks for ever ends the test program with
// SIGALRM: the test fails instead of hanging the suite.
struct Watchdog {
    Watchdog();
    ~Watchdog();
};

// Runs action in a forked child; as a PLAYER, as a user who is not root (nobody,
// when the tests run as root), so that file permissions hold as they do for a
// player: what the child must reach has to be open to that user. The child's
// exit status (action's result), or -1 when it did not end normally.
enum class ChildUser { SAME, PLAYER };
int run_in_child(const std::function<int()>& action, ChildUser user = ChildUser::SAME);
