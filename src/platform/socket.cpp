#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace dravik::sock {

void closeFd(int fd) {
  // Linux releases the descriptor even when close is interrupted, so it is never retried.
  if (fd >= 0) ::close(fd);
}

bool keepAlive(int fd, const Keepalive& timing) {
  const int on = 1;
  bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timing.idleSeconds, sizeof(int)) == 0 && ok;
  ok =
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timing.intervalSeconds, sizeof(int)) == 0 && ok;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timing.probes, sizeof(int)) == 0 && ok;
  return limitUnacknowledged(fd, timing.timeoutMs()) && ok;
}

bool limitUnacknowledged(int fd, int timeoutMs) {
  const unsigned timeout = static_cast<unsigned>(timeoutMs);
  return ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout) == 0;
}

std::string addressText(std::uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

Wait waitReadable(int fd, int wakeFd, int timeoutMs) {
  return waitReadable(fd, wakeFd, -1, timeoutMs);
}

Wait waitReadable(int fd, int wakeFd, int signalFd, int timeoutMs) {
  // poll passes over negative descriptors.
  pollfd fds[3] = {{wakeFd, POLLIN, 0}, {signalFd, POLLIN, 0}, {fd, POLLIN, 0}};
  const int n = ::poll(fds, 3, timeoutMs);
  if (n <= 0) return Wait::TimedOut;
  if (fds[0].revents != 0) return Wait::Woken;
  if (fds[1].revents != 0) return Wait::Signalled;
  // Errors and hang-ups count as readable: the next recv or accept reports them.
  return fds[2].revents != 0 ? Wait::Ready : Wait::TimedOut;
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
  closeFd(fd_);
}

void WakeEvent::signal() {
  const std::uint64_t one = 1;
  // The counter is never read, so it stays non-zero and the descriptor stays readable.
  [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeEvent::clear() {
  // Reading the counter sets it to 0; an empty counter (EAGAIN) is already clear.
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t read = ::read(fd_, &count, sizeof count);
}

}  // namespace dravik::sock
