// The start/stop command: validates the port texts, starts the listening server, stops it.
#include <optional>
#include <string>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "monitor/port_text.h"
#include "monitor/view.h"
#include "output/output_port.h"

namespace dravik {

void Monitor::startStop() {
  if (state_.running == 0) {
    start();
  } else {
    stop();
  }
}

void Monitor::start() {
  const Messages& m = messages();
  SlotPorts ports;
  for (int s = 0; s < kPortSlotCount; ++s) {
    const std::string text = view_.text(kSlotControls[s].portEdit);
    ports[s] = parsePort(text);
    if (!ports[s] && !isBlankText(text)) setSourceLabel(s, m.portNumberError);
  }
  trace_.clear();

  for (int i = 0; i < kPortSlotCount; ++i) {
    for (int j = i + 1; j < kPortSlotCount; ++j) {
      if (!ports[i] || ports[i] != ports[j]) continue;
      view_.messageBox(m.duplicatePorts);
      state_.running = 0;
      view_.repaint(ctl::kStatusPanel);
      return;
    }
  }

  if (localAddressOverride_) state_.selectedLocalAddress = *localAddressOverride_;
  if (const std::optional<StartError> failure = server_.start(state_.selectedLocalAddress, ports)) {
    showStartFailure(*failure);
    state_.running = 0;
    view_.repaint(ctl::kStatusPanel);
    return;
  }
  state_.running = 1;
  view_.repaint(ctl::kStatusPanel);
  for (const InputRow& row : window_.inputs) view_.repaint(row.lamp);
  view_.setText(ctl::kStartStop, m.stopServerCaption);
  view_.setText(ctl::kStatusPanel, m.statusListening);
  for (const SlotControls& slot : kSlotControls) view_.enable(slot.portEdit, false);
  view_.enable(ctl::kAdapterCombo, false);
}

void Monitor::stop() {
  // A frame waiting for a unit that does not answer holds up neither the stop nor what follows.
  if (output_) output_->cancel();
  view_.enable(ctl::kAdapterCombo, true);
  bool anyServing = false;
  for (int s = 0; s < kPortSlotCount; ++s) {
    if (state_.slots[s].state == SlotState::Serving) {
      anyServing = true;
      server_.requestStop(s);
    }
    view_.enable(kSlotControls[s].portEdit, true);
    setSourceLabel(s, "");
  }
  for (int s = 0; s < kPortSlotCount; ++s) server_.waitUntilIdle(s);
  for (int i = 0; i < profile_.outputCount(); ++i) {
    state_.outputs[i] = 0;
    view_.repaint(window_.outputs[i].lamp);
  }
  state_.running = 0;
  view_.repaint(ctl::kStatusPanel);
  // No server thread ran to show the stopped server at its end.
  if (!anyServing) showStopped();
}

}  // namespace dravik
