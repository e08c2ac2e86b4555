#include "app/GameFolder.h"

#include <filesystem>

#include "app/PatchClientDlg.h"
#include "platform/files.h"
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
  if (IsEnterable(gameFolder)) return true;
  if (pDlg) {
    if (stepMessage) pDlg->MessageBox(stepMessage, MB_OK);
    pDlg->MessageBox(GameFolderMessage(gameFolder), MB_OK | MB_ICONSTOP);
    pDlg->ReportStop(STOP_SILENT);
  }
  return false;
}
