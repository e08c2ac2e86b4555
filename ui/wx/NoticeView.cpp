#include "ui/wx/NoticeView.h"

#include <wx/webview.h>

#include "common/WebAddress.h"

#if TARVO_WEBKIT
#include <webkit2/webkit2.h>

#include <string_view>

namespace {

// Whether the server asked for the response to be saved rather than shown (the first part of
// Content-Disposition is "attachment", as WebKit itself reads it).
bool IsAttachment(WebKitURIResponse* response) {
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  const char* value = headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
  if (!value) return false;
  std::string_view disposition(value);
  disposition = disposition.substr(0, disposition.find(';'));
  const size_t first = disposition.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  disposition = disposition.substr(first, disposition.find_last_not_of(" \t") - first + 1);
  return AsciiEqualNoCase(disposition, "attachment");
}

// Every decision is taken here, so WebKit's own (which turns a response it cannot show into a
// download) is never reached.
gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
  bool allowed = false;
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    allowed = uri && IsWebAddress(uri);
  } else if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    WebKitResponsePolicyDecision* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    allowed = webkit_response_policy_decision_is_mime_type_supported(response) &&
              !IsAttachment(webkit_response_policy_decision_get_response(response));
  }  // else a new window: never
  if (allowed)
    webkit_policy_decision_use(decision);
  else
    webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A download that got past the policy (a link with the download attribute starts one directly)
// stops before it has a file: it gets no destination, and would not replace a file if it had one.
gboolean RefuseDestination(WebKitDownload* download, gchar*, gpointer) {
  webkit_download_cancel(download);
  return TRUE;
}

void RefuseDownload(WebKitWebContext*, WebKitDownload* download, gpointer) {
  webkit_download_set_allow_overwrite(download, FALSE);
  g_signal_connect(download, "decide-destination", G_CALLBACK(RefuseDestination), nullptr);
  webkit_download_cancel(download);
}

gboolean Refuse(WebKitWebView*, gpointer) { return TRUE; }
gboolean RefuseWith(WebKitWebView*, gpointer, gpointer) { return TRUE; }
gboolean RefusePermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}
gboolean RefuseFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}
gboolean RefuseColourChooser(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}
gboolean RefuseLogIn(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  webkit_authentication_request_cancel(request);
  return TRUE;
}
// A page that cannot be loaded shows nothing of the engine's own (its error page would name the host
// and the reason in the player's face): the view goes, and the notice area shows the picture's empty
// frame, as in the Windows window; nothing tries again. A load that was only stopped (refused above,
// or left for another address) keeps the view as it is.
gboolean HideOnFailure(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer view) {
  const bool stopped =
      g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
  if (!stopped) static_cast<wxWebView*>(view)->Hide();
  return TRUE;
}

GtkWidget* RefuseNewView(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

void Confine(WebKitWebView* view) {
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_allow_modal_dialogs(settings, FALSE);
  webkit_settings_set_enable_fullscreen(settings, FALSE);
  webkit_settings_set_enable_html5_local_storage(settings, FALSE);
  webkit_settings_set_enable_html5_database(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_webrtc(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
#if WEBKIT_CHECK_VERSION(2, 42, 0)
  // Storage that would land on the disk, and what reaches beyond the page: the page has no use for
  // them, and an interface that is not there cannot be asked for.
  static const char* const kOff[] = {"IndexedDBAPI", "LocalStorage",  "Databases",     "CacheAPI",
                                     "ServiceWorkers", "DownloadAttribute", "Notifications", "GeolocationAPI",
                                     "MediaDevices", "ScreenCapture", "PointerLock",   "FullScreen"};
  WebKitFeatureList* features = webkit_settings_get_all_features();
  for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
    WebKitFeature* feature = webkit_feature_list_get(features, i);
    for (const char* off : kOff)
      if (std::string_view(webkit_feature_get_identifier(feature)) == off)
        webkit_settings_set_feature_enabled(settings, feature, FALSE);
  }
  webkit_feature_list_unref(features);
#endif

  // A page the player merely looks at leaves nothing in the cache either.
  WebKitWebContext* context = webkit_web_view_get_context(view);
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  // The client has no other web view, so every download of the context is the page's.
  if (!g_object_get_data(G_OBJECT(context), "tarvo-downloads-refused")) {
    g_object_set_data(G_OBJECT(context), "tarvo-downloads-refused", context);
    g_signal_connect(context, "download-started", G_CALLBACK(RefuseDownload), nullptr);
  }

  // wxWidgets answers "create" before anyone connected later can; its answer (the same view) would
  // keep its own note of a window under way and swallow the next navigation.
  g_signal_handlers_block_matched(view, G_SIGNAL_MATCH_ID, g_signal_lookup("create", WEBKIT_TYPE_WEB_VIEW), 0,
                                  nullptr, nullptr, nullptr);
  g_signal_connect(view, "create", G_CALLBACK(RefuseNewView), nullptr);
  // The toolkit's own decision handler goes first and only ever refuses more; this one decides the rest.
  g_signal_connect(view, "decide-policy", G_CALLBACK(DecidePolicy), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(RefuseWith), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(RefusePermission), nullptr);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(RefuseFileChooser), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(RefuseColourChooser), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(RefuseLogIn), nullptr);
  // Alerts, confirmations and prompts answer as dismissed: none takes the keyboard from the window.
  g_signal_connect(view, "script-dialog", G_CALLBACK(RefuseWith), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(RefuseWith), nullptr);
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(Refuse), nullptr);
}

}  // namespace

wxWebView* CreateNoticeView(wxWindow* parent, const wxRect& rect, const std::string& url) {
  if (!IsWebAddress(url) || !wxWebView::IsBackendAvailable(wxWebViewBackendWebKit)) return nullptr;
  // The view is made on an empty page and held in before the notice page is asked for.
  wxWebView* view =
      wxWebView::New(parent, wxID_ANY, wxWebViewDefaultURLStr, rect.GetPosition(), rect.GetSize(), wxWebViewBackendWebKit);
  if (!view) return nullptr;
  auto* native = static_cast<WebKitWebView*>(view->GetNativeBackend());
  if (!native || !WEBKIT_IS_WEB_VIEW(native)) {
    view->Destroy();
    return nullptr;
  }
  Confine(native);
  // After the toolkit's own handler, which only reports the failure and lets the error page come.
  g_signal_connect(native, "load-failed", G_CALLBACK(HideOnFailure), view);
  // Links that ask for a new window stay unopened: the client shows one window only.
  view->Bind(wxEVT_WEBVIEW_NEWWINDOW, [](wxWebViewEvent& event) { event.Veto(); });
  view->EnableContextMenu(false);
  view->LoadURL(wxString::FromUTF8(url));
  return view;
}

#else

// Without WebKit's own interface the view could not be held in, so there is none.
wxWebView* CreateNoticeView(wxWindow*, const wxRect&, const std::string&) { return nullptr; }

#endif
