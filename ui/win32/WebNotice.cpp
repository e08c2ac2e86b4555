#include "ui/win32/WebNotice.h"

#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>

#include "common/WebAddress.h"
#include "platform/wide_win32.h"
#include "ui/win32/NoticeRefusals.h"
#include "ui/win32/resource.h"

namespace win32ui {

// The container: a client site that also is the in-place site and its frame. The browser asks it
// for its window and rectangle; everything a full document host would offer (menus, toolbars,
// accelerators) is declined, and what the page may ask of its host is refused (NoticeRefusals).
class NoticeSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public NoticeRefusals {
 public:
  explicit NoticeSite(HWND host) : m_hHost(host) {}

  bool Create() {
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&m_pObject))))
      return false;
    if (FAILED(m_pObject->SetClientSite(static_cast<IOleClientSite*>(this)))) return false;
    if (FAILED(m_pObject->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&m_pBrowser)))) return false;
    // A browser whose navigations cannot be watched is not given a page.
    Restrict(m_pBrowser);
    if (!Listen(m_pBrowser)) return false;
    RECT rect;
    GetClientRect(m_hHost, &rect);
    return SUCCEEDED(
        m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, m_hHost, &rect));
  }

  bool Navigate(const std::wstring& url) {
    if (!m_pBrowser) return false;
    BSTR address = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    if (!address) return false;
    VARIANT none;
    VariantInit(&none);  // flags, target frame, post data and headers all absent
    HRESULT hr = m_pBrowser->Navigate(address, &none, &none, &none, &none);
    SysFreeString(address);
    return SUCCEEDED(hr);
  }

  void Close() {
    StopListening();
    if (m_pBrowser) {
      m_pBrowser->Release();
      m_pBrowser = nullptr;
    }
    if (m_pObject) {
      m_pObject->Close(OLECLOSE_NOSAVE);
      m_pObject->SetClientSite(nullptr);
      m_pObject->Release();
      m_pObject = nullptr;
    }
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (Provides(riid, out)) {
      // (one of the refusals' interfaces)
    } else if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = InterlockedDecrement(&m_nRefs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (of both the site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    *out = m_hHost;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(m_hHost, pos);
    GetClientRect(m_hHost, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetParent(m_hHost);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
  using NoticeRefusals::TranslateAccelerator;

 private:
  virtual ~NoticeSite() = default;

  LONG m_nRefs = 1;
  HWND m_hHost;
  IOleObject* m_pObject = nullptr;
  IWebBrowser2* m_pBrowser = nullptr;
};

namespace {

LRESULT CALLBACK NoticeControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Until the browser covers it, the control shows the window's picture through.
  if (message == WM_ERASEBKGND) return TRUE;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

void WebNotice::RegisterControlClass(HINSTANCE instance) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = NoticeControlProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  cls.lpszClassName = L"" NOTICE_CONTROL_CLASS;
  RegisterClassW(&cls);
}

WebNotice::~WebNotice() { Close(); }

bool WebNotice::Navigate(HWND host, const std::string& url) {
  if (m_bStarted || url.empty() || !host) return false;
  m_bStarted = true;
  // Only a web address is opened; anything else leaves the notice area showing the picture.
  if (!IsWebAddress(url)) return false;
  m_pSite = new NoticeSite(host);
  if (m_pSite->Create() && m_pSite->Navigate(platform::WideFromUtf8(url))) return true;
  Close();
  return false;
}

void WebNotice::Close() {
  if (!m_pSite) return;
  m_pSite->Close();
  m_pSite->Release();
  m_pSite = nullptr;
}

}  // namespace win32ui
