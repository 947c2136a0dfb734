#include "xkeys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace bench {
namespace {
Display* display = nullptr;
}

bool openXKeys()
{
    display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    return display && XTestQueryExtension(display, &event, &error, &major, &minor);
}

void closeXKeys()
{
    if (display)
        XCloseDisplay(display);
    display = nullptr;
}

void xKey(const char* name, bool down)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XStringToKeysym(name)), down ? True : False, 0);
    XFlush(display);
}

} // namespace bench
