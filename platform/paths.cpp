#include "platform.h"

#include <SDL.h>

#include <cstring>

bool plat_executable_dir(char* out, size_t capacity)
{
    if (!out || capacity == 0)
        return false;
    out[0] = '\0';
    char* base = SDL_GetBasePath();
    if (!base)
        return true;
    const size_t len = strlen(base);
    const bool fits = len < capacity;
    if (fits)
        memcpy(out, base, len + 1);
    SDL_free(base);
    return fits;
}
