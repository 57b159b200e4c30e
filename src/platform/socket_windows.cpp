#include "platform/socket.h"

// Winsock 2 before the headers that build on it.
#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>

namespace dravik::sock {

static_assert(sizeof(SOCKET) <= sizeof(Socket) && INVALID_SOCKET == kNone);

namespace {

// IPPROTO_TCP options of Windows 10 (1709 and later) that MinGW's headers do not name yet.
constexpr int kTcpKeepIdle = 3;
constexpr int kTcpMaxRetransmitSeconds = 5;
constexpr int kTcpKeepCount = 16;
constexpr int kTcpKeepInterval = 17;
// Windows before 1709 takes idle time and interval only, and asks this many times.
constexpr int kFixedKeepaliveProbes = 10;

SOCKET handleOf(Socket socket) {
  return static_cast<SOCKET>(socket);
}

sockaddr_in endpoint(std::uint32_t address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(port));
  a.sin_addr.s_addr = address;
  return a;
}

// A stream socket no child process inherits, or INVALID_SOCKET and the error number.
SOCKET newStream(int& error) {
  error = startUp();
  if (error != 0) return INVALID_SOCKET;
  const SOCKET s =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) error = ::WSAGetLastError();
  return s;
}

bool setNonBlocking(SOCKET s) {
  return setBlocking(s, false);
}

int optionInt(SOCKET s, int level, int name, DWORD value) {
  return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// select's time bound: null waits without limit.
timeval* bound(int timeoutMs, timeval& storage) {
  if (timeoutMs < 0) return nullptr;
  storage.tv_sec = timeoutMs / 1000;
  storage.tv_usec = timeoutMs % 1000 * 1000;
  return &storage;
}

// The two ends of a loopback connection made for a WakeEvent: 0, or the error number. The peer
// accepted must be the one just connected, never another program that reached the
// short-lived listener first.
int connectedPair(SOCKET& waited, SOCKET& signalled) {
  waited = signalled = INVALID_SOCKET;
  const Listening listener = listenOn(kLoopback, 0);
  if (listener.socket == kNone) return listener.error;
  const sockaddr_in there = endpoint(kLoopback, localPort(listener.socket));
  int error = 0;
  signalled = newStream(error);
  sockaddr_in mine{};
  int length = sizeof mine;
  if (error == 0 &&
      (::connect(signalled, reinterpret_cast<const sockaddr*>(&there), sizeof there) != 0 ||
       ::getsockname(signalled, reinterpret_cast<sockaddr*>(&mine), &length) != 0)) {
    error = ::WSAGetLastError();
  }
  for (int attempt = 0; error == 0 && waited == INVALID_SOCKET && attempt < 8; ++attempt) {
    WSAPOLLFD pending{handleOf(listener.socket), POLLRDNORM, 0};
    if (::WSAPoll(&pending, 1, 5000) != 1) {
      error = WSAETIMEDOUT;
      break;
    }
    const Accepted taken = acceptFrom(listener.socket);
    sockaddr_in peer{};
    length = sizeof peer;
    const bool ours =
        taken.socket != kNone &&
        ::getpeername(handleOf(taken.socket), reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.sin_addr.s_addr == mine.sin_addr.s_addr && peer.sin_port == mine.sin_port;
    if (ours) {
      waited = handleOf(taken.socket);
    } else {
      close(taken.socket);
    }
  }
  close(listener.socket);
  if (error == 0 && waited == INVALID_SOCKET) error = WSAECONNREFUSED;
  // Signals never wait: once one byte is in, the waited end stays readable anyway.
  if (error == 0 && !setNonBlocking(signalled)) error = ::WSAGetLastError();
  if (error == 0) return 0;
  close(waited);
  close(signalled);
  waited = signalled = INVALID_SOCKET;
  return error;
}

}  // namespace

int startUp() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return result;
}

std::optional<std::uint32_t> resolve(const std::string& host) {
  if (startUp() != 0) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  const std::uint32_t address =
      reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return address;
}

Listening listenOn(std::uint32_t address, int port) {
  Listening result;
  const SOCKET s = newStream(result.error);
  if (s == INVALID_SOCKET) return result;
  // No SO_REUSEADDR: on Windows it would let a second socket take a port already listened on.
  const sockaddr_in local = endpoint(address, port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    result.failed = Step::Bind;
  } else if (::listen(s, SOMAXCONN) != 0) {
    result.failed = Step::Listen;
  } else if (!setNonBlocking(s)) {
    result.failed = Step::Socket;
  } else {
    result.socket = s;
    return result;
  }
  result.error = ::WSAGetLastError();
  ::closesocket(s);
  return result;
}

int localPort(Socket socket) {
  sockaddr_in local{};
  int length = sizeof local;
  if (::getsockname(handleOf(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

Accepted acceptFrom(Socket listener) {
  Accepted result;
  sockaddr_in peer{};
  int length = sizeof peer;
  const SOCKET s = ::accept(handleOf(listener), reinterpret_cast<sockaddr*>(&peer), &length);
  if (s == INVALID_SOCKET) {
    const int error = ::WSAGetLastError();
    // WSAECONNRESET: the peer gave up before its connection was taken.
    const bool none = error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET;
    result.error = none ? 0 : error;
    return result;
  }
  // Accepted sockets do not inherit the listener's blocking mode everywhere: set it.
  if (!setNonBlocking(s)) {
    result.error = ::WSAGetLastError();
    ::closesocket(s);
    return result;
  }
  result.socket = s;
  result.peer = peer.sin_addr.s_addr;
  return result;
}

Opened openStream(std::uint32_t localAddress) {
  int error = 0;
  const SOCKET s = newStream(error);
  if (s == INVALID_SOCKET) return {kNone, error};
  if (localAddress != 0) {
    const sockaddr_in local = endpoint(localAddress, 0);
    ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  if (!setNonBlocking(s)) {
    error = ::WSAGetLastError();
    ::closesocket(s);
    return {kNone, error};
  }
  return {s, 0};
}

Connected connectWithin(Socket socket, std::uint32_t address, int port, int timeoutMs,
                        const WakeEvent& stop) {
  const SOCKET s = handleOf(socket);
  const sockaddr_in remote = endpoint(address, port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) return {};
  if (::WSAGetLastError() != WSAEWOULDBLOCK) return {::WSAGetLastError(), false};
  // select, not WSAPoll: WSAPoll misses a refused connection on Windows before 10 (2004).
  fd_set woken, done, failed;
  FD_ZERO(&woken);
  FD_ZERO(&done);
  FD_ZERO(&failed);
  FD_SET(handleOf(stop.handle()), &woken);
  FD_SET(s, &done);
  FD_SET(s, &failed);
  timeval storage{};
  const int n = ::select(0, &woken, &done, &failed, bound(timeoutMs, storage));
  if (n == SOCKET_ERROR) return {::WSAGetLastError(), false};
  if (FD_ISSET(handleOf(stop.handle()), &woken)) return {WSAECANCELLED, true};
  if (n == 0) return {WSAETIMEDOUT, false};
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return {::WSAGetLastError(), false};
  }
  return {error, false};
}

Transfer receive(Socket socket, void* buffer, std::size_t size) {
  const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int n = ::recv(handleOf(socket), static_cast<char*>(buffer), length, 0);
  if (n != SOCKET_ERROR) return {static_cast<std::size_t>(n), 0, false};
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {0, 0, true};
  return {0, error, false};
}

Transfer send(Socket socket, const void* data, std::size_t size) {
  const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  // Windows has no SIGPIPE: a peer that has gone is an error number like any other.
  const int n = ::send(handleOf(socket), static_cast<const char*>(data), length, 0);
  if (n != SOCKET_ERROR) return {static_cast<std::size_t>(n), 0, false};
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {0, 0, true};
  return {0, error, false};
}

int wouldBlockError() {
  return WSAEWOULDBLOCK;
}

bool timedOut(int error) {
  // Keepalive that found the peer gone ends a connection with WSAENETRESET; unacknowledged data
  // past TCP_MAXRT with WSAETIMEDOUT or WSAECONNABORTED.
  return error == WSAETIMEDOUT || error == WSAENETRESET || error == WSAECONNABORTED;
}

std::string errorText(int error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  ::LocalFree(text);
  // Windows ends its messages with a line end.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

void close(Socket socket) {
  if (socket != kNone) ::closesocket(handleOf(socket));
}

bool setReceiveBuffer(Socket socket, int bytes) {
  return optionInt(handleOf(socket), SOL_SOCKET, SO_RCVBUF, static_cast<DWORD>(bytes)) == 0;
}

bool setBlocking(Socket socket, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(handleOf(socket), FIONBIO, &nonBlocking) == 0;
}

bool keepAlive(Socket socket, const Keepalive& timing) {
  const SOCKET s = handleOf(socket);
  bool ok = optionInt(s, SOL_SOCKET, SO_KEEPALIVE, TRUE) == 0;
  const bool eachSet = optionInt(s, IPPROTO_TCP, kTcpKeepIdle, timing.idleSeconds) == 0 &&
                       optionInt(s, IPPROTO_TCP, kTcpKeepInterval, timing.intervalSeconds) == 0 &&
                       optionInt(s, IPPROTO_TCP, kTcpKeepCount, timing.probes) == 0;
  if (!eachSet) {
    // The older interface asks a fixed number of times: ask more often, so that the connection
    // still ends after the same time.
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<u_long>(timing.idleSeconds) * 1000;
    values.keepaliveinterval =
        static_cast<u_long>(timing.intervalSeconds * timing.probes * 1000 / kFixedKeepaliveProbes);
    DWORD returned = 0;
    ok = ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                    nullptr) == 0 &&
         ok;
  }
  return limitUnacknowledged(socket, timing.timeoutMs()) && ok;
}

bool limitUnacknowledged(Socket socket, int timeoutMs) {
  const DWORD seconds = static_cast<DWORD>((timeoutMs + 999) / 1000);
  return optionInt(handleOf(socket), IPPROTO_TCP, kTcpMaxRetransmitSeconds, seconds) == 0;
}

bool sendAtOnce(Socket socket) {
  return optionInt(handleOf(socket), IPPROTO_TCP, TCP_NODELAY, 1) == 0;
}

Wait waitReadable(Socket socket, const WakeEvent& wake, int timeoutMs) {
  std::vector<bool> ready;
  const std::vector<Socket> sockets = socket == kNone ? std::vector<Socket>{} : std::vector{socket};
  return waitReadable(sockets, wake, timeoutMs, ready);
}

Wait waitReadable(const std::vector<Socket>& sockets, const WakeEvent& wake, int timeoutMs,
                  std::vector<bool>& ready) {
  std::vector<WSAPOLLFD> fds{{handleOf(wake.handle()), POLLRDNORM, 0}};
  for (Socket s : sockets) fds.push_back({handleOf(s), POLLRDNORM, 0});
  const int n =
      ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
  if (n <= 0) return Wait::TimedOut;
  if (fds[0].revents != 0) return Wait::Woken;
  // Errors and hang-ups count as readable: the next recv or accept reports them.
  ready.assign(sockets.size(), false);
  for (std::size_t i = 0; i < sockets.size(); ++i) ready[i] = fds[i + 1].revents != 0;
  return Wait::Ready;
}

Wait waitReadable(Socket socket, const WakeEvent& wake, const WakeEvent& signal, int timeoutMs) {
  // WSAPoll fails outright on a handle that is no socket: only those there are take part.
  std::vector<WSAPOLLFD> fds{{handleOf(wake.handle()), POLLRDNORM, 0}};
  const std::size_t signalAt = signal.valid() ? fds.size() : 0;
  if (signal.valid()) fds.push_back({handleOf(signal.handle()), POLLRDNORM, 0});
  const std::size_t socketAt = socket != kNone ? fds.size() : 0;
  if (socket != kNone) fds.push_back({handleOf(socket), POLLRDNORM, 0});
  const int n =
      ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
  if (n <= 0) return Wait::TimedOut;
  if (fds[0].revents != 0) return Wait::Woken;
  if (signalAt != 0 && fds[signalAt].revents != 0) return Wait::Signalled;
  // Errors and hang-ups count as readable: the next recv or accept reports them.
  return socketAt != 0 && fds[socketAt].revents != 0 ? Wait::Ready : Wait::TimedOut;
}

WakeEvent::WakeEvent() {
  SOCKET waited = INVALID_SOCKET;
  SOCKET signalled = INVALID_SOCKET;
  error_ = connectedPair(waited, signalled);
  waited_ = waited;
  signalled_ = signalled;
}

WakeEvent::~WakeEvent() {
  close(waited_);
  close(signalled_);
}

void WakeEvent::signal() {
  // The byte is never read, so the waited end stays readable.
  const char one = 1;
  ::send(handleOf(signalled_), &one, 1, 0);
}

void WakeEvent::clear() {
  // Takes every byte the signals left, never waiting for one more.
  char bytes[64];
  u_long waiting = 0;
  while (::ioctlsocket(handleOf(waited_), FIONREAD, &waiting) == 0 && waiting > 0) {
    if (::recv(handleOf(waited_), bytes, sizeof bytes, 0) <= 0) break;
  }
}

}  // namespace dravik::sock
