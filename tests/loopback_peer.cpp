#include "loopback_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>

namespace dravik::test {

sockaddr_in loopback(int port) {
  return {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {kLoopback}, .sin_zero = {}};
}

int listener(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 5);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  port = ntohs(a.sin_port);
  return fd;
}

int freePort() {
  int port = 0;
  ::close(listener(port));
  return port;
}

int connectUnit(int port, int receiveBuffer) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
  sockaddr_in a = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

bool sendBytes(int fd, const Bytes& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

Bytes receive(int fd, std::size_t count, std::chrono::milliseconds limit) {
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

bool seesEof(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
  std::uint8_t b;
  return ::recv(fd, &b, 1, 0) == 0;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::size_t entries(const char* folder) {
  std::size_t n = 0;
  if (DIR* d = ::opendir(folder)) {
    while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

std::size_t threadCount() {
  static std::once_flag warmedUp;
  std::call_once(warmedUp, [] { std::thread([] {}).join(); });
  return entries("/proc/self/task");
}

long statusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

}  // namespace dravik::test
