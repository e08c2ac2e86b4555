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

// Opens the local file for a new transfer: empty, or, when `continuing`, the part an earlier attempt
// left, positioned at its end. Returns the bytes it holds, or -1 when it cannot be opened. A link in
// the file's place is never opened for writing; it is removed, and an empty file takes its place.
int64_t OpenLocal(platform::FileHandle& file, const char* local, bool continuing) {
  file.Close();
  if (continuing && file.Open(local, platform::kGenericWrite, platform::kShareNone, platform::kOpenExisting)) {
    int64_t end = file.Seek(0, platform::kFileEnd);
    if (end >= 0) return end;
    file.Close();
  }
  platform::DeleteFile(local);
  return file.Open(local, platform::kGenericWrite, platform::kShareNone, platform::kCreateAlways) ? 0 : -1;
}

}  // namespace

bool CPatchClientDlg::DownloadFile(CFtpConnection* pConnection, const char* remoteName, const char* localName,
                                   uint64_t maxBytes, const std::atomic<bool>* abandon, PartialDownload* partial) {
  if (!pConnection || !remoteName) return false;
  const char* local = localName ? localName : remoteName;
  // A local name comes from the patch server when the caller passes none.
  if (!*local || !IsContainedRelativePath(local)) {
    ClearPatchList();
    return false;
  }

  // Longer names would not fit the name buffer of the transfer.
  if (std::strlen(remoteName) >= kRemoteNameBuffer) return false;

  // The bytes an earlier attempt kept were counted then; they are counted once, and taken back
  // only when they are thrown away.
  uint64_t partialSize = partial ? partial->size : 0;
  const int64_t partialModified = partial ? partial->modified : CFtpConnection::kUnknownTime;
  if (partial) *partial = PartialDownload{};
  platform::FileHandle file;
  int64_t opened = OpenLocal(file, local, partialSize > 0);
  if (opened < 0) {
    ClearPatchList();
    return false;
  }
  uint64_t kept = static_cast<uint64_t>(opened);
  if (kept > m_nDoneBytes || kept > partialSize) {  // not what this fetch kept: start again
    opened = OpenLocal(file, local, false);
    if (opened < 0) return false;
    kept = 0;
  }
  if (kept == 0) partialSize = 0;
  const uint32_t doneBefore = m_nDoneBytes - static_cast<uint32_t>(kept);

  std::string remotePath(remoteName);
  for (char& c : remotePath) {
    if (c == '\\') c = '/';
  }

  // The remote size arrives with the transfer; until it does, nothing on screen changes.
  class ProgressSink : public FtpReadSink {
   public:
    ProgressSink(CPatchClientDlg& dlg, platform::FileHandle& file, const char* shownName,
                 const std::atomic<bool>* abandon, uint64_t kept, uint64_t partialSize)
        : m_dlg(dlg),
          m_file(file),
          m_shownName(shownName),
          m_abandon(abandon),
          m_partialSize(partialSize),
          m_size(static_cast<uint32_t>(partialSize)),
          m_fileBytes(static_cast<uint32_t>(kept)) {}

    void OnStart(uint64_t size, bool sizeKnown) override {
      // Bytes kept from a file of another size belong to another file.
      m_sizeChanged = m_partialSize > 0 && size != m_partialSize;
      if (m_sizeChanged) return;
      m_size = static_cast<uint32_t>(size);
      m_sizeKnown = sizeKnown;
      if (m_dlg.m_nTotalBytes == 0) m_dlg.m_nTotalBytes = m_size;
      m_totalSize = m_dlg.m_nTotalBytes;
      m_dlg.SetProgressPos(IDC_FILE_PROGRESS, transfer::BarPosition(m_fileBytes, m_size));
      m_dlg.SetDlgItemText(IDC_STATUS, m_shownName);
    }

    bool OnData(const char* data, size_t count) override {
      if (m_sizeChanged || (m_abandon && m_abandon->load()) || m_dlg.CancelRequested()) return false;
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
    bool SizeChanged() const { return m_sizeChanged; }
    // The remote size the bytes written so far belong to; 0 when it is not known.
    uint64_t SizeOfWritten() const { return m_sizeKnown || m_partialSize > 0 ? m_size : 0; }

   private:
    CPatchClientDlg& m_dlg;
    platform::FileHandle& m_file;
    const char* m_shownName;
    const std::atomic<bool>* m_abandon;
    const uint64_t m_partialSize;
    uint32_t m_size = 0;
    uint32_t m_totalSize = 0;
    uint32_t m_fileBytes = 0;
    bool m_sizeKnown = false;
    bool m_sizeChanged = false;
    bool m_writeFailed = false;
  };

  for (;;) {
    ProgressSink sink(*this, file, remoteName, abandon, kept, partialSize);
    const FtpReadResult result = pConnection->ReadFileFrom(remotePath, sink, kept, maxBytes, partialModified);
    if (kept > 0 && (result == FtpReadResult::kResumeRefused || sink.SizeChanged())) {
      // The server cannot continue these bytes: they go, and the file comes from its start.
      m_nDoneBytes = doneBefore;
      kept = partialSize = 0;
      if (OpenLocal(file, local, false) < 0) return false;
      continue;
    }
    if (result == FtpReadResult::kComplete && !sink.WriteFailed()) {
      file.Close();
      return true;
    }
    // A transfer that broke off leaves sound bytes for the next attempt to continue; any other
    // failure (a file other than announced, a full disk, a Cancel) leaves nothing under the name.
    const int64_t written = file.Size();
    if (partial && result == FtpReadResult::kBroken && !sink.WriteFailed() && written > 0 &&
        sink.SizeOfWritten() > 0) {
      *partial = PartialDownload{sink.SizeOfWritten(), pConnection->LastModified()};
      m_nDoneBytes = doneBefore + static_cast<uint32_t>(written);
      file.Close();
      return false;
    }
    m_nDoneBytes = doneBefore;
    file.Close();
    platform::DeleteFile(local);
    return false;
  }
}
