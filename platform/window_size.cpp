#include "platform.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>

// The X server and window behind an SDL window; false on another video driver.
static bool x11_window(SDL_Window* window, Display** display, Window* xwindow)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    *display = info.info.x11.display;
    *xwindow = info.info.x11.window;
    return true;
}

void plat_window_client_rect(SDL_Window* window, int* x, int* y, int* w, int* h)
{
    SDL_GetWindowPosition(window, x, y);
    SDL_GetWindowSize(window, w, h);
    Display* display = nullptr;
    Window xwindow = 0, child = 0;
    if (!x11_window(window, &display, &xwindow))
        return;
    // The server's own record: a size the window manager refused never
    // reaches it, and a manager that moves only its frame tells SDL nothing.
    XWindowAttributes attributes;
    int root_x = 0, root_y = 0;
    if (!XGetWindowAttributes(display, xwindow, &attributes) ||
        !XTranslateCoordinates(display, xwindow, attributes.root, 0, 0, &root_x, &root_y, &child))
        return;
    *x = root_x;
    *y = root_y;
    *w = attributes.width;
    *h = attributes.height;
}

// SDL waits a tenth of a second for the answer to a size request and takes
// none as a refusal; a window manager on a busy machine may answer later.
constexpr uint32_t RESIZE_ANSWER_WAIT_MS = 1000;
constexpr uint32_t RESIZE_ANSWER_POLL_MS = 10;

// A connection of its own to the window's server that is told of its size
// changes: it sees the answer without taking events from SDL's queue. Null
// on other video drivers or when the server cannot be reached again.
static Display* watch_configures(SDL_Window* window, Window* xwindow)
{
    Display* display = nullptr;
    if (!x11_window(window, &display, xwindow))
        return nullptr;
    Display* watcher = XOpenDisplay(DisplayString(display));
    if (watcher) {
        XSelectInput(watcher, *xwindow, StructureNotifyMask);
        XSync(watcher, False);
    }
    return watcher;
}

void plat_window_request_size(SDL_Window* window, int w, int h)
{
    int now_x = 0, now_y = 0, now_w = 0, now_h = 0;
    plat_window_client_rect(window, &now_x, &now_y, &now_w, &now_h);
    // SDL raises a size below the window's minimum to it before asking.
    int min_w = 0, min_h = 0;
    SDL_GetWindowMinimumSize(window, &min_w, &min_h);
    w = w < min_w ? min_w : w;
    h = h < min_h ? min_h : h;
    Window xwindow = 0;
    // A request for the size the window has may get no answer at all.
    Display* watcher = now_w != w || now_h != h ? watch_configures(window, &xwindow) : nullptr;
    SDL_SetWindowSize(window, w, h);
    if (!watcher)
        return;
    XEvent answer;
    for (uint32_t waited = 0; waited < RESIZE_ANSWER_WAIT_MS &&
                              !XCheckTypedWindowEvent(watcher, xwindow, ConfigureNotify, &answer);
         waited += RESIZE_ANSWER_POLL_MS)
        SDL_Delay(RESIZE_ANSWER_POLL_MS);
    XCloseDisplay(watcher);
}

bool plat_window_is_framed(SDL_Window* window)
{
    Display* display = nullptr;
    Window xwindow = 0, root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!x11_window(window, &display, &xwindow) || !XQueryTree(display, xwindow, &root, &parent, &children, &count))
        return false;
    if (children)
        XFree(children);
    return parent != root;
}

bool plat_window_held_by_manager(SDL_Window* window)
{
    Display* display = nullptr;
    Window xwindow = 0;
    if (!x11_window(window, &display, &xwindow))
        return false;
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom held[] = {XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False),
                         XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                         XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)};
    // The manager lists a window's states as atoms; a handful is all it ever sets.
    constexpr long MAX_STATES = 64;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left_over = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, xwindow, state, 0, MAX_STATES, False, XA_ATOM, &type, &format, &count,
                           &left_over, &data) != Success || !data)
        return false;
    bool found = false;
    if (type == XA_ATOM && format == 32) {
        const Atom* states = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count && !found; i++)
            for (Atom one : held)
                found = found || states[i] == one;
    }
    XFree(data);
    return found;
}

bool plat_pointer_button_held(SDL_Window* window)
{
    Display* display = nullptr;
    Window xwindow = 0, root = 0, child = 0;
    int root_x = 0, root_y = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!x11_window(window, &display, &xwindow))
        return false;
    // The server answers with the pointer's state whoever has grabbed it.
    XQueryPointer(display, xwindow, &root, &child, &root_x, &root_y, &x, &y, &mask);
    return (mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask)) != 0;
}
