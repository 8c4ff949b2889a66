#include "widget/x11_pointer_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace scopa {
namespace {

constexpr unsigned long kNoWindow = 0;

// The window's title: _NET_WM_NAME (UTF-8), else WM_NAME.
std::string TitleOf(Display* display, Window window) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom net_name = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, net_name, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    if (!title.empty()) return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

}  // namespace

bool X11PointerWindowTitle(std::string& title, bool& left_button_down) {
    title.clear();
    left_button_down = false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    Window root = DefaultRootWindow(display);
    Window root_return = 0;
    Window child = 0;
    int root_x = 0, root_y = 0, x = 0, y = 0;
    unsigned int mask = 0;
    bool found =
        XQueryPointer(display, root, &root_return, &child, &root_x, &root_y, &x, &y, &mask) != 0;
    left_button_down = (mask & Button1Mask) != 0;
    // The child of the root under the pointer is the outermost window (a window manager's
    // frame holds the client below it, so go down until a window has a title).
    for (Window window = found ? child : kNoWindow; window != kNoWindow && title.empty();) {
        title = TitleOf(display, window);
        if (!title.empty()) break;
        Window next = 0;
        if (XQueryPointer(display, window, &root_return, &next, &root_x, &root_y, &x, &y, &mask) ==
            0) {
            break;
        }
        window = next;
    }
    XCloseDisplay(display);
    return found;
}

}  // namespace scopa
