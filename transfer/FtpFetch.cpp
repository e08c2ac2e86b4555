#include "transfer/FtpFetch.h"

#include <algorithm>
#include <cstdlib>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "session/StopCodes.h"

namespace {

constexpr int kConnectRepeats = 3;  // further full runs of a fetch after a failed connection
constexpr int kDownloadAttempts = 10;
constexpr uint32_t kRetryPauseMs = 500;

// Enters "<game folder>/<folder>", making every missing level of it first ("Image" too, where an
// installation lacks it). False when it still cannot be entered: the fetch has no place to work.
bool EnterLocalFolder(CPatchClientDlg& dlg, const std::string& gameFolder, const char* folder) {
  std::string path = gameFolder + "/" + folder;
  if (platform::SetCurrentDirectoryNoLink(path)) return true;
  std::string levels = gameFolder + "\\" + folder;
  std::replace(levels.begin() + static_cast<std::ptrdiff_t>(gameFolder.size()), levels.end(), '/', '\\');
  dlg.EnsureFolder(levels);
  // A link in the scratch folder's place is never entered: the fetch fails with its stop code.
  return platform::SetCurrentDirectoryNoLink(path);
}

// Whether the download should end now rather than try again.
bool StopAsked(CPatchClientDlg& dlg, const std::atomic<bool>* abandon) {
  return dlg.CancelRequested() || dlg.Loop().HasEnded() || (abandon && abandon->load());
}

// The pause between attempts, in short steps so that a Cancel never waits for it. False when the
// download should end.
bool PauseBeforeRetry(CPatchClientDlg& dlg, const std::atomic<bool>* abandon) {
  constexpr uint32_t kStepMs = 50;
  for (uint32_t waited = 0; waited < kRetryPauseMs; waited += kStepMs) {
    if (StopAsked(dlg, abandon)) return false;
    platform::SleepMs(kStepMs);
  }
  return !StopAsked(dlg, abandon);
}

}  // namespace

bool DownloadWithRetries(CPatchClientDlg& dlg, CFtpConnection& connection, const char* remoteName,
                         const char* localName, uint64_t maxBytes, const std::atomic<bool>* abandon) {
  PartialDownload partial;
  bool downloaded = false;
  while (dlg.m_nTries < kDownloadAttempts) {
    ++dlg.m_nTries;
    if (dlg.DownloadFile(&connection, remoteName, localName, maxBytes, abandon, &partial)) {
      downloaded = true;
      break;
    }
    if (dlg.m_nTries < kDownloadAttempts && !PauseBeforeRetry(dlg, abandon)) break;
  }
  dlg.m_nTries = 0;
  if (!downloaded && partial.size > 0) platform::DeleteFile(localName ? localName : remoteName);
  return downloaded;
}

size_t PickRandomIndex(size_t count) {
  srand(platform::TimeGetTime() & 0x3FF);
  return static_cast<size_t>(rand()) % count;
}

ConnectOutcome ConnectToFolder(CPatchClientDlg& dlg, const std::vector<std::string>& hosts, const char* folderName,
                               std::unique_ptr<CFtpConnection>& connection) {
  std::string remoteFolder = dlg.m_strFtpRoot + "/" + folderName;
  // One copy, so that the count the choice is made from and the entry chosen belong together.
  const std::vector<std::string> hostList = hosts;
  if (hostList.empty()) return ConnectOutcome::kNoHosts;
  const std::string host = hostList[PickRandomIndex(hostList.size())];
  auto opened = std::make_unique<CFtpConnection>(host, FtpPort());
  if (!opened->Connect()) return ConnectOutcome::kFailed;
  opened->SetCurrentDirectory(remoteFolder);
  dlg.m_nTries = 0;
  connection = std::move(opened);
  return ConnectOutcome::kConnected;
}

bool RunFetch(CPatchClientDlg& dlg, const FetchPlan& plan) {
  const bool ownFolder = plan.localFolder != nullptr;
  std::string gameFolder;
  // Whatever a fetch writes lands in the game folder or a folder of it, never anywhere else.
  auto enterGameFolder = [&] { return EnterGameFolder(dlg.m_strRegKey, gameFolder, &dlg); };
  auto returnToGameFolder = [&] { return !ownFolder || enterGameFolder(); };

  std::unique_ptr<CFtpConnection> connection;
  for (;;) {
    if (!enterGameFolder()) return false;
    if (ownFolder && !EnterLocalFolder(dlg, gameFolder, plan.localFolder)) {
      dlg.ReportStop(plan.downloadStopCode);
      return false;
    }
    ConnectOutcome outcome = ConnectToFolder(dlg, *plan.hosts, plan.remoteFolderName, connection);
    if (outcome == ConnectOutcome::kConnected) break;
    if (outcome == ConnectOutcome::kFailed && dlg.m_nTries++ < kConnectRepeats) {
      platform::SleepMs(kRetryPauseMs);
      continue;
    }
    if (returnToGameFolder()) dlg.ReportStop(STOP_FTP_CONNECT);
    return false;
  }

  dlg.m_nTotalBytes = 0;
  dlg.m_nDoneBytes = 0;
  const bool downloaded = DownloadWithRetries(dlg, *connection, plan.remoteName.c_str(), plan.localName.c_str());
  if (!downloaded) {
    connection.reset();
    if (!returnToGameFolder()) return false;
    if (ownFolder && plan.localFolderToRemove) {
      platform::RemoveDirectory(gameFolder + "/" + plan.localFolderToRemove);
    }
    dlg.ReportStop(plan.downloadStopCode);
    return false;
  }

  connection.reset();
  if (plan.afterSuccess) plan.afterSuccess();
  return returnToGameFolder();
}
