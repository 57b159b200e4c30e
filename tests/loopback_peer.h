// The tests' side of a unit on 127.0.0.1, with time limits, and the process's own counts.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dravik::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

inline sockaddr_in loopback(int port) {
  return {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {kLoopback}, .sin_zero = {}};
}

// A socket listening on a free loopback port, which goes to `port`, with room for `backlog`
// connections waiting to be accepted.
inline int listener(int& port, int backlog = 5) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, backlog);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  port = ntohs(a.sin_port);
  return fd;
}

// A loopback port nobody listens on right now.
inline int freePort() {
  int port = 0;
  ::close(listener(port));
  return port;
}

// -1 when refused. `receiveBuffer` > 0 shrinks the receive buffer before connecting.
inline int connectUnit(int port, int receiveBuffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
  sockaddr_in a = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

// A loopback port that answers no connection attempt, as the address of a unit that has gone
// does: its accept queue is full, so the system drops every new handshake until answer().
struct SilentPort {
  SilentPort() : listening(listener(port, 0)), filler(connectUnit(port)) {}
  ~SilentPort() {
    ::close(filler);
    ::close(listening);
  }
  // Takes connections again; an attempt under way gets through at its next retry (1 s).
  void answer() const {
    ::listen(listening, 5);
    ::close(::accept(listening, nullptr, nullptr));
  }
  int port = 0;
  const int listening, filler;
};

// True once `fd` has bytes or an end to read within `limit`.
inline bool readable(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(limit.count())) > 0;
}

inline bool sendBytes(int fd, const Bytes& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Up to `count` bytes; fewer when the peer closes or `limit` passes.
inline Bytes receive(int fd, std::size_t count, std::chrono::milliseconds limit = 10s) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    std::uint8_t b[256];
    const ssize_t n = ::recv(fd, b, std::min(sizeof b, count - got.size()), 0);
    if (n <= 0) break;
    got.insert(got.end(), b, b + n);
  }
  return got;
}

inline bool seesEof(int fd, std::chrono::milliseconds limit = 10s) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
  std::uint8_t b;
  return ::recv(fd, &b, 1, 0) == 0;
}

inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (; !condition(); std::this_thread::sleep_for(1ms))
    if (std::chrono::steady_clock::now() > deadline) return false;
  return true;
}

// Entries of a folder such as /proc/self/fd.
inline std::size_t entries(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Starts a thread first: ThreadSanitizer adds a helper thread with a process's first thread.
inline std::size_t threadCount() {
  static std::once_flag warmedUp;
  std::call_once(warmedUp, [] { std::thread([] {}).join(); });
  return entries("/proc/self/task");
}

// The processor time every thread of the process has used so far.
inline std::chrono::nanoseconds processCpuTime() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// A number from /proc/self/status: a size in kB ("VmRSS", "VmHWM") or a count ("Threads");
// -1 when unknown. Read without allocating, so that polling it grows no sanitizer's quarantine.
inline long statusValue(const std::string& field) {
  char text[8192] = {};
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  [[maybe_unused]] const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  const char* at = std::strstr(text, ("\n" + field + ":").c_str());
  return at != nullptr ? std::strtol(at + field.size() + 2, nullptr, 10) : -1;
}

}  // namespace dravik::test
