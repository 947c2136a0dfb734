#pragma once

// Key presses through the X server's XTest extension, kept apart from Qt's headers (Xlib's macros
// clash with Qt's names).
namespace bench {
// False when there is no X server with XTest.
bool openXKeys();
void closeXKeys();
// A key by its X keysym name ("Return", "5").
void xKey(const char* name, bool down);
} // namespace bench
