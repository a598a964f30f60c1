#include "x_pixels.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

// A window that goes between the lookup and the read raises an X error, which
// by default ends the process; here it only leaves the read empty.
static int ignore_error(Display*, XErrorEvent*)
{
    return 0;
}

// Searches below parent: a window manager puts each client into a frame of its own.
static XImage* read_named_window(Display* display, Window parent, const std::string& title_part,
                                 WindowPixels* where)
{
    Window root = 0, above = 0, *children = nullptr;
    unsigned int count = 0;
    XImage* image = nullptr;
    XQueryTree(display, parent, &root, &above, &children, &count);
    for (unsigned int i = 0; i < count && !image; i++) {
        XWindowAttributes attributes;
        char* title = nullptr;
        Window child = 0;
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        if (XFetchName(display, children[i], &title) && title && strstr(title, title_part.c_str())) {
            XTranslateCoordinates(display, children[i], root, 0, 0, &where->x, &where->y, &child);
            image = XGetImage(display, children[i], 0, 0, attributes.width, attributes.height,
                              AllPlanes, ZPixmap);
        } else {
            image = read_named_window(display, children[i], title_part, where);
        }
        if (title)
            XFree(title);
    }
    if (children)
        XFree(children);
    return image;
}

WindowPixels x_read_window(const std::string& display_name, const std::string& title_part)
{
    WindowPixels pixels;
    Display* display = XOpenDisplay(display_name.c_str());
    if (!display)
        return pixels;
    const XErrorHandler previous = XSetErrorHandler(ignore_error);
    if (XImage* image = read_named_window(display, DefaultRootWindow(display), title_part, &pixels)) {
        pixels.w = image->width;
        pixels.h = image->height;
        // The session's screen is 24-bit true colour: red, green, blue bytes.
        for (int y = 0; y < pixels.h; y++)
            for (int x = 0; x < pixels.w; x++)
                pixels.rgb.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return pixels;
}
