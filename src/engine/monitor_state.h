// The run-time state the engine shares between the window's thread, the server threads and
// the receiver threads. Every field another thread polls or writes is atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/variant_profile.h"
#include "platform/socket.h"

namespace dravik {

enum class SlotState : int { Idle = 0, Starting = 1, Serving = 2, Stopping = 3 };

inline constexpr sock::Socket kNoSocket = sock::kNone;

// One of the four listening ports.
struct PortSlot {
  std::atomic<SlotState> state{SlotState::Idle};
  // Listening port, written by the start/stop command once the text is validated.
  int port = 0;
  // Valid while Starting or Serving; owned by the slot's server thread once it runs.
  sock::Socket listenSocket = kNoSocket;
  // DRAVIK_A: address (network byte order) of the unit that last sent a valid frame here;
  // 0 until one has.
  std::atomic<std::uint32_t> unitAddress{0};
  // DRAVIK_A: the most recently accepted connection of this slot still open, or kNoSocket.
  std::atomic<sock::Socket> connectionSocket{kNoSocket};
  // Held by the output sender while it reads connectionSocket and sends on it, and by a
  // receiver while it publishes its socket or clears and closes it, so that a send never
  // reaches a closed (and possibly reused) descriptor.
  std::mutex connectionLock;
  // Held by a receiver from its look at the slot state to the end of its window updates, and
  // by a stop while it moves the slot to Stopping: the stop resets the label and the buttons
  // only after every frame that saw the slot serving has shown, so none can undo the reset.
  std::mutex viewLock;
};

struct MonitorState {
  std::array<PortSlot, kPortSlotCount> slots;
  // Index 0 = DI1. Written by receivers, read by the colouring and the acknowledgements.
  std::array<std::atomic<int>, kMaxInputs> inputs{};
  // DRAVIK_A, index 0 = DO1. Written on the window's thread only.
  std::array<std::atomic<int>, kMaxOutputs> outputs{};
  // 1 while the server runs (the last start succeeded and no stop followed).
  std::atomic<int> running{0};
  // Address (network byte order) every socket of the monitor is bound to.
  std::atomic<std::uint32_t> selectedLocalAddress{0};
};

}  // namespace dravik
