#include "session/SessionText.h"

#include <cstdlib>
#include <vector>

const char* const kConnectFailedText = "Failed on connecting to server.";
const char* const kDisconnectedText = "Disconnected from server.";
const char* const kRecvFailedText = "Could not read a message from the patch server.";

HostEntry ParseHostEntry(const std::string& entry) {
  constexpr size_t kWorkBuffer = 260;
  const std::string text = entry.substr(0, kWorkBuffer - 1);
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    if (c == ':') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece.push_back(c);
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  HostEntry result;
  for (size_t i = 0; i < pieces.size(); i += 2) {
    result.kind = static_cast<int>(std::strtol(pieces[i].c_str(), nullptr, 10));
    result.value = i + 1 < pieces.size() ? pieces[i + 1] : std::string();
  }
  return result;
}
