#include "helpdesk/browser_box.h"

#include <memory>
#include <new>

#include "helpdesk/browser_site.h"
#include "helpdesk/control_ids.h"

namespace helpdesk {
namespace {

// The control's text size "medium" (OLECMDID_ZOOM takes 0, smallest, to 4, largest).
constexpr LONG kTextZoom = 2;

ATOM g_box_class = 0;

struct BstrFree {
  void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

// The address is a text in the ANSI code page; the control takes UTF-16.
UniqueBstr ToBstr(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  UniqueBstr wide(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
  if (wide) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), length);
  return wide;
}

// The box's settings. Their results are not checked: a control that refuses one still shows
// the page as best it can, and the page is all the user needs.
void SetUpAndNavigate(IWebBrowser2* browser, const char* address) {
  browser->put_Offline(VARIANT_FALSE);
  // Not silent: the control's own prompts (script errors and the like) stay visible.
  browser->put_Silent(VARIANT_FALSE);
  VARIANT zoom;
  VariantInit(&zoom);
  zoom.vt = VT_I4;
  zoom.lVal = kTextZoom;
  browser->ExecWB(OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr);
  if (address == nullptr || *address == '\0') return;
  const UniqueBstr url = ToBstr(address);
  if (!url) return;
  // No flags, target frame, post data or extra headers: a plain GET of the page.
  VARIANT none;
  VariantInit(&none);
  browser->Navigate(url.get(), &none, &none, &none, &none);
}

BrowserSite* SiteOf(HWND box) { return reinterpret_cast<BrowserSite*>(GetWindowLongPtrA(box, GWLP_USERDATA)); }

LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
      auto* site = new (std::nothrow) BrowserSite(box);
      if (site == nullptr) return -1;
      SetWindowLongPtrA(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site));
      if (site->Embed()) SetUpAndNavigate(site->browser(), static_cast<const char*>(create->lpCreateParams));
      return 0;
    }
    case WM_SIZE:
      if (BrowserSite* site = SiteOf(box)) site->Resize(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_DESTROY:
      if (BrowserSite* site = SiteOf(box)) {
        SetWindowLongPtrA(box, GWLP_USERDATA, 0);
        site->Close();
        site->Release();
      }
      return 0;
    default:
      return DefWindowProcA(box, message, wparam, lparam);
  }
}

}  // namespace

bool RegisterBrowserBoxClass(HINSTANCE instance) {
  if (g_box_class != 0) return true;
  WNDCLASSEXA box_class{};
  box_class.cbSize = sizeof box_class;
  box_class.lpfnWndProc = BoxProc;
  box_class.hInstance = instance;
  box_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  box_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  box_class.lpszClassName = kBrowserBoxClass;
  g_box_class = RegisterClassExA(&box_class);
  return g_box_class != 0;
}

HWND CreateBrowserBox(HWND parent, int x, int y, int width, int height, int id, const char* address) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE));
  if (!RegisterBrowserBoxClass(instance)) return nullptr;
  // The control's windows paint themselves; the box must not paint over them.
  return CreateWindowExA(0, kBrowserBoxClass, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, x, y, width,
                         height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                         const_cast<char*>(address));
}

bool TranslateBrowserKey(MSG* message) {
  if (message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return false;
  for (HWND window = message->hwnd; window != nullptr; window = GetParent(window)) {
    if (GetClassLongPtrA(window, GCW_ATOM) == g_box_class) {
      BrowserSite* site = SiteOf(window);
      return site != nullptr && site->TranslateKey(message);
    }
  }
  return false;
}

}  // namespace helpdesk
