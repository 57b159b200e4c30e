// IPv4 TCP sockets for the engine, the output sender, the tools and the tests, in types of our
// own, so that no caller names a system header. Error numbers are the system's own: errno
// values on Linux (a port in use is 98), Windows Sockets numbers on Windows (10048).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::sock {

// One socket, wide enough for every system's handle; kNone when there is none.
using Socket = std::uintptr_t;
inline constexpr Socket kNone = ~Socket{0};

// The address a.b.c.d in network byte order, the order every address here is kept in.
constexpr std::uint32_t ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint32_t big = std::uint32_t{a} << 24 | std::uint32_t{b} << 16 | c << 8 | d;
  if constexpr (std::endian::native == std::endian::big) return big;
  return big >> 24 | (big >> 8 & 0xFF00) | (big << 8 & 0xFF0000) | big << 24;
}
inline constexpr std::uint32_t kLoopback = ipv4(127, 0, 0, 1);

// Starts the system's socket library (Windows Sockets 2; nothing to start on Linux) once per
// program: 0, or the error number. Every call below that opens a socket makes sure of it, so a
// program calls it first only to report a failure before anything else.
int startUp();

// The address a dotted-decimal text or a host name stands for; nothing when there is none.
std::optional<std::uint32_t> resolve(const std::string& host);
// Dotted-decimal text of an address.
std::string addressText(std::uint32_t address);

// A socket just opened, or kNone and the error number.
struct Opened {
  Socket socket = kNone;
  int error = 0;
};

// Where listenOn failed.
enum class Step { Socket, Bind, Listen };
struct Listening : Opened {
  Step failed = Step::Socket;
};
// A non-blocking socket listening on `address`:`port` (0: a free port) with the longest
// backlog the system allows, so that units reconnecting together are all taken.
Listening listenOn(std::uint32_t address, int port);
// The port `socket` is bound to; 0 when it cannot be told.
int localPort(Socket socket);

// A connection taken off a listening socket, non-blocking, and its peer's address.
struct Accepted : Opened {
  std::uint32_t peer = 0;
};
// Takes one waiting connection. kNone with error 0 when none waits, also when one vanished
// before it could be taken: the caller waits for the listener again.
Accepted acceptFrom(Socket listener);

// A non-blocking stream socket bound to `localAddress` (0: the system chooses); a refused bind
// leaves the choice to the system too.
Opened openStream(std::uint32_t localAddress);

class WakeEvent;

// What a connection attempt came to: error 0 is connected; `woken` when a stop ended it, with
// the system's number for a cancelled operation (ECANCELED; WSAECANCELLED) as the error.
struct Connected {
  int error = 0;
  bool woken = false;
};
// Connects `socket` from openStream to `address`:`port` within `timeoutMs` (negative: as long
// as the system tries), after which the error is the system's "timed out". `stop` being
// signalled ends the attempt at once.
Connected connectWithin(Socket socket, std::uint32_t address, int port, int timeoutMs,
                        const WakeEvent& stop);

// What one receive or send came to.
struct Transfer {
  std::size_t bytes = 0;
  // The error number; no bytes and no error from a receive means the peer closed.
  int error = 0;
  // Nothing could move without waiting: wait for the socket and try again.
  bool wouldBlock = false;
};
Transfer receive(Socket socket, void* buffer, std::size_t size);
// Sends as much of `data` as the system takes at once. A peer that has gone is an error, never
// a signal that ends the process.
Transfer send(Socket socket, const void* data, std::size_t size);
// The error number of a receive or send that could not move anything at once (EAGAIN;
// WSAEWOULDBLOCK), for reports that name it.
int wouldBlockError();
// Whether `error` says the system ended the connection because the peer stopped answering.
bool timedOut(int error);
// The system's own words for an error number.
std::string errorText(int error);

// Closes `socket`; kNone is ignored.
void close(Socket socket);
// Sets the receive buffer of `socket` (before it connects, to shape the window offered).
bool setReceiveBuffer(Socket socket, int bytes);
// Makes receives and sends on `socket` wait until they can move something (true) or return at
// once (false, as every socket opened here starts).
bool setBlocking(Socket socket, bool blocking);

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
bool keepAlive(Socket socket, const Keepalive& timing);
// Bounds how long data sent on a TCP socket may stay unacknowledged before the connection
// ends. False when the system refused.
bool limitUnacknowledged(Socket socket, int timeoutMs);
// Makes every send on a connected TCP socket leave at once, never held back until the data
// sent before it is acknowledged (which a peer may delay by tens of milliseconds). False when
// the system refused.
bool sendAtOnce(Socket socket);

enum class Wait { Ready, Woken, TimedOut, Signalled };

// Waits in the kernel until `socket` is readable or has failed (Ready), `wake` is signalled
// (Woken, looked at first) or `timeoutMs` passes (negative: no limit). kNone waits on `wake`
// alone.
Wait waitReadable(Socket socket, const WakeEvent& wake, int timeoutMs);
// The same, also until `signal` is signalled (Signalled, looked at after `wake`), for an event
// that recurs while the wait goes on.
Wait waitReadable(Socket socket, const WakeEvent& wake, const WakeEvent& signal, int timeoutMs);
// The same over several sockets; on Ready, `ready[i]` tells whether sockets[i] is.
Wait waitReadable(const std::vector<Socket>& sockets, const WakeEvent& wake, int timeoutMs,
                  std::vector<bool>& ready);

// Something any thread can signal, for good unless cleared: every thread waiting on it wakes
// at once, now and later, which is what a stop needs.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the system had nothing to give; error() then tells why.
  bool valid() const { return waited_ != kNone; }
  int error() const { return error_; }
  // Safe from any thread and, on Linux, from a signal handler.
  void signal();
  // What the waits above wait on.
  Socket handle() const { return waited_; }
  // Makes it unreadable until the next signal, for an event that recurs: whoever wakes takes
  // it before looking at what it signals, so a signal that comes meanwhile is never lost.
  void clear();

 private:
  Socket waited_ = kNone;
  Socket signalled_ = kNone;
  int error_ = 0;
};

}  // namespace dravik::sock
