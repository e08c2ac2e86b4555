// The notice page's web view. The page comes from outside and is treated as hostile: the view shows
// http and https pages and refuses everything else a page can ask for (downloads, printing,
// permissions, file and colour choosers, new windows, script dialogs, log-ins, full screen), and the
// page's storage stays off, so nothing it does writes a file, opens a second window or takes the
// window's input.
#pragma once
#include <wx/gdicmn.h>

#include <string>

class wxWebView;
class wxWindow;

// Makes the view in `parent` at `rect` and only then opens `url`, a web address (anything else is
// never opened). nullptr when the view cannot be made or held in; the notice area then shows the
// window's picture.
wxWebView* CreateNoticeView(wxWindow* parent, const wxRect& rect, const std::string& url);
