#include "platform.h"

#include <sys/stat.h>

#include <cerrno>

constexpr mode_t NEW_DIR_MODE = 0755;

bool plat_make_dir(const char* path)
{
    if (!path || !path[0])
        return false;
    if (mkdir(path, NEW_DIR_MODE) == 0)
        return true;
    struct stat info;
    return errno == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}
