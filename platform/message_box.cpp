#include "platform.h"

#include <SDL.h>

#include <cstdio>

static Uint32 sdl_box_flags(PlatBoxStyle style)
{
    switch (style) {
    case PLAT_BOX_INFORMATION: return SDL_MESSAGEBOX_INFORMATION;
    case PLAT_BOX_WARNING: return SDL_MESSAGEBOX_WARNING;
    case PLAT_BOX_ERROR: return SDL_MESSAGEBOX_ERROR;
    }
    return SDL_MESSAGEBOX_ERROR;
}

void plat_message_box(SDL_Window* owner, PlatBoxStyle style, const char* title, const char* text)
{
    fprintf(stderr, "%s: %s\n", title, text);
    fflush(stderr);
    // Without a display the box cannot be shown; standard error already has the text.
    SDL_ShowSimpleMessageBox(sdl_box_flags(style), title, text, owner);
}
