// The patch list step: on the user-interface thread, while worker thread 1 waits, fetch the level's
// file list, build the pending patch list and start the patch worker.
#include <memory>
#include <string>

#include "app/GameFolder.h"
#include "app/PatchClientDlg.h"
#include "pipeline/PatchListFile.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "session/StopCodes.h"
#include "transfer/FtpFetch.h"

namespace {

constexpr int kConnectRepeats = 3;
constexpr int kCopyAttempts = 10;
constexpr uint32_t kRetryPauseMs = 500;
constexpr const char* kLocalList = "TempList.dat";

constexpr LRESULT kListDone = 0;
constexpr LRESULT kNoGameFolder = 2;
constexpr LRESULT kListFailed = 3;

// Copies one remote file as it is, without touching the progress controls.
bool CopyRemoteFile(CFtpConnection& connection, const std::string& remoteName, const char* localName) {
  platform::FileHandle file;
  if (!file.Open(localName, platform::kGenericWrite, platform::kShareNone, platform::kCreateAlways)) return false;
  bool writeFailed = false;
  bool read = connection.ReadFile(
      remoteName,
      [&](const char* data, size_t count) {
        writeFailed = file.Write(data, count) != static_cast<int64_t>(count);
        return !writeFailed;
      },
      pipeline::kMaxPatchListBytes);
  return read && !writeFailed;
}

bool ReadWholeFile(const char* name, std::string& text) {
  platform::FileHandle file;
  if (!file.Open(name, platform::kGenericRead, platform::kShareRead, platform::kOpenExisting)) return false;
  int64_t size = file.Size();
  if (size < 0 || size > pipeline::kMaxPatchListBytes) return false;
  text.resize(static_cast<size_t>(size));
  return file.Read(text.data(), text.size()) == size;
}

}  // namespace

LRESULT CPatchClientDlg::OnPatchList(WPARAM wParam, LPARAM lParam) {
  // A list released by an earlier failure belongs to a run that is ending; nothing may be added
  // to it or installed from it.
  if (!m_pPatchList) return kListFailed;

  std::string gameFolder;
  if (!EnterGameFolder(m_strRegKey, gameFolder, this)) return kNoGameFolder;

  std::unique_ptr<CFtpConnection> connection;
  switch (ConnectToFolder(*this, m_ftpHosts, "PatchInfo", connection)) {
    case ConnectOutcome::kNoHosts:
      ReportStop(STOP_FTP_CONNECT);
      return kListDone;
    case ConnectOutcome::kFailed:
      if (m_nTries++ < kConnectRepeats) {
        platform::SleepMs(kRetryPauseMs);
        return OnPatchList(wParam, lParam);
      }
      ReportStop(STOP_FTP_CONNECT);
      return kListFailed;
    case ConnectOutcome::kConnected:
      break;
  }

  const std::string listName = pipeline::PatchListName(static_cast<unsigned>(wParam));
  uint64_t listSize = 0;
  if (!connection->GetFileLength(listName, listSize)) {
    ReportStop(STOP_PATCH_NOT_FOUND);
    return kListFailed;
  }

  platform::DeleteFile(kLocalList);
  m_nTotalBytes = 0;
  m_nDoneBytes = 0;
  bool copied = false;
  while (!copied && m_nTries < kCopyAttempts) {
    ++m_nTries;
    copied = CopyRemoteFile(*connection, listName, kLocalList);
    if (!copied && m_nTries < kCopyAttempts) platform::SleepMs(kRetryPauseMs);
  }
  m_nTries = 0;
  connection.reset();
  if (!copied) {
    platform::DeleteFile(kLocalList);
    ReportStop(STOP_PATCH_DOWNLOAD);
    return kListFailed;
  }

  std::string text;
  const bool readable = ReadWholeFile(kLocalList, text);
  platform::DeleteFile(kLocalList);
  pipeline::PatchList list;
  if (!readable || pipeline::ParsePatchList(text, list) != pipeline::PatchListResult::kOk) {
    ReportStop(STOP_PATCH_NOT_FOUND);
    return kListFailed;
  }

  m_strServerVersion3 = list.targetVersion;
  m_nTotalBytes = list.totalBytes;
  m_pPatchList->assign(std::make_move_iterator(list.entries.begin()), std::make_move_iterator(list.entries.end()));
  if (!m_pPatchList->empty()) {
    BeginThread(PatchThread);
  } else {
    m_btnStart.EnableButton();
  }
  return kListDone;
}
