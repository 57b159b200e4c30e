// The tests' side of a unit on 127.0.0.1, with time limits, and the process's own counts.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dravik::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

sockaddr_in loopback(int port);
// A loopback port nobody listens on right now.
int freePort();
// A socket listening on a free loopback port, which goes to `port`.
int listener(int& port);
// -1 when refused. `receiveBuffer` > 0 shrinks the receive buffer before connecting.
int connectUnit(int port, int receiveBuffer = 0);
bool sendBytes(int fd, const Bytes& bytes);
// Up to `count` bytes; fewer when the peer closes or `limit` passes.
Bytes receive(int fd, std::size_t count, std::chrono::milliseconds limit = 10s);
bool seesEof(int fd, std::chrono::milliseconds limit = 10s);
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);
// Entries of a folder such as /proc/self/fd.
std::size_t entries(const char* folder);
// Starts a thread first: ThreadSanitizer adds a helper thread with a process's first thread.
std::size_t threadCount();
// A size from /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when unknown.
long statusKb(const std::string& field);

}  // namespace dravik::test
