// config.ini text through the stream reader and the validator.
#include "config.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!stream)
        return 0;
    cfg_read_stream(stream);
    fclose(stream);
    cfg_validate();

    bool flags_ok = g_config.use_hd_graphics <= 1 && g_config.scale_to_screen <= 1 &&
                    g_config.use_scanlines <= 1 && g_config.use_antialiasing <= 1 &&
                    g_config.mute_audio <= 1;
    bool speed_ok = g_config.game_speed >= 0 && g_config.game_speed <= 3;
    bool lang_ok = memchr(g_config.script_lang, '\0', CFG_LANG_CAPACITY) != nullptr;
    bool antialias_ok = !g_config.use_antialiasing || g_config.use_hd_graphics;
    if (!flags_ok || !speed_ok || !lang_ok || !antialias_ok)
        __builtin_trap();
    return 0;
}
