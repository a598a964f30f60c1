#include "platform.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

static bool ends_with(const char* name, size_t name_len, const char* suffix)
{
    const size_t suffix_len = strlen(suffix);
    return name_len >= suffix_len && memcmp(name + name_len - suffix_len, suffix, suffix_len) == 0;
}

bool plat_list_files(const char* folder, const char* prefix, const char* suffix,
                     PlatFileFn on_file, void* user)
{
    const std::string dir_path = folder[0] != '\0' ? folder : ".";
    DIR* dir = opendir(dir_path.c_str());
    if (!dir)
        return false;

    const size_t prefix_len = strlen(prefix);
    const size_t suffix_len = strlen(suffix);
    std::vector<std::string> names;
    while (const dirent* item = readdir(dir)) {
        const size_t name_len = strlen(item->d_name);
        // Prefix and suffix may not share characters, as with a "prefix*suffix" wildcard.
        if (name_len < prefix_len + suffix_len || strncmp(item->d_name, prefix, prefix_len) != 0 ||
            !ends_with(item->d_name, name_len, suffix))
            continue;
        // stat follows links, so a link to a file counts and a link to a folder does not.
        struct stat info;
        const std::string path = std::string(folder) + item->d_name;
        if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.push_back(item->d_name);
    }
    closedir(dir);

    // readdir's order depends on the file system; sorted, the menu is the same everywhere.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        on_file(name.c_str(), user);
    return true;
}
