// The FTP connection on Windows, over WinINet, the system's own FTP client.
//
// Where it differs from the libcurl connection, and why:
// - Proxies are the system's preconfigured ones (INTERNET_OPEN_TYPE_PRECONFIG), not ftp_proxy.
// - The size comes from the folder listing (FtpFindFirstFileW): some Windows-compatible run-times
//   do not implement FtpGetFileSize. A listing always tells a size, so the size is always known.
// - WinINet enters folders itself, so a name with subfolders is read from inside its folder, and
//   the connection goes back to its folder afterwards.
// - Reads are slices of kReadSliceBytes: WinINet's read waits until the whole slice or the end has
//   come, so the slice bounds how long a read may keep progress, the stall rule and the sink's
//   cancel check waiting. A server that falls silent in the middle of a slice is ended by the
//   receive time-out where WinINet applies one to data connections, and by Cancel in any case.
#include <windows.h>
#include <wininet.h>
// The connection's own SetCurrentDirectory, not the file system's wide one that windows.h makes of it.
#undef SetCurrentDirectory

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/wide_win32.h"
#include "transfer/FtpConnection.h"
#include "transfer/FtpConnectionCommon.h"

namespace {

constexpr DWORD kReadSliceBytes = 64 * 1024;

HINTERNET Session(void* handle) { return static_cast<HINTERNET>(handle); }

void SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds);
}

// WinINet's text for the last failure, with the server's last reply when there is one.
std::string LastWinInetError(const char* what) {
  const DWORD code = GetLastError();
  std::string text = std::string(what) + " failed (error " + std::to_string(code) + ")";
  DWORD serverCode = 0;
  wchar_t reply[512];
  DWORD length = static_cast<DWORD>(std::size(reply));
  if (InternetGetLastResponseInfoW(&serverCode, reply, &length) && length > 0) {
    text += ": " + platform::Utf8FromWide(std::wstring_view(reply, length));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  }
  return text;
}

// A file name that a listing could match with other files as well.
bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

std::string JoinFolder(const std::string& folder, const std::string& sub) {
  if (sub.empty()) return folder;
  if (folder.empty() || folder.back() == '/') return folder + sub;
  return folder + "/" + sub;
}

// Enters the folder that holds `name` (relative to `folder`, the connection's folder) and gives the
// name within it; LeaveFolderOf enters the connection's folder again.
bool EnterFolderOf(HINTERNET ftp, const std::string& folder, const std::string& name, std::string& base,
                   std::string& error) {
  const size_t slash = name.rfind('/');
  base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (slash == std::string::npos) return true;
  const std::string inner = JoinFolder(folder, name.substr(0, slash));
  if (FtpSetCurrentDirectoryW(ftp, platform::WideFromUtf8(inner).c_str())) return true;
  error = LastWinInetError("FtpSetCurrentDirectory");
  return false;
}

void LeaveFolderOf(HINTERNET ftp, const std::string& folder, const std::string& name) {
  if (name.find('/') != std::string::npos) FtpSetCurrentDirectoryW(ftp, platform::WideFromUtf8(folder).c_str());
}

}  // namespace

CFtpConnection::CFtpConnection(std::string host, int port)
    : m_host(std::move(host)), m_port(port), m_stallBytesPerSecond(kStallBytesPerSecond), m_stallSeconds(kStallSeconds) {}

CFtpConnection::~CFtpConnection() { Close(); }

void CFtpConnection::Close() {
  // Closing the FTP connection's handle says QUIT.
  if (m_multi) InternetCloseHandle(Session(m_multi));
  m_multi = nullptr;
  if (m_curl) InternetCloseHandle(Session(m_curl));
  m_curl = nullptr;
  m_connected = false;
}

bool CFtpConnection::Connect() {
  Close();
  if (!IsPlainFtpHostName(m_host) || m_port <= 0 || m_port > 65535) {
    m_lastError = "unusable host name";
    return false;
  }
  HINTERNET session = InternetOpenW(L"TarvoPatchClient", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    m_lastError = LastWinInetError("InternetOpen");
    return false;
  }
  m_curl = session;
  SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
  SetTimeout(session, INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT, kResponseTimeoutSeconds * 1000);
  SetTimeout(session, INTERNET_OPTION_RECEIVE_TIMEOUT, static_cast<DWORD>(m_stallSeconds) * 1000);
  SetTimeout(session, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, static_cast<DWORD>(m_stallSeconds) * 1000);
  HINTERNET ftp = InternetConnectW(session, platform::WideFromUtf8(m_host).c_str(), static_cast<INTERNET_PORT>(m_port),
                                   platform::WideFromUtf8(kUserName).c_str(), platform::WideFromUtf8(kPassword).c_str(),
                                   INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  if (!ftp) {
    m_lastError = LastWinInetError("InternetConnect");
    Close();
    return false;
  }
  m_multi = ftp;
  // Relative folders are taken from the login folder, whatever folder was entered last.
  wchar_t login[1024];
  DWORD length = static_cast<DWORD>(std::size(login));
  m_folderPath = FtpGetCurrentDirectoryW(ftp, login, &length) ? platform::Utf8FromWide(login) : "/";
  m_loginFolder = m_folderPath;
  m_connected = true;
  return true;
}

bool CFtpConnection::SetCurrentDirectory(const std::string& folder) {
  if (!m_multi) return false;
  const std::string target = !folder.empty() && folder[0] == '/' ? folder : JoinFolder(m_loginFolder, folder);
  if (!FtpSetCurrentDirectoryW(Session(m_multi), platform::WideFromUtf8(target).c_str())) {
    m_lastError = LastWinInetError("FtpSetCurrentDirectory");
    return false;
  }
  m_folderPath = target;
  return true;
}

bool CFtpConnection::GetFileLength(const std::string& name, uint64_t& size, bool* sizeKnown) {
  if (sizeKnown) *sizeKnown = false;
  if (!m_multi || name.empty() || HasWildcard(name)) return false;
  std::string base;
  if (!EnterFolderOf(Session(m_multi), m_folderPath, name, base, m_lastError) || base.empty()) return false;
  WIN32_FIND_DATAW found{};
  HINTERNET find = FtpFindFirstFileW(Session(m_multi), platform::WideFromUtf8(base).c_str(), &found,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  bool isFile = false;
  if (find) {
    // Listing a folder's name lists what is inside it: only the entry of that very name counts.
    isFile = platform::Utf8FromWide(found.cFileName) == base && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    InternetCloseHandle(find);
  } else {
    m_lastError = LastWinInetError("FtpFindFirstFile");
  }
  LeaveFolderOf(Session(m_multi), m_folderPath, name);
  if (!isFile) return false;
  size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  if (sizeKnown) *sizeKnown = true;
  return true;
}

void CFtpConnection::SetStallLimit(long bytesPerSecond, long seconds) {
  m_stallBytesPerSecond = bytesPerSecond;
  m_stallSeconds = seconds;
  if (m_curl) {
    SetTimeout(Session(m_curl), INTERNET_OPTION_RECEIVE_TIMEOUT, static_cast<DWORD>(seconds) * 1000);
    SetTimeout(Session(m_curl), INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, static_cast<DWORD>(seconds) * 1000);
  }
}

FtpReadResult CFtpConnection::ReadFileFrom(const std::string& name, FtpReadSink& sink, uint64_t startAt,
                                           uint64_t maxBytes, int64_t /*heldModified*/) {
  // WinINet sends TYPE and PASV between a REST of ours and its RETR, where servers may drop the
  // restart mark: a broken transfer is fetched again from its start.
  if (startAt > 0) {
    m_lastError = "this client does not resume";
    return FtpReadResult::kResumeRefused;
  }
  uint64_t size = 0;
  if (!GetFileLength(name, size)) return FtpReadResult::kBroken;
  if (size > maxBytes) {
    m_lastError = "the file is larger than allowed";
    return FtpReadResult::kFailed;
  }
  std::string base;
  if (!EnterFolderOf(Session(m_multi), m_folderPath, name, base, m_lastError)) return FtpReadResult::kBroken;
  HINTERNET file = FtpOpenFileW(Session(m_multi), platform::WideFromUtf8(base).c_str(), GENERIC_READ,
                                FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!file) {
    m_lastError = LastWinInetError("FtpOpenFile");
    LeaveFolderOf(Session(m_multi), m_folderPath, name);
    return FtpReadResult::kBroken;
  }
  sink.OnStart(size, true);
  std::vector<char> buffer(kReadSliceBytes);
  uint64_t received = 0;
  bool ended = false;
  bool unusable = false;  // more than announced, or stopped by the sink
  // The stall rule: fewer than m_stallBytesPerSecond over a window of m_stallSeconds fails.
  uint32_t windowStart = platform::TimeGetTime();
  uint64_t windowBytes = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(file, buffer.data(), kReadSliceBytes, &got)) {
      m_lastError = LastWinInetError("InternetReadFile");
      break;
    }
    if (got == 0) {
      ended = true;
      break;
    }
    if (got > size - received) {
      m_lastError = "the file changed while it was sent";
      unusable = true;
      break;
    }
    received += got;
    if (!sink.OnData(buffer.data(), got)) {
      m_lastError = "the transfer was stopped";
      unusable = true;
      break;
    }
    windowBytes += got;
    const uint32_t elapsed = platform::TimeGetTime() - windowStart;
    if (elapsed >= static_cast<uint32_t>(m_stallSeconds) * 1000u) {
      if (windowBytes * 1000u < static_cast<uint64_t>(m_stallBytesPerSecond) * elapsed) {
        m_lastError = "the transfer stalled";
        break;
      }
      windowStart += elapsed;
      windowBytes = 0;
    }
  }
  // Closing the file's handle ends the data connection and takes the server's closing reply.
  InternetCloseHandle(file);
  LeaveFolderOf(Session(m_multi), m_folderPath, name);
  if (unusable || (ended && received != size)) {
    if (ended) m_lastError = "the file changed while it was sent";
    return FtpReadResult::kFailed;
  }
  return ended ? FtpReadResult::kComplete : FtpReadResult::kBroken;
}
