#include "transfer/FtpConnection.h"

#include <curl/curl.h>

#include <mutex>
#include <vector>

#include "transfer/FtpConnectionCommon.h"

namespace {

// libcurl's receive buffer; DownloadFile cuts what arrives into the 4096-byte blocks it reports.
// Large reads mean few system calls per megabyte, which is most of a fast transfer's cost.
constexpr long kReceiveBufferBytes = 512 * 1024;

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Percent-escapes each '/'-separated component of `path` and joins them again; empty components drop.
std::string EscapeComponents(CURL* curl, const std::string& path, bool trailingSlash) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      char* escaped = curl_easy_escape(curl, path.data() + start, static_cast<int>(end - start));
      if (escaped) {
        if (!out.empty()) out += '/';
        out += escaped;
        curl_free(escaped);
      }
    }
    start = end + 1;
  }
  if (trailingSlash && !out.empty()) out += '/';
  return out;
}

// Runs one transfer on the connection's multi handle. curl_easy_perform can sit out a whole second
// in poll when a reply on a reused control connection is already buffered; polling briefly and
// often keeps every transfer of a patch run moving.
CURLcode RunTransfer(CURLM* multi, CURL* curl) {
  constexpr int kPollMs = 10;
  if (curl_multi_add_handle(multi, curl) != CURLM_OK) return CURLE_FAILED_INIT;
  int running = 1;
  while (running) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running && curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK) break;
  }
  CURLcode rc = CURLE_FAILED_INIT;
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl) rc = msg->data.result;
  }
  curl_multi_remove_handle(multi, curl);
  return rc;
}

}  // namespace

CFtpConnection::CFtpConnection(std::string host, int port)
    : m_host(std::move(host)), m_port(port), m_stallBytesPerSecond(kStallBytesPerSecond), m_stallSeconds(kStallSeconds) {
  GlobalInitOnce();
}

CFtpConnection::~CFtpConnection() { Close(); }

void CFtpConnection::Close() {
  if (m_curl) curl_easy_cleanup(static_cast<CURL*>(m_curl));
  m_curl = nullptr;
  if (m_multi) curl_multi_cleanup(static_cast<CURLM*>(m_multi));  // says QUIT on the cached connection
  m_multi = nullptr;
  m_connected = false;
  m_restRefused = false;
}

std::string CFtpConnection::UrlFor(const std::string& name, bool isFolder) const {
  std::string host = m_host.find(':') != std::string::npos ? "[" + m_host + "]" : m_host;
  std::string url = "ftp://" + host + ":" + std::to_string(m_port) + "/" + m_folderPath;
  url += EscapeComponents(static_cast<CURL*>(m_curl), name, isFolder);
  return url;
}

bool CFtpConnection::Connect() {
  Close();
  if (!IsPlainFtpHostName(m_host) || m_port <= 0 || m_port > 65535) {
    m_lastError = "unusable host name";
    return false;
  }
  CURL* curl = curl_easy_init();
  m_multi = curl_multi_init();
  if (!curl || !m_multi) {
    if (curl) curl_easy_cleanup(curl);
    m_lastError = "libcurl could not start";
    return false;
  }
  m_curl = curl;
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, kUserName);
  curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, m_stallBytesPerSecond);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
  curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
  // The data connection goes to the host the control connection reached, whatever PASV says.
  curl_easy_setopt(curl, CURLOPT_FTP_SKIP_PASV_IP, 1L);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CFtpConnection::OnCurlWrite);
  // Passive mode: no CURLOPT_FTPPORT. Binary: libcurl's default (TYPE I).
  m_folderPath.clear();
  m_connected = Perform(UrlFor("", true), false, nullptr);
  if (!m_connected) Close();
  return m_connected;
}

bool CFtpConnection::SetCurrentDirectory(const std::string& folder) {
  if (!m_curl) return false;
  std::string path = EscapeComponents(static_cast<CURL*>(m_curl), folder, true);
  // "%2F" first makes libcurl start from the server's root rather than the login folder.
  bool absolute = !folder.empty() && folder[0] == '/';
  m_folderPath = absolute ? "%2F" + (path.empty() ? std::string("/") : path) : path;
  return Perform(UrlFor("", true), false, nullptr);
}

bool CFtpConnection::GetFileLength(const std::string& name, uint64_t& size, bool* sizeKnown) {
  if (sizeKnown) *sizeKnown = false;
  m_lastModified = kUnknownTime;
  if (!m_curl || name.empty()) return false;
  CURL* curl = static_cast<CURL*>(m_curl);
  // MDTM rides along with SIZE; a server without it leaves the time unknown, not the file missing.
  curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
  const bool there = Perform(UrlFor(name, false), false, nullptr);
  curl_easy_setopt(curl, CURLOPT_FILETIME, 0L);
  if (!there) return false;
  curl_off_t modified = -1;
  if (curl_easy_getinfo(curl, CURLINFO_FILETIME_T, &modified) == CURLE_OK && modified >= 0) m_lastModified = modified;
  bool known = false;
  SizeOfLastTransfer(size, known);
  if (sizeKnown) *sizeKnown = known;
  return true;
}

void CFtpConnection::SizeOfLastTransfer(uint64_t& size, bool& known) const {
  curl_off_t length = -1;
  curl_easy_getinfo(static_cast<CURL*>(m_curl), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  // A server without the SIZE command leaves it unknown: the file's presence is all we know.
  known = length >= 0;
  size = known ? static_cast<uint64_t>(length) : 0;
}

void CFtpConnection::SetStallLimit(long bytesPerSecond, long seconds) {
  m_stallBytesPerSecond = bytesPerSecond;
  m_stallSeconds = seconds;
  if (m_curl) {
    curl_easy_setopt(static_cast<CURL*>(m_curl), CURLOPT_LOW_SPEED_LIMIT, bytesPerSecond);
    curl_easy_setopt(static_cast<CURL*>(m_curl), CURLOPT_LOW_SPEED_TIME, seconds);
  }
}

struct CFtpConnection::ReadState {
  FtpReadSink* sink;
  uint64_t size;
  bool sizeKnown;
  uint64_t limit;  // more than this many bytes and the attempt has failed already
  uint64_t received = 0;
  bool started = false;
  bool overrun = false;      // more came than the file may hold
  bool sinkStopped = false;
};

size_t CFtpConnection::OnCurlWrite(char* data, size_t size, size_t count, void* userData) {
  auto* state = static_cast<ReadState*>(userData);
  size_t bytes = size * count;
  if (!state) return bytes;
  if (bytes > state->limit - state->received) {
    state->overrun = true;
    return 0;  // 0 makes libcurl end the transfer with an error
  }
  state->received += bytes;
  if (!state->started) {
    state->started = true;
    state->sink->OnStart(state->size, state->sizeKnown);
  }
  if (state->sink->OnData(data, bytes)) return bytes;
  state->sinkStopped = true;
  return 0;
}

FtpReadResult CFtpConnection::ReadFileFrom(const std::string& name, FtpReadSink& sink, uint64_t startAt,
                                           uint64_t maxBytes, int64_t heldModified) {
  if (name.empty()) return FtpReadResult::kFailed;
  // libcurl would stop reading at the size it asked for itself and call a longer file complete;
  // asking first and then reading to the end of the data connection tells the two apart.
  uint64_t size = 0;
  bool known = false;
  if (!GetFileLength(name, size, &known)) return FtpReadResult::kBroken;  // perhaps there next time
  if (known && size > maxBytes) {
    m_lastError = "the file is larger than allowed";
    return FtpReadResult::kFailed;
  }
  if (startAt > 0) {
    // Without a size the continued file could never be checked whole; without the same time it
    // may be a file republished with the same size, and the held bytes would splice two files.
    const char* why = m_restRefused                      ? "the server does not resume"
                      : !known                           ? "the server tells no size"
                      : startAt > size                   ? "the file is shorter than the part already held"
                      : m_lastModified == kUnknownTime   ? "the server tells no modification time"
                      : m_lastModified != heldModified   ? "the file changed since the part held was sent"
                                                         : nullptr;
    if (why) {
      m_lastError = why;
      return FtpReadResult::kResumeRefused;
    }
  }
  // Even with every byte held already, only a transfer that ends normally, with nothing more,
  // shows that the server honoured the offset and the file is whole.
  ReadState state{&sink, size, known, known ? size - startAt : maxBytes};
  CURL* curl = static_cast<CURL*>(m_curl);
  // REST as a command of its own before RETR: libcurl's CURLOPT_RESUME_FROM_LARGE is silently
  // dropped together with CURLOPT_IGNORE_CONTENT_LENGTH (RETR goes out without REST and the whole
  // file comes again), and the end-of-transfer check needs the latter.
  curl_slist* rest = nullptr;
  if (startAt > 0) {
    rest = curl_slist_append(nullptr, ("REST " + std::to_string(startAt)).c_str());
    if (!rest) return FtpReadResult::kBroken;
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, rest);
  }
  curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  int code = CURLE_OK;
  const bool transferred = Perform(UrlFor(name, false), true, &state, &code);
  curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
  curl_easy_setopt(curl, CURLOPT_PREQUOTE, nullptr);
  curl_slist_free_all(rest);
  if (!transferred) {
    if (state.overrun && startAt > 0) {
      // More than the offset leaves: the server took REST and sent from the start regardless.
      m_restRefused = true;
      m_lastError = "the server ignored the restart";
      return FtpReadResult::kResumeRefused;
    }
    if (state.overrun || state.sinkStopped) return FtpReadResult::kFailed;
    // REST is the only command sent before RETR, so a refused one is the server's "no resume".
    if (rest && code == CURLE_QUOTE_ERROR) {
      m_restRefused = true;
      return FtpReadResult::kResumeRefused;
    }
    return FtpReadResult::kBroken;
  }
  if (!state.started) sink.OnStart(size, known);  // an empty file: open and read, but no bytes came
  if (known && state.received != size - startAt) {
    m_lastError = "the file changed while it was sent";
    return FtpReadResult::kFailed;
  }
  return FtpReadResult::kComplete;
}

bool CFtpConnection::Perform(const std::string& url, bool bodyWanted, ReadState* state, int* curlCode) {
  CURL* curl = static_cast<CURL*>(m_curl);
  char errorText[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, bodyWanted ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, state);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  CURLcode rc = RunTransfer(static_cast<CURLM*>(m_multi), curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
  if (curlCode) *curlCode = rc;
  if (rc != CURLE_OK) {
    m_lastError = errorText[0] ? errorText : curl_easy_strerror(rc);
    return false;
  }
  return true;
}
