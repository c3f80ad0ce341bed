// The support chat window: one fixed window showing the product's page on the web chat service.
#include <windows.h>
#include <ole2.h>

#include <string>

#include "core/texts.h"
#include "helpdesk/browser_box.h"
#include "helpdesk/window.h"
#include "win/module.h"
#include "win/skin.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  const std::string run_directory = win::RunDirectory();
  // A drive root needs its backslash back: "C:" alone means "the current folder of drive C".
  SetCurrentDirectoryA((run_directory + "\\").c_str());
  // The WebBrowser control is an OLE in-place object, so this thread needs OLE, not only COM.
  // Without it the control cannot be created and the box simply stays empty.
  OleInitialize(nullptr);

  HWND window = helpdesk::CreateMainWindow(instance, run_directory);
  if (window == nullptr) win::DieWithErrorBox(texts::kWindowCreateFailed);
  ShowWindow(window, show);
  UpdateWindow(window);

  // No dialog-style key handling (IsDialogMessage): Escape and Enter must not close the window.
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (helpdesk::TranslateBrowserKey(&message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
