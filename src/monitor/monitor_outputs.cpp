// The ON/OFF buttons of DRAVIK_A: flip one output and send every output's state to the units.
// The frames go out from the sender's threads, so a unit that does not answer never holds up
// the window.
#include "engine/frame_codec.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "monitor/port_text.h"
#include "monitor/view.h"
#include "output/output_port.h"

namespace dravik {

void Monitor::toggleDigitalOut(int channel) {
  if (!output_ || channel < 0 || channel >= profile_.outputCount()) return;
  const std::optional<int> port = parsePort(view_.text(ctl::kDestinationPort));
  if (!port) {
    view_.messageBox(messages().destinationPortRefused);
    return;
  }
  state_.outputs[channel] = state_.outputs[channel] != 0 ? 0 : 1;
  view_.repaint(window_.outputs[channel].lamp);

  const Answer frame = encodeOutputFrame(state_.outputs, profile_.outputCount());
  for (int s = 0; s < kPortSlotCount; ++s) {
    // A unit that cannot be reached only misses this frame; the others still get it.
    if (state_.slots[s].state == SlotState::Serving) output_->post(s, *port, frame);
  }
}

}  // namespace dravik
