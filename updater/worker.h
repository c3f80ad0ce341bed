#pragma once

#include <windows.h>

namespace updater {

// The worker thread's body: the update check, and the download pass when something differs.
DWORD WINAPI WorkerMain(void* unused);

}  // namespace updater
