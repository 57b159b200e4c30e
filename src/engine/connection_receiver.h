// The receiver of one accepted connection: cuts the unit's frames, answers them, updates the
// inputs, and reports the answered frames of each burst (one receive) together.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/monitor_state.h"
#include "engine/variant_profile.h"
#include "platform/socket.h"

namespace dravik {

class EngineEvents;
class Trace;

// What every engine thread works on; owned by the monitor, outlives every thread.
struct EngineContext {
  const VariantProfile& profile;
  MonitorState& state;
  EngineEvents& events;
  const Trace& trace;
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

// Every stop goes through the slot's wake-up descriptor, so a waiting thread needs no
// time-out of its own: an idle monitor sleeps until a byte, a connection or a stop arrives.
inline constexpr int kWaitForever = -1;

// Serves `socket` (accepted on `slot`, from `peer`, network byte order) until the unit
// closes it, a receive fails, or the slot leaves Starting and Serving. Closes the socket.
void runReceiver(const EngineContext& engine, int slot, const std::shared_ptr<SlotRun>& run,
                 sock::Socket socket, std::uint32_t peer);

}  // namespace dravik
