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

static XImage* read_named_window(Display* display, const std::string& title_part)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    XImage* image = nullptr;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && !image; i++) {
        XWindowAttributes attributes;
        char* title = nullptr;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
            XFetchName(display, children[i], &title) && title && strstr(title, title_part.c_str()))
            image = XGetImage(display, children[i], 0, 0, attributes.width, attributes.height,
                              AllPlanes, ZPixmap);
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
    if (XImage* image = read_named_window(display, title_part)) {
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
