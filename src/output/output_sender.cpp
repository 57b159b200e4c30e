#include "output/output_sender.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "logging/trace.h"
#include "platform/socket.h"

namespace dravik {

namespace {

// Connects the non-blocking `fd` within `timeoutMs`, unless `wakeFd` becomes readable first
// (ECANCELED); 0 or the error number.
int connectWithin(int fd, const sockaddr_in& remote, int timeoutMs, int wakeFd) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
  int n;
  do {
    n = ::poll(p, 2, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return ETIMEDOUT;
  if (n < 0) return errno;
  if (p[1].revents != 0) return ECANCELED;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

void OutputSender::post(int slot, int port, const Answer& frame) {
  std::lock_guard lock(lock_);
  if (!cancelled_) cancelled_ = std::make_shared<sock::WakeEvent>();
  Lane& lane = lanes_[slot];
  lane.jobs.push_back({frame, port, cancelled_});
  if (lane.sending) return;
  // The lane's last thread has taken its last frame and only has to end: the join is short.
  if (const int error = lane.thread.start([this, slot] { sendQueued(slot); }); error != 0) {
    // The system is out of threads: this frame is lost, as on a unit that cannot be reached.
    trace_("thread error: %d \r\n", error);
    lane.jobs.pop_back();
    return;
  }
  lane.sending = true;
}

void OutputSender::cancel() {
  std::lock_guard lock(lock_);
  // Every frame posted so far carries this event: an attempt under way ends at once, and so
  // does every one still queued when its turn comes.
  if (cancelled_) cancelled_->signal();
  cancelled_.reset();
}

void OutputSender::shutdown() {
  cancel();
  for (Lane& lane : lanes_) lane.thread.join();
}

void OutputSender::sendQueued(int slot) {
  Lane& lane = lanes_[slot];
  for (;;) {
    Job job;
    {
      std::lock_guard lock(lock_);
      if (lane.jobs.empty()) {
        lane.sending = false;
        return;
      }
      job = std::move(lane.jobs.front());
      lane.jobs.pop_front();
    }
    sendDigitalOut(slot, job.port, job.frame.data(), job.frame.size(), job.cancelled->fd());
  }
}

Result OutputSender::sendDigitalOut(int slot, int port, const std::uint8_t* data,
                                    std::size_t length, int wakeFd) {
  PortSlot& portSlot = state_.slots[slot];
  {
    // The receiver closes its socket under this lock, so it stays open while it is used here.
    std::lock_guard lock(portSlot.connectionLock);
    const int open = portSlot.connectionSocket;
    if (open != kNoSocket) {
      trace_("send:\r\n");
      if (::send(open, data, length, MSG_NOSIGNAL) < 0) {
        trace_("err:sendDigitalOut:send:%d\r\n", errno);
        return kFail;
      }
      return kOk;
    }
  }
  const std::uint32_t unit = portSlot.unitAddress;
  // No unit has reported on this slot: connecting to 0.0.0.0 would reach this host itself.
  if (unit == 0) return kFail;
  return sendOnNewConnection(unit, port, data, length, wakeFd);
}

Result OutputSender::sendOnNewConnection(std::uint32_t unit, int port, const std::uint8_t* data,
                                         std::size_t length, int wakeFd) {
  trace_("newsocket\r\n");
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    trace_("err:sendDigitalOut:socket:%d\r\n", errno);
    return kFail;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = state_.selectedLocalAddress;
  // A failed bind leaves the choice of the local address to the system.
  ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);

  trace_("connect:%s:%d\r\n", sock::addressText(unit).c_str(), port);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<std::uint16_t>(port));
  remote.sin_addr.s_addr = unit;
  if (const int error = connectWithin(fd, remote, kConnectTimeoutMs, wakeFd); error != 0) {
    trace_("err:sendDigitalOut:connect:%d\r\n", error);
    sock::closeFd(fd);
    return kFail;
  }
  // The frame must not stay unacknowledged longer than on a unit's own connection.
  sock::limitUnacknowledged(fd, sock::kUnitKeepalive.timeoutMs());
  trace_("send:\r\n");
  const bool sent = ::send(fd, data, length, MSG_NOSIGNAL) >= 0;
  if (!sent) trace_("err:sendDigitalOut:send:%d\r\n", errno);
  sock::closeFd(fd);
  return sent ? kOk : kFail;
}

std::unique_ptr<OutputPort> makeOutputSender(MonitorState& state, const Trace& trace) {
  return std::make_unique<OutputSender>(state, trace);
}

}  // namespace dravik
