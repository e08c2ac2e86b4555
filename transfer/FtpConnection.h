// One anonymous FTP connection over libcurl; on Windows over the system's own client, WinINet
// (platform/ftp_wininet_win32.cpp), with the same behaviour except where that file says.
//
// A connection keeps a single control connection (one libcurl easy handle) for its whole life, so
// a patch run of many files logs in once. Transfers are passive and binary; connecting gives up
// after 5000 ms. Names are relative to the folder set with SetCurrentDirectory and may name
// subfolders with '/'. Proxies come from the environment (ftp_proxy, all_proxy, no_proxy) as
// libcurl reads them. A transfer that moves fewer than 1024 bytes a second for 30 seconds fails, so
// neither a silent server nor a trickle holds a run for ever.
//
// Usage:
//   CFtpConnection connection(host, FtpPort());
//   if (!connection.Connect()) { ...cannot connect... }
//   connection.SetCurrentDirectory("/pub/TarvoPatch");   // or relative to the login folder
//   uint64_t size; if (connection.GetFileLength("sub/file.ext", size)) ...
//   connection.ReadFileFrom("sub/file.ext", sink, 0);   // sink: an FtpReadSink; 0: from the start
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

// The FTP port: $TARVO_FTP_PORT when it holds a port number, else 21.
int FtpPort();

// Receives one file: its size once the transfer has started, then its bytes in order.
class FtpReadSink {
 public:
  virtual ~FtpReadSink() = default;
  // Called once, before the first bytes (and for an empty file too), when the remote file is open.
  // `sizeKnown` is false for servers that do not tell sizes; `size` is 0 then.
  virtual void OnStart(uint64_t size, bool sizeKnown) = 0;
  // Returning false breaks the transfer off.
  virtual bool OnData(const char* data, size_t count) = 0;
};

// How one transfer of ReadFileFrom ended.
enum class FtpReadResult {
  // Every byte from the start offset to the announced end arrived, and no more.
  kComplete,
  // The transfer broke off (or never began): what the sink received is sound, and a later transfer
  // may continue after it.
  kBroken,
  // Nothing received is worth keeping: the file is larger than allowed, brought more or fewer bytes
  // than announced, or the sink stopped it.
  kFailed,
  // The transfer cannot continue at the offset asked for: the server refused REST, tells no size
  // or no modification time, the file is not the one the bytes held came from, or it is shorter
  // than the offset; or the server took REST and then sent from the start (more bytes came than
  // the offset leaves). Nothing the sink heard is worth keeping; the caller starts from 0 instead.
  // A transport that cannot resume answers so to every offset but 0.
  kResumeRefused,
};

// The bytes a broken attempt left in its local file, carried to the next attempt of the same
// download: the remote size and modification time they belong to (size 0: nothing kept).
struct PartialDownload {
  uint64_t size = 0;
  int64_t modified = -1;
};

class CFtpConnection {
 public:
  // Receives the file's bytes in order; returning false breaks the transfer off.
  using DataSink = std::function<bool(const char* data, size_t count)>;

  CFtpConnection(std::string host, int port);
  ~CFtpConnection();  // sends QUIT when the connection is open
  CFtpConnection(const CFtpConnection&) = delete;
  CFtpConnection& operator=(const CFtpConnection&) = delete;

  // Connects and logs in as "anonymous". False when the host cannot be reached, refuses the
  // connection, does not answer within the time-out or refuses the login.
  bool Connect();
  // Makes `folder` the folder later names are relative to: absolute when it starts with '/',
  // else relative to the login folder. False when the server refuses to enter it.
  bool SetCurrentDirectory(const std::string& folder);
  static constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

  // The size of one file; false when it is not there (or is not a plain file). A server that does
  // not tell sizes gives 0 with `*sizeKnown` false. Also learns the file's modification time.
  bool GetFileLength(const std::string& name, uint64_t& size, bool* sizeKnown = nullptr);
  // The modification time (MDTM, seconds since 1970) of the file last asked about, by
  // GetFileLength or ReadFileFrom; kUnknownTime where the server does not tell it.
  static constexpr int64_t kUnknownTime = -1;
  int64_t LastModified() const { return m_lastModified; }
  // Streams one file in binary to `sink` from byte `startAt` (FTP REST) to the end of the
  // transfer. The size is asked first; a file announced larger than `maxBytes` is not fetched, and a
  // transfer that brings more than `maxBytes`, or more than was announced, is broken off at once.
  // kComplete only when the data connection ended normally and the announced size was reached
  // exactly (a file that grew or shrank in between does not count); for a server that tells no
  // sizes, the normal end alone (and such a file is only read from 0). The sink's OnStart receives
  // the whole file's size; the bytes it then hears begin at `startAt`.
  // A transfer from an offset continues bytes held from an earlier one only when the server shows
  // that the file is that one still: its modification time must be `heldModified`, the time
  // LastModified gave when those bytes came. And it counts as complete only when exactly the
  // bytes after the offset came, so a server that ignores REST is found out.
  FtpReadResult ReadFileFrom(const std::string& name, FtpReadSink& sink, uint64_t startAt,
                             uint64_t maxBytes = kNoLimit, int64_t heldModified = kUnknownTime);
  // The whole file from its start, for callers that need only the bytes; true for kComplete.
  bool ReadFile(const std::string& name, const DataSink& onData, uint64_t maxBytes = kNoLimit);
  // A transfer fails when it moves fewer than `bytesPerSecond` for `seconds` (tests shorten it).
  void SetStallLimit(long bytesPerSecond, long seconds);
  void Close();

  const std::string& Host() const { return m_host; }
  // libcurl's text for the last failure (for tests and diagnostics).
  const std::string& LastError() const { return m_lastError; }

 private:
  std::string UrlFor(const std::string& name, bool isFolder) const;
  struct ReadState;
  static size_t OnCurlWrite(char* data, size_t size, size_t count, void* userData);
  bool Perform(const std::string& url, bool bodyWanted, ReadState* state, int* curlCode = nullptr);
  void SizeOfLastTransfer(uint64_t& size, bool& known) const;

  std::string m_host;
  int m_port;
  std::string m_folderPath;  // URL path of the current folder, escaped, ending with '/' (WinINet: the folder's path)
  std::string m_loginFolder;  // WinINet: the folder the login entered, which relative folders start from
  long m_stallBytesPerSecond;
  long m_stallSeconds;
  void* m_curl = nullptr;    // CURL* (WinINet: the internet session)
  void* m_multi = nullptr;   // CURLM*: owns the cached control connection between transfers (WinINet: the FTP connection)
  bool m_connected = false;
  bool m_restRefused = false;  // asked once per connection: libcurl logs in again after a refusal
  int64_t m_lastModified = kUnknownTime;
  std::string m_lastError;
};
