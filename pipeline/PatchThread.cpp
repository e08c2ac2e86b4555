// The patch worker: one FTP connection for the whole pending list; per entry make its folder,
// download (up to 10 attempts, each continuing the last), unpack, move music for music patches,
// delete the archive. Then record the new level.
// The unpacking runs on a second thread, one archive behind the downloads, in the list's order.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/GameFolder.h"
#include "common/Ascii.h"
#include "common/RelativePath.h"
#include "install/UnpackSpace.h"
#include "app/PatchClientDlg.h"
#include "pipeline/VersionRules.h"
#include "platform/clock.h"
#include "platform/disk_space.h"
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
  return underscore != std::string::npos && underscore == 10 && AsciiEqualNoCase(std::string_view(name).substr(0, 10), "PatchMusic");
}

// The user closed the window or cancelled: the run is over and nothing more is installed.
bool RunEnded(CPatchClientDlg& dlg) { return dlg.Loop().HasEnded() || dlg.CancelRequested(); }

enum class Failure { kNone, kEnded, kFolder, kDownload, kUnpack, kMusicMove, kNoRoom };

struct Outcome {
  Failure failure = Failure::kNone;
  size_t entry = 0;  // the entry that failed
  uint64_t missingBytes = 0;  // kNoRoom: what the disk lacks
};

// What the disk of the game folder lacks for `needed` bytes; 0 when it has room or cannot tell.
uint64_t MissingBytes(const std::string& gameFolder, uint64_t needed) {
  const int64_t free = platform::FreeDiskBytes(gameFolder);
  if (free < 0 || needed <= static_cast<uint64_t>(free)) return 0;
  return needed - static_cast<uint64_t>(free);
}

std::string NoRoomMessage(uint64_t missingBytes) {
  constexpr uint64_t kMB = 1024 * 1024;
  return "游戏文件夹所在的磁盘空间不足,还需要" + std::to_string((missingBytes + kMB - 1) / kMB) + " MB,因此中断执行.";
}

// At most two archives lie on disk at once: the one unpacked and the one downloaded meanwhile.
uint64_t RoomForDownloads(const std::vector<PatchFileEntry>& entries) {
  uint64_t largest = 0, second = 0;
  for (const PatchFileEntry& entry : entries) {
    const uint64_t size = entry.m_nSize > 0 ? DiskBlocksOf(static_cast<uint64_t>(entry.m_nSize)) : 0;
    if (size > largest) {
      second = largest;
      largest = size;
    } else if (size > second) {
      second = size;
    }
  }
  return largest + second;
}

// What the downloading and the unpacking thread hand each other. The download of archive N+1
// runs while archive N is unpacked, never further ahead, so at most two archives lie on disk.
class Handoff {
 public:
  explicit Handoff(CPatchClientDlg& dlg) : m_dlg(dlg) {}

  // Downloader: waits until archive `index` may start, that is, until every archive before the
  // previous one has been applied, or every archive before it when it lands on the previous one's
  // file (a download deletes and recreates its file, which the unpack may not have opened yet).
  // False when the unpacking failed or the run ended.
  bool WaitToDownload(size_t index, bool sameFileAsPrevious) {
    const size_t mustBeApplied = sameFileAsPrevious ? index : index - std::min<size_t>(index, 1);
    return WaitFor([&] { return m_applied >= mustBeApplied; });
  }
  // Downloader: hands a complete archive over, once the one before it has been taken.
  bool Hand(size_t index) {
    if (!WaitFor([&] { return !m_ready.has_value(); })) return false;
    std::lock_guard<std::mutex> hold(m_lock);
    m_ready = index;
    m_changed.notify_all();
    return true;
  }
  // Downloader: no more archives come.
  void Finish() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_finished = true;
    m_changed.notify_all();
  }
  // Unpacker: the next archive, or none when the downloads are over or the run ended.
  std::optional<size_t> Take() {
    if (!WaitFor([&] { return m_ready.has_value() || m_finished; })) return std::nullopt;
    std::lock_guard<std::mutex> hold(m_lock);
    std::optional<size_t> index = m_ready;
    m_ready.reset();
    return index;
  }
  // Unpacker: archive `index` is in place and its file gone.
  void Applied(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_applied = index + 1;
    m_changed.notify_all();
  }
  void Fail(Failure failure, size_t index, uint64_t missingBytes = 0) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_failure = Outcome{failure, index, missingBytes};
    m_unpackFailed = true;
    m_changed.notify_all();
  }
  // Set when the unpacking failed: the download in flight is given up.
  const std::atomic<bool>& UnpackFailed() const { return m_unpackFailed; }
  Outcome Failed() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_failure;
  }
  // An archive downloaded but never taken.
  std::optional<size_t> Untaken() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_ready;
  }

 private:
  // Waits until `ready` holds; false when the unpacking failed or the run ended meanwhile. The
  // wait looks at the run now and then, as Cancel does not come through this handoff.
  template <typename Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!ready()) {
      if (m_unpackFailed || RunEnded(m_dlg)) return false;
      m_changed.wait_for(hold, std::chrono::milliseconds(50));
    }
    return !m_unpackFailed;
  }

  CPatchClientDlg& m_dlg;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::optional<size_t> m_ready;
  size_t m_applied = 0;
  bool m_finished = false;
  std::atomic<bool> m_unpackFailed{false};
  Outcome m_failure;
};

// The process has one current folder, the game folder, and both threads name files relative to
// it. Only the music move leaves it for a while; it waits until no download uses relative names.
std::shared_mutex g_currentFolder;

// The unpacking thread: applies the archives in the order they are handed over.
void UnpackArchives(CPatchClientDlg& dlg, const std::vector<PatchFileEntry>& entries, const std::string& gameFolder,
                    Handoff& handoff) {
  while (std::optional<size_t> index = handoff.Take()) {
    const std::string& name = entries[*index].m_strName;
    // The archive's files, and the next archive, which may be arriving meanwhile, must fit
    // before the first file is written: a disk that fills up halfway leaves a level half done.
    const size_t next = *index + 1;
    const uint64_t arriving =
        next < entries.size() && entries[next].m_nSize > 0 ? DiskBlocksOf(static_cast<uint64_t>(entries[next].m_nSize)) : 0;
    if (std::optional<uint64_t> needed = UnpackSpaceNeeded(name.c_str())) {
      if (uint64_t missing = MissingBytes(gameFolder, *needed + arriving)) {
        platform::DeleteFile(name);
        handoff.Fail(Failure::kNoRoom, *index, missing);
        return;
      }
    }
    if (!dlg.UnpackFile(name.c_str())) {
      platform::DeleteFile(name);
      handoff.Fail(Failure::kUnpack, *index);
      return;
    }
    if (IsMusicPatch(name)) {
      std::unique_lock<std::shared_mutex> alone(g_currentFolder);
      if (!dlg.MoveMusicFromTemp(gameFolder.c_str(), 1)) {
        platform::DeleteFile(name);
        handoff.Fail(Failure::kMusicMove, *index);
        return;
      }
    }
    platform::DeleteFile(name);
    handoff.Applied(*index);
  }
}

// Downloads every archive on this thread while a second thread unpacks the one before.
Outcome DownloadWhileUnpacking(CPatchClientDlg& dlg, CFtpConnection& connection,
                               const std::vector<PatchFileEntry>& entries, const std::string& gameFolder) {
  Handoff handoff(dlg);
  std::thread unpacker(UnpackArchives, std::ref(dlg), std::cref(entries), std::cref(gameFolder), std::ref(handoff));
  Outcome outcome;
  for (size_t i = 0; i < entries.size() && outcome.failure == Failure::kNone; ++i) {
    const std::string& name = entries[i].m_strName;
    const bool sameFileAsPrevious = i > 0 && LocalNameKey(name) == LocalNameKey(entries[i - 1].m_strName);
    if (!handoff.WaitToDownload(i, sameFileAsPrevious)) break;
    // An archive larger than its listed size is not the one the list describes.
    const uint64_t listedSize = entries[i].m_nSize > 0 ? static_cast<uint64_t>(entries[i].m_nSize) : 0;
    {
      std::shared_lock<std::shared_mutex> here(g_currentFolder);
      if (!dlg.EnsureFileFolder(name)) {
        outcome = Outcome{Failure::kFolder, i};
      } else if (!DownloadWithRetries(dlg, connection, name.c_str(), nullptr, listedSize, &handoff.UnpackFailed())) {
        outcome = Outcome{Failure::kDownload, i};
      }
    }
    if (outcome.failure == Failure::kNone && !handoff.Hand(i)) {
      platform::DeleteFile(name);  // complete, but it will never be unpacked
      break;
    }
  }
  handoff.Finish();
  unpacker.join();

  if (std::optional<size_t> untaken = handoff.Untaken()) platform::DeleteFile(entries[*untaken].m_strName);
  if (RunEnded(dlg)) return Outcome{Failure::kEnded, 0};
  // The earlier archive's failure comes first: it is what the player would have met in order.
  return handoff.UnpackFailed() ? handoff.Failed() : outcome;
}

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
  const uint64_t missingForDownloads = MissingBytes(gameFolder, RoomForDownloads(entries));
  const Outcome outcome = missingForDownloads ? Outcome{Failure::kNoRoom, 0, missingForDownloads}
                                              : DownloadWhileUnpacking(dlg, *connection, entries, gameFolder);
  connection.reset();
  switch (outcome.failure) {
    case Failure::kNone:
      break;
    case Failure::kEnded:
      return kPatchFailed;
    case Failure::kFolder:
      dlg.ClearPatchList();
      dlg.MessageBox("Create Folder failed..", MB_OK | MB_ICONEXCLAMATION);
      dlg.ReportStop(STOP_CLIENT);
      return kFolderFailed;
    case Failure::kDownload:
      // Left alone, the player would face a locked Start button and no word at all.
      dlg.ReportStop(STOP_PATCH_DOWNLOAD);
      return kPatchFailed;
    case Failure::kUnpack:
      dlg.MessageBox("Unzip failed..", MB_OK | MB_ICONEXCLAMATION);
      dlg.ReportStop(STOP_CLIENT);
      return kPatchFailed;
    case Failure::kMusicMove:
      dlg.ReportStop(STOP_CLIENT);
      return kPatchFailed;
    case Failure::kNoRoom:
      dlg.ClearPatchList();
      dlg.MessageBox(NoRoomMessage(outcome.missingBytes), MB_OK | MB_ICONSTOP);
      dlg.ReportStop(STOP_SILENT);
      return kPatchFailed;
  }

  dlg.WriteRegFloat("Version3", pipeline::DottedVersion(dlg.m_strServerVersion3));
  dlg.m_btnStart.EnableButton();
  if (dlg.m_bMusicToolClosed) platform::SpawnNoWait("DownloadMusic.exe", {});
  return kPatchDone;
}
