// Texts and small parsers of the session.
#pragma once
#include <string>

extern const char* const kConnectFailedText;
extern const char* const kDisconnectedText;
extern const char* const kRecvFailedText;

// One download place of the server: kind 1 is an FTP host, kind 2 a game host.
struct HostEntry {
  int kind = 0;
  std::string value;
};

// Splits "kind:value" at ':' (empty pieces do not count) and takes the last kind/value pair.
// Entries longer than 259 characters are cut there, as they would be in the work buffer.
HostEntry ParseHostEntry(const std::string& entry);
