// The receiver of one accepted connection: cuts the unit's frames, answers them, updates the
// inputs and the window, and records each accepted frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/monitor_state.h"
#include "engine/variant_profile.h"
#include "platform/socket.h"

namespace dravik {

class View;
class Trace;
class AccessLogSink;

// What every engine thread works on; owned by the monitor, outlives every thread.
struct EngineContext {
  const VariantProfile& profile;
  MonitorState& state;
  View& view;
  const Trace& trace;
  AccessLogSink& log;
};

// One server run of one slot, shared by its server thread and its receivers: the wake-up
// descriptor they wait on beside their socket, and whether the server thread has ended, so
// that a receiver left over from an earlier run never serves a later one.
struct SlotRun {
  sock::WakeEvent wake;
  std::atomic<bool> ended{false};

  // Wakes every thread of the run; they then look at the slot state.
  void stop() { wake.signal(); }
};

// How long a waiting thread sleeps before looking at its slot state even without a wake-up:
// a slot set to Stopping by a plain store (the close box) is noticed within this time.
inline constexpr int kStateCheckMs = 100;

// Serves `socket` (accepted on `slot`, from `peer`, network byte order) until the unit
// closes it, a receive fails, or the slot leaves Starting and Serving. Closes the socket.
void runReceiver(const EngineContext& engine, int slot, const std::shared_ptr<SlotRun>& run,
                 int socket, std::uint32_t peer);

}  // namespace dravik
