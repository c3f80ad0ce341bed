// The browser box: a child window that hosts the WebBrowser control on its whole client area.
#pragma once

#include <windows.h>

namespace helpdesk {

// Registers the box's window class once per process; false when that fails.
bool RegisterBrowserBoxClass(HINSTANCE instance);

// Creates a visible box in `parent`. Creating it creates the control, sets it up and starts
// loading `address`; loading goes on asynchronously. nullptr when the window cannot be made.
// Without the control (not installed) the box stays, empty.
HWND CreateBrowserBox(HWND parent, int x, int y, int width, int height, int id, const char* address);

// Offers a key message to the control of the box it is meant for, so the page gets the keys the
// control handles itself (Tab between links, clipboard shortcuts); true when the control used it.
bool TranslateBrowserKey(MSG* message);

}  // namespace helpdesk
