#include "platform.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

// Each write's temporary is a file of its own beside the target, so two
// games writing one file never share one. The name is visible and says whose
// it is and that it may go: a player who finds "config.ini.kavrel-k3x9q2.tmp"
// after a crash knows what it was.
static const char TEMP_MARK[] = ".kavrel-";
static const char TEMP_SUFFIX[] = ".tmp";
static const char TEMP_LETTERS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t TEMP_RANDOM_LETTERS = 6;
// A name is taken only by another write or a crash's leftover; one of a few
// random ones is always free.
constexpr int TEMP_NAME_TRIES = 16;
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

// Opens target for writing as it is, never waiting on a FIFO; -1 for
// anything but a regular file this user may write.
static int open_existing(const std::string& target)
{
    const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

// Only what an open for writing would reach is written: nothing, or a
// regular file this user may write. A read-only file is the player's way of
// keeping it as it is. Fills exists, and old with the file found.
static bool may_replace(const std::string& target, bool* exists, struct stat* old)
{
    *exists = false;
    if (lstat(target.c_str(), old) != 0)
        return errno == ENOENT;
    if (!S_ISREG(old->st_mode))
        return false;
    const int fd = open_existing(target);
    if (fd < 0)
        return false;
    close(fd);
    *exists = true;
    return true;
}

// A new file at an unused name beside target, made exclusively: nothing
// already there is opened, followed, waited on or removed. -1 with errno set
// when none can be made.
static int create_temporary(const std::string& target, std::string* temp)
{
    for (int attempt = 0; attempt < TEMP_NAME_TRIES; attempt++) {
        unsigned char random[TEMP_RANDOM_LETTERS];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        *temp = target + TEMP_MARK;
        for (unsigned char byte : random)
            *temp += TEMP_LETTERS[byte % (sizeof TEMP_LETTERS - 1)];
        *temp += TEMP_SUFFIX;
        const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                            NEW_FILE_MODE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives the new file the old one's owner, group and permissions. False when
// this user may not give them back (only root may give a file away).
static bool take_owner_and_mode(int fd, const struct stat& old)
{
    struct stat made;
    if (fstat(fd, &made) != 0)
        return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    // A file system without permissions refuses this; the new file is sound without it.
    fchmod(fd, old.st_mode & PERMISSION_BITS);
    return true;
}

// Fills the file open at fd through write, flushes it to the disk and closes it.
static bool write_to_disk(int fd, PlatWriteFn write, void* user)
{
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        return false;
    }
    bool ok = write(file, user);
    ok = fflush(file) == 0 && !ferror(file) && ok;
    // Without this a rename can reach the disk before the data does, and a
    // power cut leaves an empty file where the old one was.
    ok = ok && fsync(fileno(file)) == 0;
    return fclose(file) == 0 && ok;
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

// Fills the new file and renames it over target; it goes again when any step fails.
static bool write_through_temporary(int fd, const std::string& temp, const std::string& target, PlatWriteFn write,
                                    void* user)
{
    if (!write_to_disk(fd, write, user) || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return sync_folder(target);
}

// Empties the file and fills it where it is, as opening it for writing does:
// it keeps its owner, permissions and every name it has, but a crash midway
// leaves it cut short. Used only where a new file could not keep those.
static bool write_in_place(const std::string& target, PlatWriteFn write, void* user)
{
    const int fd = open_existing(target);
    if (fd < 0)
        return false;
    if (ftruncate(fd, 0) != 0) {
        close(fd);
        return false;
    }
    return write_to_disk(fd, write, user);
}

bool plat_replace_file(const char* path, PlatWriteFn write, void* user)
{
    const std::string target = link_target(path);
    bool exists = false;
    struct stat old;
    if (target.empty() || !may_replace(target, &exists, &old))
        return false;
    // A new file under the name would part it from its other names.
    if (exists && old.st_nlink != 1)
        return write_in_place(target, write, user);
    std::string temp;
    const int fd = create_temporary(target, &temp);
    if (fd < 0) {
        // A folder this user may not write, or a name too long to take the
        // mark, can still hold a file they may write.
        const bool no_temporary_here = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
        return exists && no_temporary_here && write_in_place(target, write, user);
    }
    if (exists && !take_owner_and_mode(fd, old)) {
        close(fd);
        unlink(temp.c_str());
        return write_in_place(target, write, user);
    }
    return write_through_temporary(fd, temp, target, write, user);
}
