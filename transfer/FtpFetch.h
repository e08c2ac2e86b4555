// The fetch procedure that every download of the client shares, and its connection step.
//
// A named fetch describes itself with a FetchPlan and calls RunFetch: it picks a random host,
// connects (repeating the whole fetch up to three more times, 500 ms apart, when the connection
// fails), enters the remote folder, makes up to 10 download attempts 500 ms apart into a temporary
// local name, and then either runs the plan's after-step or cleans up and reports the plan's stop
// code. `m_nTries` of the dialog counts across all of that.
//
// The patch list step and the patch worker keep one connection for a whole list and have retry
// rules of their own; they use the connection step and DownloadFile directly:
//
//   std::unique_ptr<CFtpConnection> connection;
//   switch (ConnectToFolder(dlg, dlg.m_ftpHosts, "TarvoPatch", connection)) {
//     case ConnectOutcome::kNoHosts:  ...report stop code 0...
//     case ConnectOutcome::kFailed:   ...their own retry...
//     case ConnectOutcome::kConnected: break;  // m_nTries is 0 now
//   }
//   DownloadWithRetries(dlg, *connection, "Data\\Patch_1.zip", nullptr);  // as often as needed
//   connection.reset();  // closes the control connection
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/FtpConnection.h"

class CPatchClientDlg;

enum class ConnectOutcome { kConnected, kNoHosts, kFailed };

// Connects to a random host of `hosts` and enters the remote folder "<m_strFtpRoot>/<folderName>"
// (entering is not checked: a missing folder shows as missing files). On success sets m_nTries to
// 0 and hands the open connection over. Reports nothing itself.
ConnectOutcome ConnectToFolder(CPatchClientDlg& dlg, const std::vector<std::string>& hosts, const char* folderName,
                               std::unique_ptr<CFtpConnection>& connection);

// Seeds the C library's generator from the millisecond clock (low 10 bits) and picks an index
// below `count` (count > 0).
size_t PickRandomIndex(size_t count);

// Downloads `remoteName` into `localName` (null: the same name) in up to 10 attempts 500 ms apart,
// counted in m_nTries (0 again at the end). An attempt continues the bytes the one before kept
// where the server allows it, so a line that breaks every transfer still brings a file over in
// pieces. Stops early once Cancel is asked for or `abandon` is set; on failure no local file is left.
bool DownloadWithRetries(CPatchClientDlg& dlg, CFtpConnection& connection, const char* remoteName,
                         const char* localName, uint64_t maxBytes = UINT64_MAX,
                         const std::atomic<bool>* abandon = nullptr);

struct FetchPlan {
  const std::vector<std::string>* hosts = nullptr;
  const char* remoteFolderName = nullptr;  // "TarvoPatch", "TarvoMusic", "PatchInfo"
  // Folder under the game folder that the fetch works in ("Music/Temp"), made when missing;
  // null to work in the current directory.
  const char* localFolder = nullptr;
  // Removed (when empty) after a failed download, relative to the game folder.
  const char* localFolderToRemove = nullptr;
  std::string remoteName;
  std::string localName;
  unsigned downloadStopCode = 0;
  // Runs after a successful download, still in the local folder, with the connection closed.
  std::function<void()> afterSuccess;
};

// Returns true when the file was downloaded (and the after-step ran). On failure the stop code
// has been reported, unless the game folder could not be read (which reports its own).
bool RunFetch(CPatchClientDlg& dlg, const FetchPlan& plan);
