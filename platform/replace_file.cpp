#include "platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

// One fixed name per target: a temporary left by a killed write is emptied
// and reused by the next write of the same file, so they never pile up.
static const char TEMP_SUFFIX[] = ".tmp";

// Syncs the folder holding path, so that a rename into it survives a power cut.
static bool sync_folder(const char* path)
{
    const std::string whole = path;
    const size_t slash = whole.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : whole.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // EINVAL: a file system that cannot sync folders; the rename is as safe as it gets there.
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return synced;
}

bool plat_replace_file(const char* path, PlatWriteFn write, void* user)
{
    const std::string temp = std::string(path) + TEMP_SUFFIX;
    FILE* file = fopen(temp.c_str(), "wb");
    if (!file)
        return false;
    bool ok = write(file, user);
    ok = fflush(file) == 0 && !ferror(file) && ok;
    // Without this the rename can reach the disk before the data does, and a
    // power cut leaves an empty file where the old one was.
    ok = ok && fsync(fileno(file)) == 0;
    ok = fclose(file) == 0 && ok;
    if (!ok || rename(temp.c_str(), path) != 0) {
        remove(temp.c_str());
        return false;
    }
    return sync_folder(path);
}
