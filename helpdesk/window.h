#pragma once

#include <windows.h>

#include <string>

namespace helpdesk {

// Registers the class and builds the support window, hidden: the group box, the browser box
// (which starts loading the chat page), then the skin. nullptr when the window cannot be built;
// a skin library that cannot be bound ends the process from inside.
HWND CreateMainWindow(HINSTANCE instance, const std::string& run_directory);

}  // namespace helpdesk
