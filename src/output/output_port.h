// Sends the output frames to the slots' units (DRAVIK_A). The output sender implements it;
// DRAVIK_B has none, so it does not link the sender.
#pragma once

#include "engine/frame_codec.h"

namespace dravik {

class OutputPort {
 public:
  virtual ~OutputPort() = default;
  // Window's thread; returns at once. Sends `frame` to the unit of `slot` (0-3) at TCP `port`
  // (host byte order) from a thread of the slot's own, after every frame posted for the slot
  // before it, over the unit's open reporting connection or a new one.
  virtual void post(int slot, int port, const Answer& frame) = 0;
  // Window's thread: the frames posted so far that have not gone out need no new connection
  // to be attempted for them; one under way ends at once.
  virtual void cancel() = 0;
  // Window's thread: cancels, then joins every thread of the sender (every exit path).
  virtual void shutdown() = 0;
};

}  // namespace dravik
