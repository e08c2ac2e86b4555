#include "transfer/FtpConnectionCommon.h"

#include <cstdlib>

#include "transfer/FtpConnection.h"

bool IsPlainFtpHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_' || c == ':';
    if (!ok) return false;
  }
  return true;
}

int FtpPort() {
  const char* text = std::getenv("TARVO_FTP_PORT");
  if (text && *text) {
    char* end = nullptr;
    long port = std::strtol(text, &end, 10);
    if (end && *end == '\0' && port > 0 && port <= 65535) return static_cast<int>(port);
  }
  return 21;
}

bool CFtpConnection::ReadFile(const std::string& name, const DataSink& onData, uint64_t maxBytes) {
  class BytesOnly : public FtpReadSink {
   public:
    explicit BytesOnly(const DataSink& onData) : m_onData(onData) {}
    void OnStart(uint64_t, bool) override {}
    bool OnData(const char* data, size_t count) override { return !m_onData || m_onData(data, count); }

   private:
    const DataSink& m_onData;
  };
  BytesOnly sink(onData);
  return ReadFileFrom(name, sink, 0, maxBytes) == FtpReadResult::kComplete;
}
