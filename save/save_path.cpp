// Where the save files live: sav/ beside the executable, one file per slot,
// language and mode.
#include <cstdio>
#include <cstring>

#include "config.h"
#include "platform.h"
#include "save.h"
#include "save_private.h"

static const char SAVE_FOLDER_NAME[] = "sav/";

static char g_save_dir[SAVE_PATH_CAPACITY];

void save_set_folder(const char* folder)
{
    snprintf(g_save_dir, sizeof g_save_dir, "%s", folder);
    // A folder that cannot be made shows up as every later open failing.
    plat_make_dir(g_save_dir);
}

// The file names go under the save folder, beside the executable, or
// nowhere: out is left empty, so that the slot reads as empty and a save
// fails, when the folder is too long for a path.
void save_build_path(uint32_t slot, char* out, size_t out_size)
{
    if (!out || out_size == 0)
        return;
    out[0] = '\0';
    if (!g_save_dir[0]) {
        char exe_dir[SAVE_PATH_CAPACITY];
        if (!plat_executable_dir(exe_dir, sizeof exe_dir))
            return;
        char folder[SAVE_PATH_CAPACITY];
        const int length = snprintf(folder, sizeof folder, "%s%s", exe_dir, SAVE_FOLDER_NAME);
        if (length < 0 || static_cast<size_t>(length) >= sizeof folder)
            return;
        save_set_folder(folder);
    }
    const unsigned number = slot + 1;
    const char* mode = g_config.use_hd_graphics ? "hd" : "sd";
    int length;
    if (g_config.script_lang[0])
        length = snprintf(out, out_size, "%ssave_%s_%s_%02u.dat", g_save_dir, g_config.script_lang, mode, number);
    else if (g_config.use_hd_graphics)
        length = snprintf(out, out_size, "%ssave_hd_%02u.dat", g_save_dir, number);
    else
        length = snprintf(out, out_size, "%ssave_%02u.dat", g_save_dir, number);
    // A cut name would be another file's.
    if (length < 0 || static_cast<size_t>(length) >= out_size)
        out[0] = '\0';
}
