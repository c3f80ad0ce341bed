// A minimal OLE control container for one WebBrowser control: the client site, in-place site and
// in-place frame the control asks its container for. No ATL or MFC exists for this toolchain,
// and the control needs no more than this to show pages in a child window.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ole2.h>

#include "helpdesk/com_ptr.h"

namespace helpdesk {

// The in-place site and the frame both derive from IOleWindow, but answer different windows: the
// site its host, the frame the top-level window. These give each path a name of its own.
struct InPlaceSiteWindow : IOleInPlaceSite {
  STDMETHODIMP GetWindow(HWND* window) noexcept final { return SiteWindow(window); }
  virtual HRESULT SiteWindow(HWND* window) noexcept = 0;
};
struct InPlaceFrameWindow : IOleInPlaceFrame {
  STDMETHODIMP GetWindow(HWND* window) noexcept final { return FrameWindow(window); }
  virtual HRESULT FrameWindow(HWND* window) noexcept = 0;
};

class BrowserSite final : public IOleClientSite, public InPlaceSiteWindow, public InPlaceFrameWindow {
 public:
  // The site starts with one reference, owned by the caller.
  explicit BrowserSite(HWND host);

  // Creates the control in the host window and activates it in place; false when the control is
  // not available. The host keeps showing its background then.
  bool Embed();
  // The browser once Embed succeeded, else nullptr; the site keeps the reference.
  IWebBrowser2* browser() const { return browser_.get(); }
  // Keeps the control covering the host's client area.
  void Resize(int width, int height) noexcept;
  // Gives the control the keys meant for it (Tab between links, clipboard shortcuts); true when
  // it used the message.
  bool TranslateKey(MSG* message) noexcept;
  // Closes the control and drops every reference to it; the host calls this as it goes away.
  void Close() noexcept;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override;
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  // IOleClientSite
  STDMETHODIMP SaveObject() noexcept override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept override;
  STDMETHODIMP GetContainer(IOleContainer** container) noexcept override;
  STDMETHODIMP ShowObject() noexcept override;
  STDMETHODIMP OnShowWindow(BOOL show) noexcept override;
  STDMETHODIMP RequestNewObjectLayout() noexcept override;

  // IOleWindow: the host for the in-place site, the top-level window for the frame
  HRESULT SiteWindow(HWND* window) noexcept override;
  HRESULT FrameWindow(HWND* window) noexcept override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) noexcept override;

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() noexcept override;
  STDMETHODIMP OnInPlaceActivate() noexcept override;
  STDMETHODIMP OnUIActivate() noexcept override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                RECT* clip, OLEINPLACEFRAMEINFO* info) noexcept override;
  STDMETHODIMP Scroll(SIZE extent) noexcept override;
  STDMETHODIMP OnUIDeactivate(BOOL undoable) noexcept override;
  STDMETHODIMP OnInPlaceDeactivate() noexcept override;
  STDMETHODIMP DiscardUndoState() noexcept override;
  STDMETHODIMP DeactivateAndUndo() noexcept override;
  STDMETHODIMP OnPosRectChange(const RECT* position) noexcept override;

  // IOleInPlaceUIWindow
  STDMETHODIMP GetBorder(RECT* border) noexcept override;
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) noexcept override;
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) noexcept override;
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) noexcept override;

  // IOleInPlaceFrame
  STDMETHODIMP InsertMenus(HMENU shared, OLEMENUGROUPWIDTHS* widths) noexcept override;
  STDMETHODIMP SetMenu(HMENU shared, HOLEMENU descriptor, HWND active) noexcept override;
  STDMETHODIMP RemoveMenus(HMENU shared) noexcept override;
  STDMETHODIMP SetStatusText(LPCOLESTR text) noexcept override;
  STDMETHODIMP EnableModeless(BOOL enable) noexcept override;
  STDMETHODIMP TranslateAccelerator(MSG* message, WORD id) noexcept override;

 private:
  ~BrowserSite();
  BrowserSite(const BrowserSite&) = delete;
  BrowserSite& operator=(const BrowserSite&) = delete;

  LONG references_ = 1;
  HWND host_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IOleInPlaceActiveObject> active_;
};

}  // namespace helpdesk
