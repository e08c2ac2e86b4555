#include "support/SlowNameServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "support/ClientProcess.h"

namespace {

// The question's name in dotted form, and where the question (name, type, class) ends; 0 when the
// message holds no whole question.
size_t ReadQuestion(const unsigned char* message, size_t size, std::string& name, uint16_t& type) {
  size_t at = 12;
  while (at < size && message[at] != 0) {
    const size_t label = message[at];
    if (label > 63 || at + 1 + label > size) return 0;
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(message + at + 1), label);
    at += 1 + label;
  }
  if (at + 5 > size) return 0;
  type = uint16_t(message[at + 1] << 8 | message[at + 2]);
  return at + 5;
}

}  // namespace

SlowNameServer::SlowNameServer(int delayMs) : m_delayMs(delayMs), m_dir("tarvo-dns") {
  // An address of 127/8 of its own, so that no resolver the machine runs on loopback is in the way.
  const std::string address = "127.53." + std::to_string(getpid() % 200 + 1) + ".1";
  m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(53);
  inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  if (m_socket >= 0 && bind(m_socket, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
    close(m_socket);
    m_socket = -1;
  }
  // One try with a generous wait: a held-back answer must not make the resolver ask again.
  WriteTextFile(ResolvConf(), "nameserver " + address + "\noptions timeout:10 attempts:1\n");
  if (m_socket >= 0) m_thread = std::thread([this] { Serve(); });
}

SlowNameServer::~SlowNameServer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_socket >= 0) close(m_socket);
}

std::vector<std::string> SlowNameServer::Questions() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_questions;
}

void SlowNameServer::Serve() {
  while (!m_stop) {
    pollfd fd{m_socket, POLLIN, 0};
    if (poll(&fd, 1, 50) <= 0) continue;
    unsigned char query[512];
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t got = recvfrom(m_socket, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (got < 12) continue;
    std::string name;
    uint16_t type = 0;
    const size_t end = ReadQuestion(query, size_t(got), name, type);
    if (end == 0) continue;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_questions.push_back(name);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
    // The header and question come back; an A question gets one answer, anything else none.
    std::vector<unsigned char> reply(query, query + end);
    const bool answered = type == 1;
    reply[2] = 0x81, reply[3] = 0x80;  // a response, recursion desired and available, no error
    reply[6] = 0, reply[7] = answered ? 1 : 0;
    reply[8] = reply[9] = reply[10] = reply[11] = 0;
    if (answered) {
      const unsigned char answer[] = {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
      reply.insert(reply.end(), answer, answer + sizeof answer);
    }
    sendto(m_socket, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromSize);
  }
}
