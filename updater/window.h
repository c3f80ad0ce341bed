#pragma once

#include <windows.h>

namespace updater {

// Registers the class and creates the updater's window (hidden); its creation runs the start-up
// steps: skin, version text, caption, compact height, Config.ini, worker. nullptr on failure.
HWND CreateMainWindow(HINSTANCE instance);

}  // namespace updater
