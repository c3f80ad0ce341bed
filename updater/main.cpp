// The updater: checks the update server for changed files, brings them in, then starts the main
// application. One window, one worker thread.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "core/texts.h"
#include "updater/state.h"
#include "updater/window.h"
#include "win/module.h"
#include "win/skin.h"

namespace {

void ReleaseRunState() {
  updater::RunState& state = updater::State();
  state.version_record = {};
  state.version_text.clear();
  state.list_bytes.clear();
}

// Escape closes the window from wherever the focus is, which counts as the user closing it.
bool IsEscapeFor(HWND window, const MSG& message) {
  return message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
         (message.hwnd == window || IsChild(window, message.hwnd));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  updater::RunState& state = updater::State();
  state.run_directory = win::RunDirectory();
  state.executable_name = win::ExecutableFileName();
  // Relative names and the main application both rely on the run directory being current. A
  // drive root needs its backslash back: "C:" alone means "the current folder of drive C".
  SetCurrentDirectoryA((state.run_directory + "\\").c_str());
  std::atexit(ReleaseRunState);

  HWND window = updater::CreateMainWindow(instance);
  if (window == nullptr) win::DieWithErrorBox(texts::kWindowCreateFailed);
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsEscapeFor(window, message)) {
      PostMessageA(window, WM_CLOSE, 0, 0);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
