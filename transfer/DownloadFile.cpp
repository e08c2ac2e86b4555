#include <algorithm>
#include <charconv>
#include <cstring>

#include "app/PatchClientDlg.h"
#include "common/RelativePath.h"
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

}  // namespace

bool CPatchClientDlg::DownloadFile(CFtpConnection* pConnection, const char* remoteName, const char* localName,
                                   uint64_t maxBytes, const std::atomic<bool>* abandon) {
  if (!pConnection || !remoteName) return false;
  const char* local = localName ? localName : remoteName;
  // A local name comes from the patch server when the caller passes none.
  if (!*local || !IsContainedRelativePath(local)) {
    ClearPatchList();
    return false;
  }

  // Longer names would not fit the name buffer of the transfer.
  if (std::strlen(remoteName) >= kRemoteNameBuffer) return false;

  platform::DeleteFile(local);
  platform::FileHandle file;
  if (!file.Open(local, platform::kGenericWrite, platform::kShareNone, platform::kCreateAlways)) {
    ClearPatchList();
    return false;
  }

  std::string remotePath(remoteName);
  for (char& c : remotePath) {
    if (c == '\\') c = '/';
  }

  // The remote size arrives with the transfer; until it does, nothing on screen changes.
  class ProgressSink : public FtpReadSink {
   public:
    ProgressSink(CPatchClientDlg& dlg, platform::FileHandle& file, const char* shownName,
                 const std::atomic<bool>* abandon)
        : m_dlg(dlg), m_file(file), m_shownName(shownName), m_abandon(abandon) {}

    void OnStart(uint64_t size, bool) override {
      m_size = static_cast<uint32_t>(size);
      if (m_dlg.m_nTotalBytes == 0) m_dlg.m_nTotalBytes = m_size;
      m_totalSize = m_dlg.m_nTotalBytes;
      m_dlg.SetProgressPos(IDC_FILE_PROGRESS, 0);
      m_dlg.SetDlgItemText(IDC_STATUS, m_shownName);
    }

    bool OnData(const char* data, size_t count) override {
      if ((m_abandon && m_abandon->load()) || m_dlg.CancelRequested()) return false;
      if (m_file.Write(data, count) != static_cast<int64_t>(count)) {
        m_writeFailed = true;
        return false;
      }
      // Progress moves in blocks of at most 4096 bytes, whatever the network hands over at once.
      for (size_t offset = 0; offset < count; offset += kBlockBytes) {
        uint32_t block = static_cast<uint32_t>(std::min(kBlockBytes, count - offset));
        m_dlg.m_nDoneBytes += block;
        m_fileBytes += block;
        m_dlg.SetDlgItemText(IDC_FILE_BYTES, Decimal(m_fileBytes));
        m_dlg.SetProgressPos(IDC_FILE_PROGRESS, transfer::BarPosition(m_fileBytes, m_size));
        m_dlg.SetDlgItemText(IDC_TOTAL_BYTES, Decimal(m_dlg.m_nDoneBytes));
        m_dlg.SetProgressPos(IDC_TOTAL_PROGRESS, transfer::BarPosition(m_dlg.m_nDoneBytes, m_totalSize));
      }
      return true;
    }

    bool WriteFailed() const { return m_writeFailed; }

   private:
    CPatchClientDlg& m_dlg;
    platform::FileHandle& m_file;
    const char* m_shownName;
    const std::atomic<bool>* m_abandon;
    uint32_t m_size = 0;
    uint32_t m_totalSize = 0;
    uint32_t m_fileBytes = 0;
    bool m_writeFailed = false;
  };

  const uint32_t doneBefore = m_nDoneBytes;
  ProgressSink sink(*this, file, remoteName, abandon);
  bool transferred = pConnection->ReadFile(remotePath, sink, maxBytes);

  // A file that could not be opened, or a transfer that broke off, or brought other than the
  // server said it has, is a failed attempt: its bytes do not count, and no file stays behind
  // under the name.
  if (!transferred || sink.WriteFailed()) {
    m_nDoneBytes = doneBefore;
    file.Close();
    platform::DeleteFile(local);
    return false;
  }
  file.Close();
  return true;
}
