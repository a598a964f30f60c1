#include "platform.h"

#include <SDL.h>
#include <SDL_syswm.h>

void plat_window_client_size(SDL_Window* window, int* w, int* h)
{
    SDL_GetWindowSize(window, w, h);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    // The server's own record: a size the window manager refused never
    // reaches it, whatever SDL was last asked for.
    XWindowAttributes attributes;
    if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes)) {
        *w = attributes.width;
        *h = attributes.height;
    }
}
