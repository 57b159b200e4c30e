// Thin helpers over the POSIX socket calls the engine, the output sender and the tools share.
#pragma once

#include <cstdint>
#include <string>

namespace dravik::sock {

// Closes a descriptor; kNoSocket-like negative values are ignored.
void closeFd(int fd);

// How long a connected peer may stay silent before the system asks whether it is still
// there, how often it asks, and how many unanswered questions end the connection. A unit that
// lost power or cable never closes its connection itself.
struct Keepalive {
  int idleSeconds;
  int intervalSeconds;
  int probes;
  // Unanswered questions end the connection after this long; so does data left unacknowledged
  // for as long, which keeps the system from asking at all.
  int timeoutMs() const { return (idleSeconds + intervalSeconds * probes) * 1000; }
};
// Every unit connection: a vanished unit is noticed within 45 s.
inline constexpr Keepalive kUnitKeepalive{30, 5, 3};

// Turns on keepalive with `timing` on a connected TCP socket, and bounds unacknowledged data
// by the same time. False when the system refused an option.
bool keepAlive(int fd, const Keepalive& timing);
// Bounds how long data sent on a TCP socket may stay unacknowledged before the connection
// ends. False when the system refused.
bool limitUnacknowledged(int fd, int timeoutMs);

// Dotted-decimal text of an IPv4 address in network byte order.
std::string addressText(std::uint32_t address);

enum class Wait { Ready, Woken, TimedOut, Signalled };

// Waits in the kernel until `fd` is readable (Ready), `wakeFd` is readable (Woken, checked
// first) or `timeoutMs` passes. A negative `fd` waits on `wakeFd` alone.
Wait waitReadable(int fd, int wakeFd, int timeoutMs);
// The same, also until `signalFd` is readable (Signalled, checked after `wakeFd`).
Wait waitReadable(int fd, int wakeFd, int signalFd, int timeoutMs);

// A descriptor that any thread can make readable, for good unless cleared: every thread
// polling it wakes at once, now and later, which is what a stop needs.
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
  // Makes it unreadable until the next signal, for an event that recurs: whoever wakes takes
  // it before looking at what it signals, so a signal that comes meanwhile is never lost.
  void clear();

 private:
  int fd_;
};

}  // namespace dravik::sock
