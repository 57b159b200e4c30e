// What the engine tells the monitor. The engine keeps the threads, the sockets and the frame
// codec; the monitor alone decides what the window shows and what the access log records.
//
// A receiver reports by burst: the frames it cut from one receive. It decodes and answers them
// in order, sends their answers together, then reports them together before it waits for more
// bytes, ends or is stopped.
#pragma once

#include <span>
#include <string>

namespace dravik {

// The signal states as one frame was answered: bit i set when input (output) i is on, DI1 and
// DO1 being bit 0. The inputs are the very bits its acknowledgement carried.
struct FrameStates {
  unsigned inputs = 0;
  unsigned outputs = 0;
};

class EngineEvents {
 public:
  virtual ~EngineEvents() = default;

  // Receiver thread, once per burst that set inputs: the valid frames of a burst on `slot` set
  // the inputs whose bits are in `changedInputs`; their answers have not been sent yet.
  virtual void inputsChanged(int slot, unsigned changedInputs) = 0;
  // Receiver thread, once the answers of a burst of valid frames from `peer` (dotted text) went
  // out, outside every lock: `frames` holds each frame's own states, in the order answered (the
  // place to record them; a message box may be shown from here). Other units may have changed
  // the shared states since. Also called when a stop ended the burst early: every answered
  // frame is reported.
  virtual void framesAnswered(int slot, const std::string& peer,
                              std::span<const FrameStates> frames) = 0;
  // Receiver thread, right after framesAnswered and only while the slot serves. Called under
  // the slot's view lock, which a stop takes to end the slot: whatever this shows is shown
  // before the stop resets the window, never after. Must not wait for the window's thread.
  virtual void unitReporting(int slot, const std::string& peer) = 0;
  // Receiver thread: the unit closed the connection.
  virtual void connectionClosed(int slot) = 0;

  // Server thread, at its end: `slot` is Idle, its listening socket closed and every input
  // reset to off.
  virtual void slotEnded(int slot) = 0;
};

}  // namespace dravik
