#include "helpdesk/browser_site.h"

namespace helpdesk {

BrowserSite::BrowserSite(HWND host) : host_(host) {}

BrowserSite::~BrowserSite() = default;

bool BrowserSite::Embed() {
  if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.put_void()))) {
    return false;
  }
  // The control asks for its site while it activates, so the site comes first.
  object_->SetClientSite(static_cast<IOleClientSite*>(this));
  RECT area{};
  GetClientRect(host_, &area);
  if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, host_, &area)) ||
      FAILED(object_->QueryInterface(IID_IWebBrowser2, browser_.put_void()))) {
    Close();
    return false;
  }
  object_->QueryInterface(IID_IOleInPlaceActiveObject, active_.put_void());
  return true;
}

void BrowserSite::Resize(int width, int height) noexcept {
  if (!object_) return;
  ComPtr<IOleInPlaceObject> in_place;
  if (FAILED(object_->QueryInterface(IID_IOleInPlaceObject, in_place.put_void()))) return;
  const RECT area{0, 0, width, height};
  in_place->SetObjectRects(&area, &area);
}

bool BrowserSite::TranslateKey(MSG* message) noexcept {
  return active_ && active_->TranslateAccelerator(message) == S_OK;
}

void BrowserSite::Close() noexcept {
  browser_.reset();
  if (object_) {
    // Close deactivates the control and destroys its windows; without the site reset the control
    // would keep this site, and with it the host's memory, alive.
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_.reset();
  }
  // Last: the control may still report itself active or inactive while it closes.
  active_.reset();
  host_ = nullptr;
}

// --- IUnknown ---------------------------------------------------------------------------------

STDMETHODIMP BrowserSite::QueryInterface(REFIID iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
    *out = static_cast<IOleInPlaceSite*>(this);
  } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
    *out = static_cast<IOleInPlaceFrame*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) BrowserSite::AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) BrowserSite::Release() noexcept {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// --- IOleClientSite: nothing is stored, so there is nothing to save or name --------------------

STDMETHODIMP BrowserSite::SaveObject() noexcept { return E_NOTIMPL; }

STDMETHODIMP BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetContainer(IOleContainer** container) noexcept {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP BrowserSite::ShowObject() noexcept { return S_OK; }
STDMETHODIMP BrowserSite::OnShowWindow(BOOL) noexcept { return S_OK; }
STDMETHODIMP BrowserSite::RequestNewObjectLayout() noexcept { return E_NOTIMPL; }

// --- IOleWindow -------------------------------------------------------------------------------

HRESULT BrowserSite::SiteWindow(HWND* window) noexcept {
  if (window == nullptr) return E_POINTER;
  *window = host_;
  return host_ != nullptr ? S_OK : E_FAIL;
}

HRESULT BrowserSite::FrameWindow(HWND* window) noexcept {
  if (window == nullptr) return E_POINTER;
  *window = host_ != nullptr ? GetAncestor(host_, GA_ROOT) : nullptr;
  return *window != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP BrowserSite::ContextSensitiveHelp(BOOL) noexcept { return E_NOTIMPL; }

// --- IOleInPlaceSite --------------------------------------------------------------------------

STDMETHODIMP BrowserSite::CanInPlaceActivate() noexcept { return host_ != nullptr ? S_OK : S_FALSE; }
STDMETHODIMP BrowserSite::OnInPlaceActivate() noexcept { return S_OK; }
STDMETHODIMP BrowserSite::OnUIActivate() noexcept { return S_OK; }

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                           RECT* clip, OLEINPLACEFRAMEINFO* info) noexcept {
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || info == nullptr) {
    return E_POINTER;
  }
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *document = nullptr;  // no document window between the frame and the control
  GetClientRect(host_, position);
  *clip = *position;
  // The caller fills in cb; the rest says: no MDI, no accelerators of the frame's own.
  info->fMDIApp = FALSE;
  info->hwndFrame = GetAncestor(host_, GA_ROOT);
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP BrowserSite::Scroll(SIZE) noexcept { return E_NOTIMPL; }
STDMETHODIMP BrowserSite::OnUIDeactivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP BrowserSite::OnInPlaceDeactivate() noexcept { return S_OK; }
STDMETHODIMP BrowserSite::DiscardUndoState() noexcept { return E_NOTIMPL; }
STDMETHODIMP BrowserSite::DeactivateAndUndo() noexcept { return E_NOTIMPL; }

STDMETHODIMP BrowserSite::OnPosRectChange(const RECT*) noexcept {
  // The control fills the host whatever size it asks for.
  RECT area{};
  if (host_ != nullptr && GetClientRect(host_, &area)) Resize(area.right, area.bottom);
  return S_OK;
}

// --- IOleInPlaceUIWindow and IOleInPlaceFrame: no toolbars, menus or status bar to share ------

STDMETHODIMP BrowserSite::GetBorder(RECT*) noexcept { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP BrowserSite::RequestBorderSpace(LPCBORDERWIDTHS) noexcept { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP BrowserSite::SetBorderSpace(LPCBORDERWIDTHS) noexcept { return OLE_E_INVALIDRECT; }

STDMETHODIMP BrowserSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) noexcept {
  // The control names itself here when it becomes UI-active; it is the one keys go to.
  if (object != nullptr && host_ != nullptr) {
    object->AddRef();
    *active_.put() = object;
  }
  return S_OK;
}

STDMETHODIMP BrowserSite::InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) noexcept { return E_NOTIMPL; }
STDMETHODIMP BrowserSite::SetMenu(HMENU, HOLEMENU, HWND) noexcept { return S_OK; }
STDMETHODIMP BrowserSite::RemoveMenus(HMENU) noexcept { return E_NOTIMPL; }
STDMETHODIMP BrowserSite::SetStatusText(LPCOLESTR) noexcept { return S_OK; }
STDMETHODIMP BrowserSite::EnableModeless(BOOL) noexcept { return S_OK; }
STDMETHODIMP BrowserSite::TranslateAccelerator(MSG*, WORD) noexcept { return S_FALSE; }

}  // namespace helpdesk
