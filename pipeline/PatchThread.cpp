// The patch worker: one FTP connection for the whole pending list; per entry make its folder,
// download, unpack, move music for music patches, delete the archive. Then record the new level.
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "pipeline/VersionRules.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "session/StopCodes.h"
#include "transfer/FtpFetch.h"

namespace {

constexpr int kRestarts = 1;  // a failed connection starts a fresh worker while the count was at most this
constexpr uint32_t kRetryPauseMs = 500;

constexpr unsigned kPatchDone = 0;
constexpr unsigned kConnectionGivenUp = 1;
constexpr unsigned kFolderFailed = 2;
constexpr unsigned kPatchFailed = 3;

// "PatchMusic_01.zip" in any case; not "PatchMusic.zip", not "Music\PatchMusic_01.zip".
bool IsMusicPatch(const std::string& name) {
  size_t underscore = name.find('_');
  return underscore != std::string::npos && underscore == 10 && strncasecmp(name.c_str(), "PatchMusic", 10) == 0;
}

// The user closed the window: the run is over and nothing more is installed.
bool RunEnded(CPatchClientDlg& dlg) { return dlg.Loop().HasEnded(); }

}  // namespace

unsigned PatchThread(void* pParam) {
  CPatchClientDlg& dlg = *static_cast<CPatchClientDlg*>(pParam);
  std::string gameFolder;
  if (!EnterGameFolder(dlg.m_strRegKey, gameFolder, &dlg)) return kFolderFailed;
  if (!dlg.m_pPatchList) return kPatchFailed;  // released by a failure that ends the run
  // The list is complete before the worker starts and nobody adds to it later; a copy keeps the
  // worker independent of a release on another thread.
  const std::vector<PatchFileEntry> entries(dlg.m_pPatchList->begin(), dlg.m_pPatchList->end());

  std::unique_ptr<CFtpConnection> connection;
  switch (ConnectToFolder(dlg, dlg.m_ftpHosts, "TarvoPatch", connection)) {
    case ConnectOutcome::kNoHosts:
      dlg.ReportStop(STOP_FTP_CONNECT);
      return kConnectionGivenUp;
    case ConnectOutcome::kFailed:
      if (dlg.m_nTries++ <= kRestarts && !RunEnded(dlg)) {
        platform::SleepMs(kRetryPauseMs);
        dlg.BeginThread(PatchThread);
        return kPatchDone;
      }
      dlg.ReportStop(STOP_FTP_CONNECT);
      return kConnectionGivenUp;
    case ConnectOutcome::kConnected:
      break;
  }

  dlg.m_nDoneBytes = 0;
  for (const PatchFileEntry& entry : entries) {
    if (RunEnded(dlg)) return kPatchFailed;
    const char* name = entry.m_strName.c_str();
    if (!dlg.EnsureFileFolder(entry.m_strName)) {
      dlg.ClearPatchList();
      dlg.MessageBox("Create Folder failed..", MB_OK | MB_ICONEXCLAMATION);
      dlg.ReportStop(STOP_CLIENT);
      return kFolderFailed;
    }
    // An archive larger than its listed size is not the one the list describes.
    const uint64_t listedSize = entry.m_nSize > 0 ? static_cast<uint64_t>(entry.m_nSize) : 0;
    if (!dlg.DownloadFile(connection.get(), name, nullptr, listedSize)) {
      // Left alone, the player would face a locked Start button and no word at all.
      connection.reset();
      platform::DeleteFile(name);
      dlg.ReportStop(STOP_PATCH_DOWNLOAD);
      return kPatchFailed;
    }
    if (!dlg.UnpackFile(name)) {
      connection.reset();
      platform::DeleteFile(name);
      dlg.MessageBox("Unzip failed..", MB_OK | MB_ICONEXCLAMATION);
      dlg.ReportStop(STOP_CLIENT);
      return kPatchFailed;
    }
    if (IsMusicPatch(entry.m_strName) && !dlg.MoveMusicFromTemp(gameFolder.c_str(), 1)) {
      connection.reset();
      platform::DeleteFile(name);
      dlg.ReportStop(STOP_CLIENT);
      return kPatchFailed;
    }
    platform::DeleteFile(name);
  }
  connection.reset();

  dlg.WriteRegFloat("Version3", pipeline::DottedVersion(dlg.m_strServerVersion3));
  dlg.m_btnStart.EnableButton();
  if (dlg.m_bMusicToolClosed) platform::SpawnNoWait("DownloadMusic.exe", {});
  return kPatchDone;
}
