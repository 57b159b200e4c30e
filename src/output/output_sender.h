// The digital-output sender of DRAVIK_A: sends the output frames to the slots' units, each
// slot's in the order posted, from threads of its own, so that a unit that does not answer
// never holds up the window or another slot's unit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "engine/monitor_state.h"
#include "output/output_port.h"
#include "platform/socket.h"
#include "platform/worker_thread.h"

namespace dravik {

class Trace;

class OutputSender : public OutputPort {
 public:
  // How long a new connection may take before the unit counts as unreachable.
  static constexpr int kConnectTimeoutMs = 20000;

  OutputSender(MonitorState& state, const Trace& trace) : state_(state), trace_(trace) {}
  ~OutputSender() override { shutdown(); }
  OutputSender(const OutputSender&) = delete;
  OutputSender& operator=(const OutputSender&) = delete;

  void post(int slot, int port, const Answer& frame) override;
  void cancel() override;
  void shutdown() override;

  // Sends one frame now, on the calling thread. A connection attempt ends early, failed, once
  // `stop` (when given) is signalled. A slot whose unit has neither an open connection nor a known
  // address is passed over with kFail.
  Result sendDigitalOut(int slot, int port, const std::uint8_t* data, std::size_t length,
                        const sock::WakeEvent* stop = nullptr);

 private:
  struct Job {
    Answer frame{};
    int port = 0;
    // Signalled by the cancel that drops this frame.
    std::shared_ptr<sock::WakeEvent> cancelled;
  };
  // One slot's frames and the thread that sends them; the thread ends when none is left.
  struct Lane {
    std::deque<Job> jobs;
    bool sending = false;  // its thread runs and will look at `jobs` again
    WorkerThread thread;   // window's thread only
  };

  void sendQueued(int slot);
  Result sendOnNewConnection(std::uint32_t unit, int port, const std::uint8_t* data,
                             std::size_t length, const sock::WakeEvent* stop);

  MonitorState& state_;
  const Trace& trace_;
  std::mutex lock_;  // guards the lanes' jobs and sending flags, and cancelled_
  std::array<Lane, kPortSlotCount> lanes_;
  // What the next cancel signals; made afresh by the first post after one.
  std::shared_ptr<sock::WakeEvent> cancelled_;
};

// The factory the program with outputs hands to its Monitor.
std::unique_ptr<OutputPort> makeOutputSender(MonitorState& state, const Trace& trace);

}  // namespace dravik
