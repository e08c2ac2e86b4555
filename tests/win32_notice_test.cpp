// What the Windows notice container answers the browser control, asked the way the control asks:
// its events with their arguments as DISPPARAMS hold them, its commands and its services. (Under
// Wine the control itself shows no page, so these answers are checked here.)
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <exdispid.h>
#include <mshtmdid.h>

#include "ui/win32/NoticeRefusals.h"

namespace {

const GUID kDocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

class Host : public win32ui::NoticeRefusals {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown) {
      *out = static_cast<IDispatch*>(this);
    } else if (!Provides(riid, out)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

 private:
  ULONG m_refs = 1;
};

VARIANT Empty() {
  VARIANT v;
  VariantInit(&v);
  return v;
}
VARIANT Bool(bool value) {
  VARIANT v = Empty();
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT ByRef(VARIANT* value) {
  VARIANT v = Empty();
  v.vt = VT_VARIANT | VT_BYREF;
  v.pvarVal = value;
  return v;
}

// Fires event `id` with `listed` (in the event's own order) plus its Cancel argument at `cancelAt`;
// returns whether the host cancelled.
bool Cancels(Host& host, DISPID id, std::vector<VARIANT> listed, size_t cancelAt) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANT cancelArg = Empty();
  cancelArg.vt = VT_BOOL | VT_BYREF;
  cancelArg.pboolVal = &cancel;
  listed.insert(listed.begin() + static_cast<long>(cancelAt), cancelArg);
  std::reverse(listed.begin(), listed.end());
  DISPPARAMS params{listed.data(), nullptr, static_cast<UINT>(listed.size()), 0};
  EXPECT_EQ(host.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  return cancel == VARIANT_TRUE;
}

bool CancelsNavigationTo(Host& host, const wchar_t* url) {
  VARIANT address = Empty();
  address.vt = VT_BSTR;
  address.bstrVal = SysAllocString(url);
  VARIANT none = Empty();
  const bool cancelled =
      Cancels(host, DISPID_BEFORENAVIGATE2,
              {Empty(), ByRef(&address), ByRef(&none), ByRef(&none), ByRef(&none), ByRef(&none)}, 6);
  VariantClear(&address);
  return cancelled;
}

}  // namespace

TEST(NoticeRefusals, OnlyNavigationsToWebAddressesGoAhead) {
  Host host;
  EXPECT_FALSE(CancelsNavigationTo(host, L"http://www.tarvo.com/gameweb/notice.php"));
  EXPECT_FALSE(CancelsNavigationTo(host, L"HTTPS://127.0.0.1/x"));
  for (const wchar_t* other : {L"file:///C:/users/notes.txt", L"about:blank", L"javascript:alert(1)",
                               L"res://ieframe.dll/navcancl.htm", L"mailto:a@b", L"\\\\server\\share\\x.exe"})
    EXPECT_TRUE(CancelsNavigationTo(host, other)) << static_cast<const void*>(other);
}

TEST(NoticeRefusals, NewWindowsAndDownloadsAreCancelledButNotTheDocumentItself) {
  Host host;
  EXPECT_TRUE(Cancels(host, DISPID_NEWWINDOW2, {Empty()}, 1));
  EXPECT_TRUE(Cancels(host, DISPID_NEWWINDOW3, {Empty(), Empty(), Empty(), Empty()}, 1));
  EXPECT_FALSE(Cancels(host, DISPID_FILEDOWNLOAD, {Bool(true)}, 1));  // the page, to be shown
  EXPECT_TRUE(Cancels(host, DISPID_FILEDOWNLOAD, {Bool(false)}, 1));
  EXPECT_TRUE(Cancels(host, DISPID_FILEDOWNLOAD, {}, 0));  // as Internet Explorer 6 fires it

  // A download that gets past them is taken by the host's download manager, which saves nothing.
  IDownloadManager* manager = nullptr;
  ASSERT_EQ(host.QueryService(__uuidof(IDownloadManager), __uuidof(IDownloadManager),
                              reinterpret_cast<void**>(&manager)),
            S_OK);
  EXPECT_EQ(manager->Download(nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), S_OK);
  manager->Release();
  IUnknown* other = nullptr;
  EXPECT_EQ(host.QueryService(IID_IUnknown, IID_IUnknown, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
}

TEST(NoticeRefusals, PrintingDialogsAndScriptErrorsAreAnsweredWithoutShowingAnything) {
  Host host;
  for (DWORD print : {OLECMDID_PRINT, OLECMDID_SHOWPRINT, OLECMDID_PRINTPREVIEW, OLECMDID_SHOWPAGESETUP})
    EXPECT_EQ(host.Exec(&kDocHostCommandHandler, print, 0, nullptr, nullptr), S_OK) << print;
  VARIANT goOn = Empty();
  EXPECT_EQ(host.Exec(&kDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, &goOn), S_OK);
  EXPECT_EQ(goOn.vt, VT_BOOL);
  EXPECT_EQ(goOn.boolVal, VARIANT_TRUE);
  EXPECT_EQ(host.Exec(&kDocHostCommandHandler, OLECMDID_OPEN, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  EXPECT_EQ(host.Exec(nullptr, OLECMDID_PRINT, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);

  LRESULT answer = 0;
  EXPECT_EQ(host.ShowMessage(nullptr, nullptr, nullptr, MB_OKCANCEL, nullptr, 0, &answer), S_OK);
  EXPECT_EQ(answer, IDCANCEL);
  EXPECT_EQ(host.ShowContextMenu(0, nullptr, nullptr, nullptr), S_OK);
  LPWSTR user = nullptr, password = nullptr;
  EXPECT_TRUE(FAILED(host.Authenticate(nullptr, &user, &password)));

  // What the page may run: no ActiveX, Java or behaviours, pictures still.
  VARIANT control = Empty();
  ASSERT_EQ(host.Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &control, nullptr,
                        nullptr),
            S_OK);
  ASSERT_EQ(control.vt, VT_I4);
  const long needed = DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA | DLCTL_NO_BEHAVIORS | DLCTL_DLIMAGES;
  EXPECT_EQ(control.lVal & needed, needed);
}
