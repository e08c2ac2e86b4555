#include "ui/win32/NoticeRefusals.h"

#include <exdispid.h>
#include <mshtmdid.h>

#include <string>

#include "common/WebAddress.h"
#include "platform/wide_win32.h"

namespace win32ui {
namespace {

// The import library lacks these ids; the interfaces' declarations carry theirs. The download
// manager is asked for as a service under its interface's id.
const GUID kDocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
const GUID& kDownloadManager = __uuidof(IDownloadManager);
const GUID& kDocHostShowUI = __uuidof(IDocHostShowUI);
const GUID& kHostDialogHelper = __uuidof(IHostDialogHelper);

// Argument `index` of an event, counted from the first as the event lists them (DISPPARAMS hold
// them last first), when it has the type `vt`.
VARIANT* Argument(DISPPARAMS* params, UINT index, VARTYPE vt) {
  if (!params || index >= params->cArgs) return nullptr;
  VARIANT* arg = &params->rgvarg[params->cArgs - 1 - index];
  return arg->vt == vt ? arg : nullptr;
}

void Cancel(DISPPARAMS* params, UINT index) {
  if (VARIANT* cancel = Argument(params, index, VT_BOOL | VT_BYREF)) *cancel->pboolVal = VARIANT_TRUE;
}

std::string UrlOf(VARIANT* arg) {
  if (!arg) return "";
  const VARIANT* value = arg->vt == (VT_VARIANT | VT_BYREF) ? arg->pvarVal : arg;
  if (!value || value->vt != VT_BSTR || !value->bstrVal) return "";
  return platform::Utf8FromWide(std::wstring(value->bstrVal, SysStringLen(value->bstrVal)));
}

bool IsPrintCommand(DWORD id) {
  switch (id) {
    case OLECMDID_PRINT:
    case OLECMDID_PRINT2:
    case OLECMDID_PRINTPREVIEW:
    case OLECMDID_PRINTPREVIEW2:
    case OLECMDID_PAGESETUP:
    case OLECMDID_SHOWPRINT:
    case OLECMDID_SHOWPAGESETUP:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool NoticeRefusals::Provides(REFIID riid, void** out) {
  if (riid == IID_IDocHostUIHandler)
    *out = static_cast<IDocHostUIHandler*>(this);
  else if (riid == kDocHostShowUI)
    *out = static_cast<IDocHostShowUI*>(this);
  else if (riid == IID_IOleCommandTarget)
    *out = static_cast<IOleCommandTarget*>(this);
  else if (riid == IID_IServiceProvider)
    *out = static_cast<IServiceProvider*>(this);
  else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
    *out = static_cast<IDispatch*>(this);
  else if (riid == kDownloadManager)
    *out = static_cast<IDownloadManager*>(this);
  else if (riid == IID_IAuthenticate)
    *out = static_cast<IAuthenticate*>(this);
  else if (riid == kHostDialogHelper)
    *out = static_cast<IHostDialogHelper*>(this);
  else
    return false;
  return true;
}

void NoticeRefusals::Restrict(IWebBrowser2* browser) {
  // No dialog of the browser's own (script errors, security prompts), and a file dropped on the
  // page is not opened.
  browser->put_Silent(VARIANT_TRUE);
  browser->put_RegisterAsDropTarget(VARIANT_FALSE);
}

bool NoticeRefusals::Listen(IWebBrowser2* browser) {
  IConnectionPointContainer* container = nullptr;
  if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
    return false;
  HRESULT hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &m_pEvents);
  container->Release();
  if (SUCCEEDED(hr) && SUCCEEDED(m_pEvents->Advise(static_cast<IDispatch*>(this), &m_dwEventsCookie))) return true;
  if (m_pEvents) m_pEvents->Release();
  m_pEvents = nullptr;
  return false;
}

void NoticeRefusals::StopListening() {
  if (!m_pEvents) return;
  m_pEvents->Unadvise(m_dwEventsCookie);
  m_pEvents->Release();
  m_pEvents = nullptr;
}

// IDocHostUIHandler

STDMETHODIMP NoticeRefusals::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) {
  return S_OK;  // shown by the host, that is: none
}

STDMETHODIMP NoticeRefusals::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->dwFlags = DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_LOCAL_MACHINE_ACCESS_CHECK |
                  DOCHOSTUIFLAG_DISABLE_UNTRUSTEDPROTOCOL;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

STDMETHODIMP NoticeRefusals::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                    IOleInPlaceUIWindow*) {
  return S_OK;  // the host has no menus or toolbars to offer
}

STDMETHODIMP NoticeRefusals::TranslateAccelerator(LPMSG msg, const GUID*, DWORD) {
  // The browser's own keys (print, save, open, a new window, reload) stay unused.
  const bool key = msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN);
  return key && (GetKeyState(VK_CONTROL) < 0 || msg->wParam == VK_F5) ? S_OK : S_FALSE;
}

STDMETHODIMP NoticeRefusals::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

STDMETHODIMP NoticeRefusals::GetDropTarget(IDropTarget*, IDropTarget** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP NoticeRefusals::GetExternal(IDispatch** out) {
  if (out) *out = nullptr;  // window.external offers the page nothing
  return S_FALSE;
}

STDMETHODIMP NoticeRefusals::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP NoticeRefusals::FilterDataObject(IDataObject*, IDataObject** out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

// IDocHostShowUI

STDMETHODIMP NoticeRefusals::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT* result) {
  // alert() and confirm() answer as dismissed, without a box.
  if (result) *result = IDCANCEL;
  return S_OK;
}

// IOleCommandTarget

STDMETHODIMP NoticeRefusals::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) {
  return OLECMDERR_E_UNKNOWNGROUP;
}

STDMETHODIMP NoticeRefusals::Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT* out) {
  if (!group || *group != kDocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
  if (id == OLECMDID_SHOWSCRIPTERROR) {
    // Scripts run on, and no error box is shown.
    if (out) {
      VariantClear(out);
      out->vt = VT_BOOL;
      out->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }
  // Printing is "done by the host": no print dialog, and nothing printed or saved.
  return IsPrintCommand(id) ? S_OK : OLECMDERR_E_NOTSUPPORTED;
}

// IServiceProvider

STDMETHODIMP NoticeRefusals::QueryService(REFGUID service, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const bool ours = service == kDownloadManager || service == IID_IAuthenticate ||
                    service == kHostDialogHelper;
  if (!ours || !Provides(riid, out)) return E_NOINTERFACE;
  static_cast<IServiceProvider*>(this)->AddRef();
  return S_OK;
}

// IDispatch

STDMETHODIMP NoticeRefusals::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

STDMETHODIMP NoticeRefusals::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP NoticeRefusals::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO*, UINT*) {
  switch (id) {
    case DISPID_AMBIENT_DLCONTROL:
      // What a page may load and run: pictures, sound and video, but no ActiveX control, Java
      // applet or behaviour (userData stores files), and nothing that asks the player.
      if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
      VariantInit(result);
      result->vt = VT_I4;
      result->lVal = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_NO_JAVA | DLCTL_NO_DLACTIVEXCTLS |
                     DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_BEHAVIORS | DLCTL_SILENT;
      return S_OK;
    case DISPID_BEFORENAVIGATE2:  // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
      if (!IsWebAddress(UrlOf(Argument(params, 1, VT_VARIANT | VT_BYREF)))) Cancel(params, 6);
      return S_OK;
    case DISPID_NEWWINDOW2:  // (ppDisp, Cancel)
      Cancel(params, 1);
      return S_OK;
    case DISPID_NEWWINDOW3:  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
      Cancel(params, 1);
      return S_OK;
    case DISPID_FILEDOWNLOAD:  // (ActiveDocument, Cancel); before Internet Explorer 7 (Cancel) alone
      if (params && params->cArgs == 1) {
        Cancel(params, 0);
      } else {
        const VARIANT* document = Argument(params, 0, VT_BOOL);
        if (!document || document->boolVal == VARIANT_FALSE) Cancel(params, 1);
      }
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

// IDownloadManager: every download is "taken over" and then dropped, so the browser neither asks
// where to save it nor saves it.
STDMETHODIMP NoticeRefusals::Download(IMoniker*, IBindCtx*, DWORD, LONG, BINDINFO*, LPCOLESTR, LPCOLESTR, UINT) {
  return S_OK;
}

// IAuthenticate: no log-in dialog; the request goes unauthenticated.
STDMETHODIMP NoticeRefusals::Authenticate(HWND* window, LPWSTR* user, LPWSTR* password) {
  if (window) *window = nullptr;
  if (user) *user = nullptr;
  if (password) *password = nullptr;
  return E_ACCESSDENIED;
}

// IHostDialogHelper: showModalDialog opens nothing.
STDMETHODIMP NoticeRefusals::ShowHTMLDialog(HWND, IMoniker*, VARIANT*, WCHAR*, VARIANT* out, IUnknown*) {
  if (out) VariantInit(out);
  return S_OK;
}

}  // namespace win32ui
