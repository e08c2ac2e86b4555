// The game's command line, built from what the patch server sent during the session.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"

namespace gamelaunch {

// The host's first IPv4 address in dotted form, or "" when it cannot be looked up.
std::string LookUpIPv4(const std::string& host);

using HostLookup = std::function<std::string(const std::string& host)>;

// The fourteen arguments of "Zobi.exe": " ", host count, addresses, FTP root, game argument, the
// eight settings, and the game servers' host and port pairs.
std::vector<std::string> BuildGameArguments(const CPatchClientDlg& dlg, const HostLookup& lookUp);

}  // namespace gamelaunch
