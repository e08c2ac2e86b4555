#include "app/GameLaunch.h"


#include <cstdio>
#include <cstdlib>

#include "app/GameFolder.h"
#include "platform/files.h"
#include "platform/name_lookup.h"
#include "platform/process.h"
#include "session/StopCodes.h"

namespace {
const char* const kGameNotStarted = "无法启动游戏程序\"Zobi.exe\",因此中断执行.";
}  // namespace

namespace gamelaunch {

std::string LookUpIPv4(const std::string& host) { return platform::LookUpIPv4(host); }

namespace {

void CutLastBlank(std::string& text) {
  if (!text.empty() && text.back() == ' ') text.pop_back();
}

std::string GameServerText(const std::vector<ServerEntry>& servers) {
  std::string text;
  for (const ServerEntry& server : servers) {
    // Each pair fits 260 bytes. An overlong host from the server is shortened, never the port, so
    // the game still reads host and port pairs.
    constexpr size_t kPairBuffer = 260;
    std::string port = " " + std::to_string(server.port) + " ";
    size_t hostRoom = kPairBuffer - 1 - port.size();
    text += server.host.substr(0, hostRoom) + port;
  }
  CutLastBlank(text);
  return text;
}

std::string AddressText(const std::vector<std::string>& hosts, const HostLookup& lookUp) {
  std::string text;
  for (const std::string& host : hosts) {
    text += lookUp(host);
    text += ' ';
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace

std::vector<std::string> BuildGameArguments(const CPatchClientDlg& dlg, const HostLookup& lookUp) {
  std::vector<std::string> args;
  args.push_back(" ");
  args.push_back(std::to_string(dlg.m_gameHosts.size()));
  args.push_back(AddressText(dlg.m_gameHosts, lookUp));
  args.push_back(dlg.m_strFtpRoot);
  args.push_back(dlg.m_strGameArg);
  for (uint8_t flag : dlg.m_gameFlags) args.push_back(std::to_string(flag));
  args.push_back(GameServerText(dlg.m_gameServers));
  return args;
}

}  // namespace gamelaunch

void CPatchClientDlg::OnStartGame(int) {
  if (m_gameServers.empty()) {
    ReportStop(STOP_NO_SERVER_INFO);
    return;
  }
  // The game reads the installed versions; an installation that never recorded one gets the server's.
  const char* const names[] = {"Version1", "Version2", "Version3", "Version4"};
  const std::string* const serverTexts[] = {&m_strServerVersion1, &m_strServerVersion2, &m_strServerVersion3,
                                            &m_strServerVersion4};
  for (int i = 0; i < 4; ++i) {
    if (ReadRegFloat(names[i]) == 0.0f) {
      WriteRegFloat(names[i], static_cast<float>(std::atof(serverTexts[i]->c_str())));
    }
  }
  // The game is named relative to the game folder; a worker may have left another folder current.
  std::string gameFolder;
  if (!EnterGameFolder(m_strRegKey, gameFolder, this)) return;
  if (!platform::SpawnNoWait("Zobi.exe", gamelaunch::BuildGameArguments(*this, gamelaunch::LookUpIPv4))) {
    // Ending as if the game had started would leave the player with nothing at all.
    MessageBox(kGameNotStarted, MB_OK | MB_ICONSTOP);
    ReportStop(STOP_SILENT);
    return;
  }
  ReportStop(STOP_DONE);
}

void RelaunchLauncher() {
  // This runs at process exit, when a worker may have left the current directory anywhere; the
  // launcher lives in the game folder, and no other folder's "Tarvo.exe" may be started instead.
  std::string gameFolder;
  if (!EnterGameFolder("SOFTWARE\\Brix\\Tarvo", gameFolder, nullptr)) return;
  platform::SpawnNoWait("Tarvo.exe", {" "});
}
