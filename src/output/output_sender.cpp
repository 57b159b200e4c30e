#include "output/output_sender.h"

#include <optional>

#include "logging/trace.h"
#include "platform/socket.h"

namespace dravik {

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
    sendDigitalOut(slot, job.port, job.frame.data(), job.frame.size(), job.cancelled.get());
  }
}

Result OutputSender::sendDigitalOut(int slot, int port, const std::uint8_t* data,
                                    std::size_t length, const sock::WakeEvent* stop) {
  PortSlot& portSlot = state_.slots[slot];
  {
    // The receiver closes its socket under this lock, so it stays open while it is used here.
    std::lock_guard lock(portSlot.connectionLock);
    const sock::Socket open = portSlot.connectionSocket;
    if (open != kNoSocket) {
      trace_("send:\r\n");
      const sock::Transfer sent = sock::send(open, data, length);
      if (sent.wouldBlock || sent.error != 0) {
        trace_("err:sendDigitalOut:send:%d\r\n",
               sent.wouldBlock ? sock::wouldBlockError() : sent.error);
        return kFail;
      }
      return kOk;
    }
  }
  const std::uint32_t unit = portSlot.unitAddress;
  // No unit has reported on this slot: connecting to 0.0.0.0 would reach this host itself.
  if (unit == 0) return kFail;
  return sendOnNewConnection(unit, port, data, length, stop);
}

Result OutputSender::sendOnNewConnection(std::uint32_t unit, int port, const std::uint8_t* data,
                                         std::size_t length, const sock::WakeEvent* stop) {
  trace_("newsocket\r\n");
  // A failed bind leaves the choice of the local address to the system.
  const sock::Opened opened = sock::openStream(state_.selectedLocalAddress);
  if (opened.socket == sock::kNone) {
    trace_("err:sendDigitalOut:socket:%d\r\n", opened.error);
    return kFail;
  }
  trace_("connect:%s:%d\r\n", sock::addressText(unit).c_str(), port);
  // Without a stop of the caller's, one that is never signalled: made only then, since on
  // Windows an event costs a loopback connection.
  std::optional<sock::WakeEvent> never;
  if (stop == nullptr) stop = &never.emplace();
  const sock::Connected connected =
      sock::connectWithin(opened.socket, unit, port, kConnectTimeoutMs, *stop);
  if (connected.error != 0) {
    trace_("err:sendDigitalOut:connect:%d\r\n", connected.error);
    sock::close(opened.socket);
    return kFail;
  }
  // The frame must not stay unacknowledged longer than on a unit's own connection.
  sock::limitUnacknowledged(opened.socket, sock::kUnitKeepalive.timeoutMs());
  trace_("send:\r\n");
  const sock::Transfer sent = sock::send(opened.socket, data, length);
  const int error = sent.wouldBlock ? sock::wouldBlockError() : sent.error;
  if (error != 0) trace_("err:sendDigitalOut:send:%d\r\n", error);
  sock::close(opened.socket);
  return error == 0 ? kOk : kFail;
}

std::unique_ptr<OutputPort> makeOutputSender(MonitorState& state, const Trace& trace) {
  return std::make_unique<OutputSender>(state, trace);
}

}  // namespace dravik
