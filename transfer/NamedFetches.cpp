#include <string>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "music/MusicNames.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "session/StopCodes.h"
#include "transfer/FtpFetch.h"

namespace {

constexpr int kReplaceTries = 10;
constexpr uint32_t kReplacePauseMs = 500;

// Puts a downloaded file in place of an old one that may still be in use (tried for about five
// seconds), keeping the old one's modes. If the old file is missing or never lets go, the new one
// stays under its temporary name.
void ReplaceFile(const char* oldName, const char* newName) {
  for (int i = 0; i < kReplaceTries; ++i) {
    if (platform::FileExists(oldName) &&
        platform::PutFileInPlace(newName, oldName, true) == platform::PlaceResult::kPlaced) {
      return;
    }
    platform::SleepMs(kReplacePauseMs);
  }
}

}  // namespace

bool CPatchClientDlg::FetchLauncher() {
  FetchPlan plan;
  plan.hosts = &m_ftpHosts;
  plan.remoteFolderName = "TarvoPatch";
  plan.remoteName = "Tarvo.exe";
  plan.localName = "_Temp.ex_";
  plan.downloadStopCode = STOP_UNFORESEEN;
  plan.afterSuccess = [] { ReplaceFile("Tarvo.exe", "_Temp.ex_"); };
  return RunFetch(*this, plan);
}

bool CPatchClientDlg::FetchAgentList() {
  FetchPlan plan;
  plan.hosts = &m_ftpHosts;
  plan.remoteFolderName = "TarvoPatch";
  plan.remoteName = "AgentIP.ini";
  plan.localName = "_AgentIP.in_";
  plan.downloadStopCode = STOP_UNFORESEEN;
  plan.afterSuccess = [] { ReplaceFile("AgentIP.ini", "_AgentIP.in_"); };
  return RunFetch(*this, plan);
}

bool CPatchClientDlg::FetchPatchClient() {
  FetchPlan plan;
  plan.hosts = &m_ftpHosts;
  plan.remoteFolderName = "TarvoPatch";
  plan.localFolder = "Temp";
  plan.localFolderToRemove = "Temp";
  plan.remoteName = "TarvoPatchClient.exe";
  plan.localName = "TarvoPatchClient.ex_";
  plan.downloadStopCode = STOP_CLIENT_PATCH;
  plan.afterSuccess = [] { platform::PutFileInPlace("TarvoPatchClient.ex_", "TarvoPatchClient.exe", false); };
  return RunFetch(*this, plan);
}

bool CPatchClientDlg::FetchMusicList() {
  FetchPlan plan;
  plan.hosts = &m_ftpHosts;
  plan.remoteFolderName = "TarvoPatch";
  plan.localFolder = "Image/Temp";
  plan.localFolderToRemove = "Image/Temp";
  plan.remoteName = "QKNList.dat";
  plan.localName = "QKNList_New.dat";
  plan.downloadStopCode = STOP_MUSIC_DATA;
  return RunFetch(*this, plan);
}

bool CPatchClientDlg::FetchMusic(uint32_t musicId) {
  const std::string name = MusicFileName(musicId);
  FetchPlan plan;
  plan.hosts = &m_gameHosts;
  plan.remoteFolderName = "TarvoMusic";
  plan.localFolder = "Music/Temp";
  plan.localFolderToRemove = "Music/temp";
  plan.remoteName = name;
  plan.localName = "Update.qk_";
  plan.downloadStopCode = STOP_MUSIC_FILE;
  plan.afterSuccess = [name] { platform::PutFileInPlace("Update.qk_", name, false); };
  return RunFetch(*this, plan);
}

bool CPatchClientDlg::InstallMusicList() {
  std::string gameFolder;
  if (!EnterGameFolder(m_strRegKey, gameFolder, this)) return false;
  // Without the Image\Temp folder there is no new list; deleting "QKNList.dat" wherever the
  // current directory happens to be would destroy the wrong file.
  if (!platform::SetCurrentDirectoryNoLink(gameFolder + "\\Image\\Temp")) return true;
  platform::DeleteFile("QKNList.dat");
  platform::PutFileInPlace("QKNList_New.dat", "QKNList.dat", false);
  return EnterGameFolder(m_strRegKey, gameFolder, this);
}
