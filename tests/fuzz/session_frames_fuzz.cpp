// Arbitrary bytes as what a patch server sends: cut into frames as the network library cuts its
// stream, each frame handled by the dialog as it arrives. Nothing may crash or read outside its
// frame, and what the dialog keeps must be no more than the frames held.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/PatchClientDlg.h"
#include "session/PatchPacket.h"
#include "session/SessionText.h"
#include "zonet/ZoNet.h"

namespace {

constexpr size_t kWorkBuffer = 260;  // a download place is cut to fit it

bool Clean(const std::string& text) { return text.find('\0') == std::string::npos; }

bool CleanHost(const std::string& host) {
  return Clean(host) && host.size() < kWorkBuffer && host.find(':') == std::string::npos;
}

void Check(const CPatchClientDlg& dlg, size_t frameBytes) {
  for (const std::string* text : {&dlg.m_strServerVersion1, &dlg.m_strServerVersion2, &dlg.m_strServerVersion3,
                                  &dlg.m_strServerVersion4, &dlg.m_strGameArg, &dlg.m_strFtpRoot})
    if (!Clean(*text) || text->size() >= frameBytes + 1) __builtin_trap();
  // Every kept host took at least two bytes of a frame ("1:x" less its kind, plus the zero).
  if (2 * (dlg.m_ftpHosts.size() + dlg.m_gameHosts.size()) > frameBytes) __builtin_trap();
  for (const auto* hosts : {&dlg.m_ftpHosts, &dlg.m_gameHosts})
    for (const std::string& host : *hosts)
      if (!CleanHost(host)) __builtin_trap();
  // A game server is at least its zero and a four-byte port.
  if (5 * dlg.m_gameServers.size() > frameBytes) __builtin_trap();
  for (const ServerEntry& server : dlg.m_gameServers)
    if (!Clean(server.host)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No registry: the game folder is never found, so a game server list starts no work.
  static const std::string registry =
      (std::filesystem::temp_directory_path() / ("tarvo-frames-fuzz-none-" + std::to_string(getpid()) + ".reg"))
          .string();
  setenv("TARVO_REGISTRY", registry.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPatchClientDlg dlg;
  // The window is already closed: reports return at once instead of waiting for a loop.
  dlg.PostQuitMessage();
  dlg.Loop().Run();

  size_t pos = 0, frameBytes = 0;
  while (size - pos >= 2) {
    const uint32_t length = data[pos] | data[pos + 1] << 8;
    // The library ends the connection on a length outside a frame's limits or a stream cut short.
    if (length < PatchPacket::kHeaderSize || length > ZONET_MAX_FRAME || size - pos < length) break;
    PatchPacket packet;
    std::memcpy(packet.Buffer(), data + pos, length);
    pos += length;
    frameBytes += length;
    dlg.OnFrame(packet);
    Check(dlg, frameBytes);
  }

  // The download place split alone, with the input up to its first zero as one entry.
  const char* text = reinterpret_cast<const char*>(data);
  const HostEntry entry = ParseHostEntry(std::string(text, size ? strnlen(text, size) : 0));
  if (!CleanHost(entry.value)) __builtin_trap();
  return 0;
}
