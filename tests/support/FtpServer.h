// A real anonymous, read-only FTP server (pyftpdlib) on 127.0.0.1 for tests and benchmarks.
//
// The server runs in its own process on a free port and is stopped by the destructor. Everything
// it says and hears goes to a log, so a test can check what the client did (for example count the
// logins of a patch run).
#pragma once
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>

#include "support/TempDir.h"

class FtpServer {
 public:
  struct Options {
    // Folder served as the login folder; a fresh temporary folder (removed at the end) when empty.
    std::string root;
    // Paths relative to the root whose first transfer breaks halfway: the server sends half of
    // what the transfer asked for, then drops the data connection and answers 426. Later transfers
    // are whole.
    std::vector<std::string> cutFirstTransferOf;
    // How many transfers of each such file break before they start to succeed.
    int cutTimes = 1;
    // Paths relative to the root sent in pieces of `slowChunkBytes` with 100 ms between them, so
    // the client sees each piece arrive on its own.
    std::vector<std::string> slowFiles;
    int slowChunkBytes = 1000;
    // "PATH=N": SIZE of PATH answers N whatever the file holds, as for a file that grows or
    // shrinks between SIZE and RETR; "PATH=N/T": only the first T times; N "none": SIZE is
    // refused, as by a server that tells no sizes. Such files are sent whole and reported
    // complete even when the client stops reading early.
    std::vector<std::string> announcedSizes;
    // Paths relative to the root whose transfer never ends.
    std::vector<std::string> endlessFiles;
    // "SEED/PERCENT": every transfer is cut at a random byte with that chance; the same seed cuts
    // the same transfers at the same bytes. Each choice is logged ("fault: RETR ... cut after N").
    std::string cutRandomly;
    // "PATH=BYTES:SECONDS": the first transfer of PATH stops after BYTES for SECONDS, the whole
    // server with it, as a host that hangs, then goes on.
    std::vector<std::string> stalls;
    // A poor line: every transfer of more than this many bytes (0: none) is dropped after them,
    // with 426. Only the first `dropTimes` transfers of each file when that is not negative.
    int dropAfterBytes = 0;
    int dropTimes = -1;
    // REST refused with 502, as by servers that cannot resume. Every mode honours REST otherwise.
    bool noRest = false;
    // REST answered with 350 but every transfer sent from byte 0, as a broken server does.
    bool ignoreRest = false;
    // MDTM refused, so the server cannot show that a file is unchanged.
    bool noMdtm = false;
  };

  FtpServer();
  explicit FtpServer(Options options);  // throws std::runtime_error when the server cannot start
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  int Port() const { return m_port; }
  const std::string& Root() const { return m_root; }

  // Writes a file under the root (folders created as needed); `relativePath` uses '/'.
  void PutFile(const std::string& relativePath, const std::string& content) const;
  // A file of `size` bytes whose content is a fixed pseudo-random pattern; returns the content.
  std::string PutPatternFile(const std::string& relativePath, size_t size) const;

  // Ends the server at once, as a host that goes down: its connections break without a word.
  void Kill();

  // The server's log so far: one line per command ("<- RETR x") and reply ("-> 226 ...").
  std::string Log() const;
  int CountInLog(std::string_view needle) const;
  int LoginCount() const { return CountInLog("logged in."); }
  // Lines of the log that hold `needle`.
  std::vector<std::string> LogLines(std::string_view needle) const;
  // The nonzero offsets of the REST commands the server accepted, in order (libcurl says "REST 0"
  // with every size query).
  std::vector<long long> AcceptedRestOffsets() const;
  // The bytes the server sent over data connections for RETR of paths ending in `name`.
  long long BytesSentOf(std::string_view name) const;

 private:
  void Stop();
  std::string m_root;
  std::string m_logPath;
  TempDir m_temp{"tarvo-ftp"};  // the log, and the root unless one is given
  pid_t m_pid = -1;
  int m_port = 0;
};
