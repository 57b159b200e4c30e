// The tests' side of a unit on 127.0.0.1, with time limits, and the process's own counts.
#pragma once

#ifndef _WIN32
// The Linux tests also call the system's sockets beside these helpers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#else
// The Windows tests count their handles and threads, and build a silent port, with the system.
#include <winsock2.h>

#include <tlhelp32.h>
#include <windows.h>
#endif

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

// Closes a unit's connection.
inline void hangUp(int fd) {
  sock::close(socketOf(fd));
}

#ifndef _WIN32
// A blocking socket listening on a free loopback port with no backlog.
inline int silentListener(int& port) {
  const int fd = listener(port);
  // A second listen sets the backlog anew.
  ::listen(fd, 0);
  return fd;
}
#else
// Windows keeps the backlog of the first listen: the socket listens with none from the start.
inline int silentListener(int& port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = kLoopback;
  int length = sizeof local;
  ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  ::listen(s, 0);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
  port = ntohs(local.sin_port);
  return static_cast<int>(s);
}
#endif

// A loopback port that answers no connection attempt, as the address of a unit that has gone
// does: its accept queue is full, so the system drops every new handshake until answer().
struct SilentPort {
  // No backlog, so the one filler fills the queue.
  SilentPort() : listening(silentListener(port)), filler(connectUnit(port)) {}
  ~SilentPort() {
    hangUp(filler);
    hangUp(listening);
  }
  // Takes connections again; an attempt under way gets through at its next retry (1 s).
  void answer() const {
    ::listen(listening, 5);
    sock::close(sock::acceptFrom(socketOf(listening)).socket);
  }
  int port = 0;
  const int listening, filler;
};

// True once `fd` has bytes or an end to read within `limit`.
inline bool readable(int fd, std::chrono::milliseconds limit) {
  return sock::waitReadable(socketOf(fd), kNeverWoken, static_cast<int>(limit.count())) ==
         sock::Wait::Ready;
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

#ifndef _WIN32
// The descriptors the process holds open.
inline std::size_t openHandles() {
  return entries("/proc/self/fd");
}

// Starts a thread first: ThreadSanitizer adds a helper thread with a process's first thread.
inline std::size_t threadCount() {
  static std::once_flag warmedUp;
  std::call_once(warmedUp, [] { std::thread([] {}).join(); });
  return entries("/proc/self/task");
}
#else
// The handles the process holds open: sockets, events, threads and files.
inline std::size_t openHandles() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

// The threads of the process.
inline std::size_t threadCount() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::size_t count = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  ::CloseHandle(snapshot);
  return count;
}

// The processor time every thread of the process has used so far.
inline std::chrono::nanoseconds processCpuTime() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return std::chrono::nanoseconds((std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) *
                                    100);
  };
  return ticks(kernel) + ticks(user);
}
#endif

#ifndef _WIN32
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
#endif

}  // namespace dravik::test
