#include "x_pixels.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstring>

// A window that goes between the lookup and the read raises an X error, which
// by default ends the process; here it only leaves the read empty.
static int ignore_error(Display*, XErrorEvent*)
{
    return 0;
}

// Searches below parent: a window manager puts each client into a frame of its
// own, the child of the root that holds it.
static XImage* read_named_window(Display* display, Window parent, const std::string& title_part,
                                 WindowPixels* where)
{
    const bool top_level = parent == DefaultRootWindow(display);
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
        if (top_level)
            where->frame_y = attributes.y;
        if (XFetchName(display, children[i], &title) && title && strstr(title, title_part.c_str())) {
            XTranslateCoordinates(display, children[i], root, 0, 0, &where->x, &where->y, &child);
            where->id = children[i];
            XSizeHints hints;
            long supplied = 0;
            if (XGetWMNormalHints(display, children[i], &hints, &supplied) && (hints.flags & PMinSize)) {
                where->min_w = hints.min_width;
                where->min_h = hints.min_height;
            }
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
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        pixels.focused = focus == pixels.id || focus == PointerRoot;
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

int x_count_made_up_configures(const std::string& display_name, const std::string& title_part,
                               const std::function<void()>& during)
{
    const unsigned long id = x_read_window(display_name, title_part).id;
    Display* display = id ? XOpenDisplay(display_name.c_str()) : nullptr;
    if (!display)
        return -1;
    XSelectInput(display, id, StructureNotifyMask);
    XSync(display, False);
    during();
    XSync(display, False);
    int count = 0;
    for (XEvent event; XCheckTypedWindowEvent(display, id, ConfigureNotify, &event);)
        count += event.xconfigure.send_event;
    XCloseDisplay(display);
    return count;
}

ScreenRect x_work_area(const std::string& display_name)
{
    Display* display = XOpenDisplay(display_name.c_str());
    if (!display)
        return {};
    const int screen = DefaultScreen(display);
    ScreenRect area = {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left_over = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_WORKAREA", False), 0, 4,
                           False, XA_CARDINAL, &type, &format, &count, &left_over, &data) == Success &&
        data && format == 32 && count == 4) {
        const long* values = reinterpret_cast<const long*>(data);
        area = {static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2]),
                static_cast<int>(values[3])};
    }
    if (data)
        XFree(data);
    XCloseDisplay(display);
    return area;
}
