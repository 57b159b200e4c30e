// The start/stop command, the adapter combo box and the output switch.
#include <cctype>
#include <climits>
#include <string>
#include <string_view>

#include "engine/controls.h"
#include "engine/messages.h"
#include "monitor/monitor.h"
#include "monitor/view.h"
#include "output/output_port.h"

namespace dravik {

namespace {

constexpr int kLowestPort = 1024;
constexpr int kHighestPort = 65535;

bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Leading decimal number the way atoi reads it (white space, one sign, digits up to the first
// other character; 0 without digits), saturating instead of overflowing.
int leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value < INT_MAX) value = value * 10 + (text[i] - '0');
  }
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(negative ? -value : value);
}

std::string_view stripped(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool validPort(int port) {
  return port >= kLowestPort && port <= kHighestPort;
}

}  // namespace

void Monitor::startStop() {
  const Messages& m = messages();
  if (state_.running == 0) {
    for (int s = 0; s < kPortSlotCount; ++s) {
      PortSlot& slot = state_.slots[s];
      const std::string text = view_.text(kSlotControls[s].portEdit);
      const std::string_view number = stripped(text);
      const int port = leadingNumber(number);
      if (validPort(port)) {
        slot.port = port;
        slot.state = SlotState::Starting;
      } else if (!number.empty()) {
        view_.setText(kSlotControls[s].sourceLabel, m.portNumberError);
      }
    }
    trace_.clear();

    for (int i = 0; i < kPortSlotCount; ++i) {
      for (int j = i + 1; j < kPortSlotCount; ++j) {
        const PortSlot& a = state_.slots[i];
        const PortSlot& b = state_.slots[j];
        if (a.state != SlotState::Starting || b.state != SlotState::Starting) continue;
        if (a.port != b.port) continue;
        view_.messageBox(m.duplicatePorts);
        state_.running = 0;
        view_.repaint(ctl::kStatusPanel);
        for (PortSlot& slot : state_.slots) {
          if (slot.state == SlotState::Starting) slot.state = SlotState::Idle;
        }
        return;
      }
    }

    if (localAddressOverride_) state_.selectedLocalAddress = *localAddressOverride_;
    if (server_.start() != kOk) {
      state_.running = 0;
      view_.repaint(ctl::kStatusPanel);
      return;
    }
    state_.running = 1;
    view_.repaint(ctl::kStatusPanel);
    for (const InputRow& row : profile_.inputs) view_.repaint(row.lamp);
    view_.setText(ctl::kStartStop, m.stopServerCaption);
    view_.setText(ctl::kStatusPanel, m.statusListening);
    for (const SlotControls& slot : kSlotControls) view_.enable(slot.portEdit, false);
    view_.enable(ctl::kAdapterCombo, false);
    return;
  }

  view_.enable(ctl::kAdapterCombo, true);
  bool anyServing = false;
  for (int s = 0; s < kPortSlotCount; ++s) {
    if (state_.slots[s].state == SlotState::Serving) {
      anyServing = true;
      server_.requestStop(s);
    }
    view_.enable(kSlotControls[s].portEdit, true);
    view_.setText(kSlotControls[s].sourceLabel, "");
  }
  for (int s = 0; s < kPortSlotCount; ++s) server_.waitUntilIdle(s);
  for (int i = 0; i < profile_.outputCount(); ++i) {
    const OutputRow& row = profile_.outputs[i];
    state_.outputs[i] = 0;
    view_.repaint(row.lamp);
    view_.enable(row.button, false);
  }
  state_.running = 0;
  view_.repaint(ctl::kStatusPanel);
  if (!anyServing) {
    // No server thread ran to write the stopped texts at its end.
    view_.setText(ctl::kStartStop, m.startServerCaption);
    view_.setText(ctl::kStatusPanel, m.statusStopped);
    for (const InputRow& row : profile_.inputs) view_.repaint(row.lamp);
  }
}

bool Monitor::fillAdapterCombo() {
  adapterTable_ = selectAdapters(adapterProvider_.read());
  if (adapterTable_.empty()) return false;
  for (const AdapterEntry& entry : adapterTable_) {
    view_.addComboItem(ctl::kAdapterCombo, adapterLabel(entry));
  }
  view_.setComboSelection(ctl::kAdapterCombo, 0);
  selectAdapter();
  return true;
}

void Monitor::selectAdapter() {
  if (localAddressOverride_) {
    state_.selectedLocalAddress = *localAddressOverride_;
    return;
  }
  const int k = view_.comboSelection(ctl::kAdapterCombo);
  if (k >= 0 && k < static_cast<int>(adapterTable_.size())) {
    state_.selectedLocalAddress = adapterTable_[k].address;
  }
}

void Monitor::toggleDigitalOut(int channel) {
  if (!output_ || channel < 0 || channel >= profile_.outputCount()) return;
  const int port = leadingNumber(view_.text(ctl::kDestinationPort));
  if (!validPort(port)) {
    view_.messageBox(messages().destinationPortRefused);
    return;
  }
  state_.outputs[channel] = state_.outputs[channel] != 0 ? 0 : 1;
  view_.repaint(profile_.outputs[channel].lamp);

  std::uint8_t frame[5] = {0x44, 0x4F, 0x20, 0x20, 0xC8};
  for (int k = 0; k < profile_.outputCount(); ++k) {
    if (state_.outputs[k] != 0) frame[2] |= static_cast<std::uint8_t>(1u << k);
  }
  for (int s = 0; s < kPortSlotCount; ++s) {
    // A unit that cannot be reached only misses this frame; the others still get it.
    if (state_.slots[s].state == SlotState::Serving) {
      output_->sendDigitalOut(s, port, frame, sizeof frame);
    }
  }
}

}  // namespace dravik
