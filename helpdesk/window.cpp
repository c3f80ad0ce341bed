#include "helpdesk/window.h"

#include "core/names.h"
#include "core/path.h"
#include "core/texts.h"
#include "helpdesk/browser_box.h"
#include "helpdesk/control_ids.h"
#include "win/skin.h"

namespace helpdesk {
namespace {

// Outer size, frame and title bar included.
constexpr int kWindowWidth = 834;
constexpr int kWindowHeight = 578;
// Fixed frame: no sizing border, no maximise button, but it can be minimised and moved.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr char kIconResource[] = "DEFAULT_ICON";

struct ControlSpec {
  int x, y, width, height;
};
constexpr ControlSpec kGroupBox{8, 3, 808, 533};
constexpr ControlSpec kBrowserBox{8, 14, 792, 506};  // inside the group box

HICON LoadProgramIcon(HINSTANCE instance, int size_metric) {
  const int size = GetSystemMetrics(size_metric);
  return static_cast<HICON>(LoadImageA(instance, kIconResource, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// The run directory has no trailing backslash, and the skin file lies in its parent folder.
std::string SkinPath(const std::string& run_directory) {
  return path::Join(path::Join(run_directory, ".."), names::kSkinFile);
}

bool CreateControls(HWND window, HINSTANCE instance) {
  HWND group = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, kGroupBox.x, kGroupBox.y,
                               kGroupBox.width, kGroupBox.height, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdGroupBox)), instance, nullptr);
  if (group == nullptr) return false;
  SendMessageA(group, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return CreateBrowserBox(group, kBrowserBox.x, kBrowserBox.y, kBrowserBox.width, kBrowserBox.height,
                          kIdBrowserBox, HELPDESK_CHAT_URL) != nullptr;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
      SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadProgramIcon(create->hInstance, SM_CXICON)));
      SendMessageA(window, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(LoadProgramIcon(create->hInstance, SM_CXSMICON)));
      if (!CreateControls(window, create->hInstance)) return -1;
      // Skinned here, before the window is first shown, so it never appears unskinned.
      const std::string run_directory = *static_cast<const std::string*>(create->lpCreateParams);
      win::AttachSkinOrDie(run_directory, SkinPath(run_directory));
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

HWND CreateMainWindow(HINSTANCE instance, const std::string& run_directory) {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadProgramIcon(instance, SM_CXICON);
  window_class.hIconSm = LoadProgramIcon(instance, SM_CXSMICON);
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = kMainWindowClass;
  if (RegisterClassExA(&window_class) == 0) return nullptr;

  // Centred on the primary screen; C++ division truncates toward zero, so a screen smaller than
  // the window gives a negative left or top, as intended.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  return CreateWindowExA(0, kMainWindowClass, texts::kHelpdeskCaption, kWindowStyle, left, top, kWindowWidth,
                         kWindowHeight, nullptr, nullptr, instance, const_cast<std::string*>(&run_directory));
}

}  // namespace helpdesk
