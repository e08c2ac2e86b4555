#include "app/GameFolder.h"

#include <filesystem>

#include "app/PatchClientDlg.h"
#include "platform/files.h"
#include "platform/single_instance.h"
#include "session/StopCodes.h"

namespace {

bool IsEnterable(const std::string& folder) {
  if (folder.empty()) return false;
  const std::string native = platform::ResolvePath(folder);
  return std::filesystem::path(native).is_absolute() && platform::SetCurrentDirectory(folder);
}

std::string GameFolderMessage(const std::string& gameFolder) {
  // The value may hold anything (a number stored as a dword reads as raw bytes): control
  // characters would break the message's line.
  std::string shown;
  for (char c : gameFolder) shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return "无法访问游戏文件夹\"" + shown + "\",因此中断执行.";
}

}  // namespace

bool EnterGameFolder(const std::string& subKey, std::string& gameFolder, CPatchClientDlg* pDlg,
                     const char* stepMessage) {
  if (!ReadDefaultDir(subKey, gameFolder, pDlg)) return false;
  const bool entered = IsEnterable(gameFolder);
  if (!pDlg) return entered;
  // A run works on its installation only while it holds the installation's lock: a client of
  // another user, or one started with other variables, must not patch the same files meanwhile.
  // A folder that cannot be locked at all counts as one that cannot be entered.
  const platform::LockResult lock = entered ? platform::LockFolderForProcess(platform::ResolvePath(gameFolder)) : platform::LockResult::kNoPlace;
  if (lock == platform::LockResult::kTaken) return true;
  if (lock == platform::LockResult::kHeldElsewhere) {
    pDlg->MessageBox("Tarvo is already running!", MB_OK);
  } else {
    if (stepMessage) pDlg->MessageBox(stepMessage, MB_OK);
    pDlg->MessageBox(GameFolderMessage(gameFolder), MB_OK | MB_ICONSTOP);
  }
  pDlg->ReportStop(STOP_SILENT);
  return false;
}
