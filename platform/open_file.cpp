#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// stat follows links, so a link to a file counts as the file and a link to a
// device as the device.
PlatFileKind plat_file_kind(const char* path)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return PLAT_FILE_MISSING;
    return S_ISREG(info.st_mode) ? PLAT_FILE_REGULAR : PLAT_FILE_OTHER;
}

FILE* plat_open_regular_file(const char* path)
{
    if (plat_file_kind(path) != PLAT_FILE_REGULAR)
        return nullptr;
    // The path may be swapped for a FIFO between the test and the open: the
    // open must not wait for a writer, and the file opened is tested again.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    FILE* file = regular ? fdopen(fd, "rb") : nullptr;
    if (!file)
        close(fd);
    return file;
}
