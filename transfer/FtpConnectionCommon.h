// What the FTP connection does the same whichever FTP client carries it (libcurl, WinINet).
#pragma once
#include <string>

// Anonymous login sends an e-mail address as its password, by custom.
constexpr const char* kUserName = "anonymous";
constexpr const char* kPassword = "tarvopatch@example.com";
constexpr long kConnectTimeoutMs = 5000;
// A server that stops answering or sending must not hang a patch run for ever.
constexpr long kResponseTimeoutSeconds = 60;
// Far below any real link, far above a trickle that would keep a transfer open for days.
constexpr long kStallBytesPerSecond = 1024;
constexpr long kStallSeconds = 30;

// Host names come from the patch server; anything that could change the meaning of a URL or of a
// command line to the FTP client is refused.
bool IsPlainFtpHostName(const std::string& host);
