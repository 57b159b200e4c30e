// The tests' side of a unit on 127.0.0.1, with time limits, and the process's own counts.
#pragma once

#ifndef _WIN32
// The Linux tests also call the system's sockets beside these helpers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace dravik::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kLoopback = sock::kLoopback;

#ifndef _WIN32
inline sockaddr_in loopback(int port) {
  return {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {kLoopback}, .sin_zero = {}};
}
#endif

// The sockets below are ints, as descriptors are: a Windows socket handle fits in one too.
inline sock::Socket socketOf(int fd) {
  return fd < 0 ? sock::kNone : static_cast<sock::Socket>(fd);
}
inline int fdOf(sock::Socket socket) {
  return socket == sock::kNone ? -1 : static_cast<int>(socket);
}

// Lets a wait end only by its time limit. Made when the program starts, so that it is among
// the descriptors a test finds open before it begins.
inline const sock::WakeEvent kNeverWoken;

// A blocking socket listening on a free loopback port, which goes to `port`.
inline int listener(int& port) {
  const sock::Listening listening = sock::listenOn(kLoopback, 0);
  sock::setBlocking(listening.socket, true);
  port = sock::localPort(listening.socket);
  return fdOf(listening.socket);
}

// A loopback port nobody listens on right now.
inline int freePort() {
  int port = 0;
  sock::close(socketOf(listener(port)));
  return port;
}

// A blocking connection; -1 when refused. `receiveBuffer` > 0 shrinks the receive buffer
// before connecting.
inline int connectUnit(int port, int receiveBuffer = 0) {
  const sock::Socket s = sock::openStream(0).socket;
  if (receiveBuffer > 0) sock::setReceiveBuffer(s, receiveBuffer);
  if (sock::setBlocking(s, true) &&
      sock::connectWithin(s, kLoopback, port, -1, kNeverWoken).error == 0)
    return fdOf(s);
  sock::close(s);
  return -1;
}

inline bool sendBytes(int fd, const Bytes& bytes) {
  return sock::send(socketOf(fd), bytes.data(), bytes.size()).bytes == bytes.size();
}

// Up to `count` bytes; fewer when the peer closes or `limit` passes.
inline Bytes receive(int fd, std::size_t count, std::chrono::milliseconds limit = 10s) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    if (sock::waitReadable(socketOf(fd), kNeverWoken, 100) != sock::Wait::Ready) continue;
    std::uint8_t b[256];
    const sock::Transfer n = sock::receive(socketOf(fd), b, std::min(sizeof b, count - got.size()));
    if (n.bytes == 0) break;
    got.insert(got.end(), b, b + n.bytes);
  }
  return got;
}

inline bool seesEof(int fd, std::chrono::milliseconds limit = 10s) {
  if (sock::waitReadable(socketOf(fd), kNeverWoken, static_cast<int>(limit.count())) !=
      sock::Wait::Ready)
    return false;
  std::uint8_t b;
  const sock::Transfer n = sock::receive(socketOf(fd), &b, 1);
  return n.bytes == 0 && n.error == 0 && !n.wouldBlock;
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

// A size from /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when unknown.
inline long statusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

}  // namespace dravik::test
