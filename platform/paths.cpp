#include "platform.h"

#include <SDL.h>

#include <cstring>

void plat_executable_dir(char* out, size_t capacity)
{
    if (!out || capacity == 0)
        return;
    out[0] = '\0';
    char* base = SDL_GetBasePath();
    if (!base)
        return;
    size_t len = strlen(base);
    if (len < capacity)
        memcpy(out, base, len + 1);
    SDL_free(base);
}
