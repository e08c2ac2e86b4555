// The patch-server session: connection with one silent retry, the answers to the server's frames,
// and the hand-over to worker thread 1 once the game servers have arrived.
#include <cstdlib>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "session/PatchPacket.h"
#include "session/SessionText.h"
#include "zonet/ZoNet.h"

namespace {

constexpr uint16_t kHello = 0;
constexpr uint16_t kServerVersions = 1;
constexpr uint16_t kSettingsOk = 2;
constexpr uint16_t kDownloadPlaces = 3;
constexpr uint16_t kVersionsOk = 4;
constexpr uint16_t kGameSettings = 5;
constexpr uint16_t kPlacesOk = 9;
constexpr uint16_t kGameServers = 10;

// The library calls back on its own thread; the dialog handles the event on its loop and the
// library waits until it has.
void NetEventCallback(unsigned event, void* context) {
  auto* dlg = static_cast<CPatchClientDlg*>(context);
  switch (event) {
    case ZONET_EVENT_FRAME_READY:
      dlg->SendMessage(WM_NET_RECV, 0, 0);
      break;
    case ZONET_EVENT_CLOSED:
      dlg->SendMessage(WM_NET_STATE, 1, 0);
      break;
    case ZONET_EVENT_CONNECT_FAILED:
      dlg->SendMessage(WM_NET_STATE, 0, 0);
      break;
    default:
      break;
  }
}

bool IsSessionFrame(uint16_t type) {
  return type == kServerVersions || type == kDownloadPlaces || type == kGameSettings || type == kGameServers;
}

void SendHeaderOnly(uint16_t type) {
  PatchPacket packet;
  packet.Prepare(type);
  Send(packet.Buffer(), packet.Length());
}

}  // namespace

void CPatchClientDlg::Connect() {
  if (m_servers.empty()) return;
  srand(platform::TimeGetTime() & 0x3FF);
  const ServerEntry& server = m_servers[static_cast<unsigned>(rand()) % static_cast<unsigned>(m_servers.size())];
  ++m_nConnectAttempts;
  if (ZoNet_StartUp(this, server.host.c_str(), static_cast<uint16_t>(server.port), NetEventCallback))
    SendHeaderOnly(kHello);
}

void CPatchClientDlg::Reconnect() { Connect(); }

LRESULT CPatchClientDlg::OnNetState(WPARAM wParam, LPARAM) {
  if (m_bSessionDone) return 0;
  if (m_nConnectAttempts >= 2 || m_bServerAnswered) {
    m_btnStart.DisableButton();
    MessageBox(wParam ? kDisconnectedText : kConnectFailedText, MB_OK | MB_ICONSTOP);
    PostQuitMessage();
    return 0;
  }
  Reconnect();
  return 0;
}

LRESULT CPatchClientDlg::OnNetRecv(WPARAM, LPARAM) {
  PatchPacket packet;
  uint32_t size = 0;
  if (!Recv(packet.Buffer(), &size)) {
    MessageBox(kRecvFailedText, MB_OK | MB_ICONSTOP);
    return 0;
  }
  OnFrame(packet);
  return 0;
}

void CPatchClientDlg::OnFrame(PatchPacket& packet) {
  // Worker thread 1 reads what these frames write: once it has started they change nothing.
  if (m_bSessionDone && IsSessionFrame(packet.Type())) return;
  switch (packet.Type()) {
    case kServerVersions:
      OnServerVersions(packet);
      break;
    case kDownloadPlaces:
      OnDownloadPlaces(packet);
      break;
    case kGameSettings:
      OnGameSettings(packet);
      break;
    case kGameServers:
      OnGameServerList(packet);
      break;
    default:
      break;  // every other type is dropped
  }
}

void CPatchClientDlg::OnServerVersions(PatchPacket& packet) {
  m_bServerAnswered = true;
  int32_t status = 0;
  packet.ReadU32(status);
  packet.ReadString(m_strServerVersion3);
  packet.ReadString(m_strServerVersion2);
  packet.ReadString(m_strServerVersion1);
  packet.ReadString(m_strServerVersion4);
  if (status == 0) SendHeaderOnly(kVersionsOk);
}

void CPatchClientDlg::OnDownloadPlaces(PatchPacket& packet) {
  int32_t stop = 0, count = 0;
  packet.ReadU32(stop);
  packet.ReadString(m_strGameArg);
  packet.ReadString(m_strFtpRoot);
  packet.ReadU32(count);
  m_ftpHosts.clear();
  m_gameHosts.clear();
  for (int32_t i = 0; i < count; ++i) {
    std::string entry;
    if (!packet.ReadString(entry)) break;  // the frame has ended: no further entries can follow
    if (entry.empty()) continue;
    HostEntry host = ParseHostEntry(entry);
    if (host.kind == 1)
      m_ftpHosts.push_back(host.value);
    else if (host.kind == 2)
      m_gameHosts.push_back(host.value);
  }
  if (stop == 0 && count != 0) SendHeaderOnly(kPlacesOk);
}

void CPatchClientDlg::OnGameSettings(PatchPacket& packet) {
  m_gameFlags.fill(0);
  int32_t status = 0;
  packet.ReadU32(status);
  bool allSet = true;
  for (uint8_t& flag : m_gameFlags) {
    packet.ReadU8(flag);
    allSet = allSet && flag != 0;
  }
  if (status == 0 && allSet) SendHeaderOnly(kSettingsOk);
}

void CPatchClientDlg::OnGameServerList(PatchPacket& packet) {
  int32_t status = 0, count = 0;
  packet.ReadU32(status);
  packet.ReadU32(count);
  m_bSessionDone = true;
  ZoNet_IgnoreFrames();
  if (status == 0) {
    for (int32_t i = 0; i < count; ++i) {
      ServerEntry server;
      int32_t port = 0;
      if (!packet.ReadString(server.host) || !packet.ReadU32(port)) break;
      server.port = port;
      m_gameServers.push_back(server);
    }
  }
  // The worker reads files relative to the current folder, and the music move changes that folder
  // while it runs: both must be done before the worker starts. Without a game folder the run ends
  // here, with the music move's own message first, and nothing is fetched or written.
  std::string gameFolder;
  if (!EnterGameFolder(m_strRegKey, gameFolder, this, "Music patch failed..")) return;
  MoveMusicFromTemp(gameFolder.c_str(), 0);
  BeginThread(VersionCheckThread);
}

int CPatchClientDlg::NextDottedField(std::string& out, const std::string& text, int pos) {
  out.clear();
  const int length = static_cast<int>(text.size());
  if (pos < 0) pos = 0;
  int i = pos;
  while (i < length && text[static_cast<size_t>(i)] != '.') out.push_back(text[static_cast<size_t>(i++)]);
  return i + 1;
}
