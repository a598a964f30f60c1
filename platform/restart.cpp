#include "platform.h"

#include <spawn.h>

#include <climits>
#include <unistd.h>

extern char** environ;

bool plat_restart_self()
{
    char path[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", path, sizeof path - 1);
    if (len <= 0)
        return false;
    path[len] = '\0';

    char* argv[] = {path, nullptr};
    pid_t child;
    return posix_spawn(&child, path, nullptr, nullptr, argv, environ) == 0;
}
