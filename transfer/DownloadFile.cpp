#include <algorithm>
#include <charconv>
#include <cstring>

#include "app/PatchClientDlg.h"
#include "platform/files.h"
#include "transfer/DownloadProgress.h"
#include "transfer/FtpConnection.h"

namespace {

constexpr size_t kBlockBytes = 4096;
constexpr size_t kRemoteNameBuffer = 260;

std::string Decimal(uint32_t value) {
  char text[16];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// A local name comes from the patch server when the caller passes none: it must stay inside the
// current folder (no absolute path, no drive, no "..").
bool IsContainedRelativePath(const char* name) {
  if (!name || !*name || name[0] == '/' || name[0] == '\\') return false;
  if (std::strchr(name, ':')) return false;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
      if (*p == '\0') break;
      component = p + 1;
    }
  }
  return true;
}

}  // namespace

bool CPatchClientDlg::DownloadFile(CFtpConnection* pConnection, const char* remoteName, const char* localName) {
  if (!pConnection || !remoteName) return false;
  const char* local = localName ? localName : remoteName;
  if (!IsContainedRelativePath(local)) {
    ClearPatchList();
    return false;
  }

  platform::DeleteFile(local);
  platform::FileHandle file;
  if (!file.Open(local, platform::kGenericWrite, platform::kShareNone, platform::kCreateAlways)) {
    ClearPatchList();
    return false;
  }

  std::string remotePath(remoteName);
  if (remotePath.size() >= kRemoteNameBuffer) return false;
  for (char& c : remotePath) {
    if (c == '\\') c = '/';
  }

  uint64_t remoteSize = 0;
  bool sizeKnown = false;
  if (!pConnection->GetFileLength(remotePath, remoteSize, &sizeKnown)) return false;
  const uint32_t size = static_cast<uint32_t>(remoteSize);
  if (m_nTotalBytes == 0) m_nTotalBytes = size;
  const uint32_t totalSize = m_nTotalBytes;

  SetProgressPos(IDC_FILE_PROGRESS, 0);
  SetDlgItemText(IDC_STATUS, remoteName);

  const uint32_t doneBefore = m_nDoneBytes;
  uint64_t received = 0;
  uint32_t fileBytes = 0;
  bool writeFailed = false;
  bool transferred = pConnection->ReadFile(remotePath, [&](const char* data, size_t count) {
    if (file.Write(data, count) != static_cast<int64_t>(count)) {
      writeFailed = true;
      return false;
    }
    received += count;
    // Progress moves in blocks of at most 4096 bytes, whatever the network hands over at once.
    for (size_t offset = 0; offset < count; offset += kBlockBytes) {
      uint32_t block = static_cast<uint32_t>(std::min(kBlockBytes, count - offset));
      m_nDoneBytes += block;
      fileBytes += block;
      SetDlgItemText(IDC_FILE_BYTES, Decimal(fileBytes));
      SetProgressPos(IDC_FILE_PROGRESS, transfer::BarPosition(fileBytes, size));
      SetDlgItemText(IDC_TOTAL_BYTES, Decimal(m_nDoneBytes));
      SetProgressPos(IDC_TOTAL_PROGRESS, transfer::BarPosition(m_nDoneBytes, totalSize));
    }
    return true;
  });

  // A transfer that broke off (or came out shorter than the server said) is a failed attempt:
  // its bytes do not count, and no partial file stays behind under the name.
  if (!transferred || writeFailed || (sizeKnown && received != remoteSize)) {
    m_nDoneBytes = doneBefore;
    file.Close();
    platform::DeleteFile(local);
    return false;
  }
  file.Close();
  return true;
}
