// What the end-to-end tests do as a unit on 127.0.0.1: free ports, connections, bytes in and
// out with time limits, and counts of the process's threads and descriptors.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dravik::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// 127.0.0.1 in network byte order.
const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

sockaddr_in loopback(int port);
// A loopback port nobody listens on right now.
int freePort();
// A socket listening on a free loopback port, which goes to `port`.
int listener(int& port);
// A socket connected to 127.0.0.1:port, or -1 when refused. `receiveBuffer` > 0 shrinks the
// socket's receive buffer before connecting.
int connectUnit(int port, int receiveBuffer = 0);
// True when every byte went out in one send.
bool sendBytes(int fd, const Bytes& bytes);
// Up to `count` bytes; fewer when the peer closes or `limit` passes.
Bytes receive(int fd, std::size_t count, std::chrono::milliseconds limit = 10s);
// True when the peer closed the connection within `limit`.
bool seesEof(int fd, std::chrono::milliseconds limit = 10s);
// Polls `condition` until it holds (true) or `limit` passes (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);
// Entries of a folder such as /proc/self/fd.
std::size_t entries(const char* folder);
// Threads of this process. ThreadSanitizer adds a helper thread of its own with the first
// thread a process starts; the first call makes that happen, so counts compare alike.
std::size_t threadCount();
// A size of this process from /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when unknown.
long statusKb(const std::string& field);

}  // namespace dravik::test
