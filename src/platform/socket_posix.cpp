#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

namespace dravik::sock {
namespace {

int fdOf(Socket socket) {
  return static_cast<int>(socket);
}

Socket socketOf(int fd) {
  return fd < 0 ? kNone : static_cast<Socket>(fd);
}

sockaddr_in endpoint(std::uint32_t address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = address;
  return a;
}

// poll over `fds`, going on after a signal with what is left of `timeoutMs`.
int pollFor(pollfd* fds, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int left = timeoutMs;;) {
    const int n = ::poll(fds, count, left);
    if (n >= 0 || errno != EINTR) return n;
    if (timeoutMs >= 0) {
      const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      left = rest.count() > 0 ? static_cast<int>(rest.count()) : 0;
    }
  }
}

}  // namespace

int startUp() {
  return 0;
}

std::optional<std::uint32_t> resolve(const std::string& host) {
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
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  // A port whose earlier connections still linger in TIME_WAIT can be listened on again.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in local = endpoint(address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    result.failed = Step::Bind;
  } else if (::listen(fd, SOMAXCONN) != 0) {
    result.failed = Step::Listen;
  } else {
    result.socket = socketOf(fd);
    return result;
  }
  result.error = errno;
  ::close(fd);
  return result;
}

int localPort(Socket socket) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(fdOf(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

Accepted acceptFrom(Socket listener) {
  Accepted result;
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept4(fdOf(listener), reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    const bool none =
        error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED;
    result.error = none ? 0 : error;
    return result;
  }
  result.socket = socketOf(fd);
  result.peer = peer.sin_addr.s_addr;
  return result;
}

Opened openStream(std::uint32_t localAddress) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return {kNone, errno};
  if (localAddress != 0) {
    const sockaddr_in local = endpoint(localAddress, 0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  return {socketOf(fd), 0};
}

Connected connectWithin(Socket socket, std::uint32_t address, int port, int timeoutMs,
                        const WakeEvent& stop) {
  const sockaddr_in remote = endpoint(address, port);
  if (::connect(fdOf(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
    return {};
  }
  if (errno != EINPROGRESS) return {errno, false};
  pollfd fds[2] = {{fdOf(stop.handle()), POLLIN, 0}, {fdOf(socket), POLLOUT, 0}};
  const int n = pollFor(fds, 2, timeoutMs);
  if (n < 0) return {errno, false};
  if (fds[0].revents != 0) return {ECANCELED, true};
  if (n == 0) return {ETIMEDOUT, false};
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fdOf(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return {errno, false};
  return {error, false};
}

Transfer receive(Socket socket, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(fdOf(socket), buffer, size, 0);
    if (n >= 0) return {static_cast<std::size_t>(n), 0, false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, 0, true};
    return {0, errno, false};
  }
}

Transfer send(Socket socket, const void* data, std::size_t size) {
  for (;;) {
    // MSG_NOSIGNAL: a unit that has gone away must not take the process down with SIGPIPE.
    const ssize_t n = ::send(fdOf(socket), data, size, MSG_NOSIGNAL);
    if (n >= 0) return {static_cast<std::size_t>(n), 0, false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, 0, true};
    return {0, errno, false};
  }
}

int wouldBlockError() {
  return EAGAIN;
}

bool timedOut(int error) {
  return error == ETIMEDOUT;
}

std::string errorText(int error) {
  return std::generic_category().message(error);
}

void close(Socket socket) {
  // Linux releases the descriptor even when close is interrupted, so it is never retried.
  if (socket != kNone) ::close(fdOf(socket));
}

bool setReceiveBuffer(Socket socket, int bytes) {
  return ::setsockopt(fdOf(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool setBlocking(Socket socket, bool blocking) {
  const int flags = ::fcntl(fdOf(socket), F_GETFL);
  return flags >= 0 &&
         ::fcntl(fdOf(socket), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool keepAlive(Socket socket, const Keepalive& timing) {
  const int fd = fdOf(socket);
  const int on = 1;
  bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timing.idleSeconds, sizeof(int)) == 0 && ok;
  ok =
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timing.intervalSeconds, sizeof(int)) == 0 && ok;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timing.probes, sizeof(int)) == 0 && ok;
  return limitUnacknowledged(socket, timing.timeoutMs()) && ok;
}

bool limitUnacknowledged(Socket socket, int timeoutMs) {
  const unsigned timeout = static_cast<unsigned>(timeoutMs);
  return ::setsockopt(fdOf(socket), IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout) == 0;
}

bool sendAtOnce(Socket socket) {
  const int on = 1;
  return ::setsockopt(fdOf(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

Wait waitReadable(Socket socket, const WakeEvent& wake, int timeoutMs) {
  std::vector<bool> ready;
  return waitReadable(socket == kNone ? std::vector<Socket>{} : std::vector<Socket>{socket}, wake,
                      timeoutMs, ready);
}

Wait waitReadable(const std::vector<Socket>& sockets, const WakeEvent& wake, int timeoutMs,
                  std::vector<bool>& ready) {
  std::vector<pollfd> fds{{fdOf(wake.handle()), POLLIN, 0}};
  for (Socket s : sockets) fds.push_back({fdOf(s), POLLIN, 0});
  const int n = pollFor(fds.data(), fds.size(), timeoutMs);
  if (n <= 0) return Wait::TimedOut;
  if (fds[0].revents != 0) return Wait::Woken;
  // Errors and hang-ups count as readable: the next receive or accept reports them.
  ready.assign(sockets.size(), false);
  for (std::size_t i = 0; i < sockets.size(); ++i) ready[i] = fds[i + 1].revents != 0;
  return Wait::Ready;
}

Wait waitReadable(Socket socket, const WakeEvent& wake, const WakeEvent& signal, int timeoutMs) {
  // poll passes over negative descriptors: kNone waits on the events alone.
  pollfd fds[3] = {{fdOf(wake.handle()), POLLIN, 0},
                   {fdOf(signal.handle()), POLLIN, 0},
                   {fdOf(socket), POLLIN, 0}};
  const int n = pollFor(fds, 3, timeoutMs);
  if (n <= 0) return Wait::TimedOut;
  if (fds[0].revents != 0) return Wait::Woken;
  if (fds[1].revents != 0) return Wait::Signalled;
  // Errors and hang-ups count as readable: the next receive or accept reports them.
  return fds[2].revents != 0 ? Wait::Ready : Wait::TimedOut;
}

WakeEvent::WakeEvent() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  error_ = fd < 0 ? errno : 0;
  waited_ = signalled_ = socketOf(fd);
}

WakeEvent::~WakeEvent() {
  close(waited_);
}

void WakeEvent::signal() {
  const std::uint64_t one = 1;
  // The counter is never read, so it stays non-zero and the descriptor stays readable.
  [[maybe_unused]] ssize_t written = ::write(fdOf(signalled_), &one, sizeof one);
}

void WakeEvent::clear() {
  // Reading the counter sets it to 0; an empty counter (EAGAIN) is already clear.
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t read = ::read(fdOf(waited_), &count, sizeof count);
}

}  // namespace dravik::sock
