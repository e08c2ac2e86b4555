// What the notice page's container answers when the browser control asks its host: the page comes
// from outside and is treated as hostile. It shows http and https pages and nothing else; downloads,
// new windows, printing, message and HTML dialogs, log-ins, the context menu, script errors, ActiveX,
// Java and behaviours (userData writes files) are all refused, so nothing the page does writes a file,
// opens a second window or takes the window's input.
//
// The container (NoticeSite) derives from this class and gives all of these interfaces their one
// IUnknown; its QueryInterface asks Provides first for the interfaces below.
#pragma once
#include <windows.h>

#include <downloadmgr.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <servprov.h>
#include <urlmon.h>

namespace win32ui {

class NoticeRefusals : public IDocHostUIHandler,
                       public IDocHostShowUI,
                       public IOleCommandTarget,
                       public IServiceProvider,
                       public IDispatch,  // the browser's events, and the host's ambient properties
                       public IDownloadManager,
                       public IAuthenticate,
                       public IHostDialogHelper {
 public:
  // Points `*out` at this object's interface `riid` (without AddRef); false when it is none of them.
  bool Provides(REFIID riid, void** out);

  // Settings of the browser itself, then its events: called once the control is made.
  static void Restrict(IWebBrowser2* browser);
  bool Listen(IWebBrowser2* browser);
  void StopListening();

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override;
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override;
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }  // (IOleInPlaceFrame's too)
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override;
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override;
  STDMETHODIMP GetExternal(IDispatch** out) override;
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override;
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override;

  // IDocHostShowUI
  STDMETHODIMP ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT* result) override;
  STDMETHODIMP ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override { return S_OK; }

  // IOleCommandTarget
  STDMETHODIMP QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override;
  STDMETHODIMP Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT* out) override;

  // IServiceProvider
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** out) override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override;

  // IDownloadManager
  STDMETHODIMP Download(IMoniker*, IBindCtx*, DWORD, LONG, BINDINFO*, LPCOLESTR, LPCOLESTR, UINT) override;
  // IAuthenticate
  STDMETHODIMP Authenticate(HWND* window, LPWSTR* user, LPWSTR* password) override;
  // IHostDialogHelper
  STDMETHODIMP ShowHTMLDialog(HWND, IMoniker*, VARIANT*, WCHAR*, VARIANT*, IUnknown*) override;

 protected:
  NoticeRefusals() = default;
  virtual ~NoticeRefusals() = default;

 private:
  IConnectionPoint* m_pEvents = nullptr;
  DWORD m_dwEventsCookie = 0;
};

}  // namespace win32ui
