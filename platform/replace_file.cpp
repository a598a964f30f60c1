#include "platform.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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

static std::string folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Opens path for writing as fopen(path, "wb") does, so that the system makes
// every check it makes there (a link is followed under its guard on links in
// shared folders, a missing file is created where that open would create it),
// but never empties it and never waits on a FIFO. -1 for anything but a
// regular file, which is not even opened when it can be told beforehand.
static int open_as_plain_open(const char* path, int flags)
{
    struct stat seen;
    if (stat(path, &seen) == 0 && !S_ISREG(seen.st_mode))
        return -1;
    const int fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags, NEW_FILE_MODE);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

// A temporary in an append-only folder could be neither renamed nor removed.
static bool folder_is_append_only(const char* path)
{
    struct statx folder;
    return statx(AT_FDCWD, folder_of(path).c_str(), 0, STATX_TYPE, &folder) == 0 &&
           (folder.stx_attributes & STATX_ATTR_APPEND) != 0;
}

// Whether a new file renamed over path can keep all that the old one has,
// as far as can be told before one is made (old is null for a missing file).
// A link is left to the system's own open; a second name would be parted
// from the new file, while a count of 0 is a file another writer is renaming
// over, which a rename replaces as well.
static bool may_replace_whole(const char* path, const struct stat* old)
{
    return !folder_is_append_only(path) && (!old || (S_ISREG(old->st_mode) && old->st_nlink <= 1));
}

// What the file system refuses to a temporary or a rename where an open of
// the file itself can still be allowed: a mount point, a read-only or
// unwritable folder, a name too long to take the mark. A full or failing
// disk is no such refusal.
static bool refused_by_file_system(int error)
{
    return error == EBUSY || error == EXDEV || error == EROFS || error == EPERM || error == EACCES ||
           error == ENAMETOOLONG;
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

// The extended attributes of the file open at fd, ACLs among them, by name.
// False when they cannot all be read.
static bool attributes_of(int fd, std::map<std::string, std::string>* attributes)
{
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    std::vector<char> names(static_cast<size_t>(size));
    if (flistxattr(fd, names.data(), names.size()) != size)
        return false;
    // Each name ends with a zero; one that does not is read no further than the list.
    for (size_t at = 0; at < names.size();) {
        const std::string name(&names[at], strnlen(&names[at], names.size() - at));
        at += name.size() + 1;
        const ssize_t length = fgetxattr(fd, name.c_str(), nullptr, 0);
        std::string value(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length < 0 || fgetxattr(fd, name.c_str(), &value[0], value.size()) != length)
            return false;
        (*attributes)[name] = value;
    }
    return true;
}

// Whether the new file carries exactly the old one's attributes: an ACL or
// a label it lacks would be lost, one it gained could widen who may read it.
static bool same_attributes(int old_fd, int new_fd)
{
    std::map<std::string, std::string> old_attributes, new_attributes;
    return attributes_of(old_fd, &old_attributes) && attributes_of(new_fd, &new_attributes) &&
           old_attributes == new_attributes;
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

// Syncs the folder holding path, so that a rename into it survives a power
// cut. A folder this user may write but not read cannot be opened for it:
// the rename is then as safe as they can make it.
static bool sync_folder(const std::string& path)
{
    const int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES;
    // EINVAL: a file system that cannot sync folders; the rename is as safe as it gets there.
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return synced;
}

// Empties the file and fills it where it is, as opening it for writing does:
// it keeps its owner, permissions, attributes and every name it has, but a
// crash midway leaves it cut short.
static bool write_in_place(const char* path, PlatWriteFn write, void* user)
{
    const int fd = open_as_plain_open(path, 0);
    if (fd < 0)
        return false;
    if (ftruncate(fd, 0) != 0) {
        close(fd);
        return false;
    }
    return write_to_disk(fd, write, user);
}

// Fills a new file beside path and renames it over the old one (old_fd open
// on it, or -1 when there is none). Wherever the new file could not keep what
// the old one has, or the file system refuses the temporary or the rename,
// the file is written in place instead; the temporary never stays.
static bool replace_whole(const char* path, int old_fd, const struct stat& old, PlatWriteFn write, void* user)
{
    std::string temp;
    const int fd = create_temporary(path, &temp);
    if (fd < 0)
        return refused_by_file_system(errno) && write_in_place(path, write, user);
    if (old_fd >= 0 && !(take_owner_and_mode(fd, old) && same_attributes(old_fd, fd))) {
        close(fd);
        unlink(temp.c_str());
        return write_in_place(path, write, user);
    }
    if (!write_to_disk(fd, write, user)) {
        unlink(temp.c_str());
        return false;
    }
    if (rename(temp.c_str(), path) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        return refused_by_file_system(error) && write_in_place(path, write, user);
    }
    return sync_folder(path);
}

bool plat_replace_file(const char* path, PlatWriteFn write, void* user)
{
    // Nothing has an empty name: its temporary would land in the working directory.
    if (!path || !path[0])
        return false;
    struct stat old = {};
    const bool exists = lstat(path, &old) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (!may_replace_whole(path, exists ? &old : nullptr))
        return write_in_place(path, write, user);
    // Only a file an open for writing would reach is replaced: a read-only
    // one is the player's way of keeping it as it is.
    const int old_fd = exists ? open_as_plain_open(path, O_NOFOLLOW) : -1;
    if (exists && old_fd < 0)
        return false;
    const bool written = replace_whole(path, old_fd, old, write, user);
    if (old_fd >= 0)
        close(old_fd);
    return written;
}
