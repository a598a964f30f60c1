#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

// One fixed name per target: a temporary left by a killed write is removed
// and made afresh by the next write of the same file, so they never pile up.
static const char TEMP_SUFFIX[] = ".tmp";
// Before the umask, as fopen makes a new file.
constexpr mode_t NEW_FILE_MODE = 0666;
constexpr mode_t PERMISSION_BITS = 0777;
// As many links as the kernel follows in one path before it gives up.
constexpr int MAX_LINK_HOPS = 40;

static std::string folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Where a chain of links starting at path ends: a linked file is written
// where the link leads, and the link itself stays. Empty for a chain that
// never ends or cannot be read.
static std::string link_target(const char* path)
{
    std::string target = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; hop++) {
        struct stat info;
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return target;
        char link[PATH_MAX];
        const ssize_t length = readlink(target.c_str(), link, sizeof link);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof link)
            return std::string();
        const std::string next(link, static_cast<size_t>(length));
        target = next[0] == '/' ? next : folder_of(target) + "/" + next;
    }
    return std::string();
}

// Only what an open for writing would reach is replaced: nothing, or a
// regular file this user may write. A read-only file is the player's way of
// keeping it as it is. The open truncates nothing and never waits on a FIFO.
// Fills exists, and mode with the old file's permissions, which the new one keeps.
static bool may_replace(const std::string& target, bool* exists, mode_t* mode)
{
    *exists = false;
    struct stat info;
    if (lstat(target.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISREG(info.st_mode))
        return false;
    const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    *exists = true;
    *mode = info.st_mode & PERMISSION_BITS;
    return true;
}

// The temporary is the writer's own: whatever is at its name (a file a
// killed write left, a link, a FIFO) is removed and a new file made
// exclusively, so a write never goes through a link or waits on a FIFO. A
// folder at the name stays, and the write fails.
static FILE* create_temporary(const std::string& temp)
{
    unlink(temp.c_str());
    const int fd =
        open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, NEW_FILE_MODE);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (!file)
        close(fd);
    return file;
}

// Syncs the folder holding path, so that a rename into it survives a power cut.
static bool sync_folder(const std::string& path)
{
    const int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // EINVAL: a file system that cannot sync folders; the rename is as safe as it gets there.
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return synced;
}

bool plat_replace_file(const char* path, PlatWriteFn write, void* user)
{
    const std::string target = link_target(path);
    bool replaces_old = false;
    mode_t old_mode = 0;
    if (target.empty() || !may_replace(target, &replaces_old, &old_mode))
        return false;
    const std::string temp = target + TEMP_SUFFIX;
    FILE* file = create_temporary(temp);
    if (!file)
        return false;
    // A file system without permissions refuses this; the new file is sound without it.
    if (replaces_old)
        fchmod(fileno(file), old_mode);
    bool ok = write(file, user);
    ok = fflush(file) == 0 && !ferror(file) && ok;
    // Without this the rename can reach the disk before the data does, and a
    // power cut leaves an empty file where the old one was.
    ok = ok && fsync(fileno(file)) == 0;
    ok = fclose(file) == 0 && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return sync_folder(target);
}
