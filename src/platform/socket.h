// Thin helpers over the POSIX socket calls the engine, the output sender and the tools share.
#pragma once

#include <cstdint>
#include <string>

namespace dravik::sock {

// Closes a descriptor; kNoSocket-like negative values are ignored.
void closeFd(int fd);

// Dotted-decimal text of an IPv4 address in network byte order.
std::string addressText(std::uint32_t address);

enum class Wait { Ready, Woken, TimedOut };

// Waits in the kernel until `fd` is readable (Ready), `wakeFd` is readable (Woken, checked
// first) or `timeoutMs` passes. A negative `fd` waits on `wakeFd` alone.
Wait waitReadable(int fd, int wakeFd, int timeoutMs);

// A descriptor that any thread can make readable for good: every thread polling it wakes at
// once, now and later, which is what a stop needs.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the system had no descriptor to give (errno tells why).
  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void signal();

 private:
  int fd_;
};

}  // namespace dravik::sock
