// The digital-output sender of DRAVIK_A: sends an output frame to one slot's unit, over the
// unit's open reporting connection or over a connection of its own.
#pragma once

#include <memory>

#include "engine/monitor_state.h"
#include "output/output_port.h"

namespace dravik {

class Trace;

class OutputSender : public OutputPort {
 public:
  // How long a new connection may take before the unit counts as unreachable.
  static constexpr int kConnectTimeoutMs = 20000;

  OutputSender(MonitorState& state, const Trace& trace) : state_(state), trace_(trace) {}

  // Window's thread. A slot whose unit has neither an open connection nor a known address
  // is passed over with kFail.
  Result sendDigitalOut(int slot, int port, const std::uint8_t* data, std::size_t length) override;

 private:
  Result sendOnNewConnection(std::uint32_t unit, int port, const std::uint8_t* data,
                             std::size_t length);

  MonitorState& state_;
  const Trace& trace_;
};

// The factory the program with outputs hands to its Monitor.
std::unique_ptr<OutputPort> makeOutputSender(MonitorState& state, const Trace& trace);

}  // namespace dravik
