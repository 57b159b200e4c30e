// What the window shows of the engine's threads: lamps, labels, buttons and the stopped look,
// and the access log line of every answered frame. Receivers report a burst of frames at a
// time, so each burst costs one log write and at most one change per control.
#include <cstdio>
#include <mutex>
#include <vector>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "monitor/view.h"

namespace dravik {
namespace {

void showNumbered(View& view, const std::string& format, int number) {
  char text[128];
  std::snprintf(text, sizeof text, format.c_str(), number);
  view.messageBox(text);
}

}  // namespace

void Monitor::showStopped() {
  for (const InputRow& row : window_.inputs) view_.repaint(row.lamp);
  enableOutputButtons(false);
  view_.setText(ctl::kStartStop, messages().startServerCaption);
  view_.setText(ctl::kStatusPanel, messages().statusStopped);
}

void Monitor::setSourceLabel(int slot, const std::string& text) {
  std::lock_guard lock(shownLock_);
  shownLabels_[slot] = text;
  view_.setText(kSlotControls[slot].sourceLabel, text);
}

void Monitor::enableOutputButtons(bool enabled) {
  std::lock_guard lock(shownLock_);
  outputButtonsShown_ = enabled;
  for (const OutputRow& row : window_.outputs) view_.enable(row.button, enabled);
}

void Monitor::showStartFailure(const StartError& failure) {
  const Messages& m = messages();
  const int error = failure.error;
  switch (failure.step) {
    case StartFailure::Socket:
      return showNumbered(view_, m.socketErrorFormat, error);
    case StartFailure::Bind:
      return showNumbered(view_, m.bindErrorFormat, error);
    case StartFailure::Listen:
      return showNumbered(view_, m.listenErrorFormat, error);
    case StartFailure::Thread:
      return showNumbered(view_, m.threadErrorFormat, error);
  }
}

void Monitor::inputsChanged(int, unsigned changedInputs) {
  for (int i = 0; i < profile_.inputCount(); ++i) {
    if (changedInputs & (1u << i)) view_.repaint(window_.inputs[i].lamp);
  }
}

void Monitor::framesAnswered(int, const std::string& peer, std::span<const FrameStates> frames) {
  // Each line says what its frame's unit was told, even when another unit has changed the
  // states since; the lamps show the newest. Kept per receiver thread, burst after burst.
  thread_local std::vector<AccessLog::States> lines;
  lines.clear();
  for (const FrameStates& frame : frames) lines.push_back({frame.inputs, frame.outputs});
  // Shown from the receiver, outside every lock: the box waits for the operator, and the
  // other receivers must not. The lines of a burst succeed or fail together: one box.
  switch (accessLog_.append(peer, lines)) {
    case AccessLog::Outcome::CannotOpen:
      view_.messageBox(messages().logCannotOpen);
      break;
    case AccessLog::Outcome::WriteFailed:
      view_.messageBox(messages().logWriteFailed);
      break;
    case AccessLog::Outcome::Off:
    case AccessLog::Outcome::Written:
      break;
  }
}

void Monitor::unitReporting(int slot, const std::string& peer) {
  char label[128];
  std::snprintf(label, sizeof label, messages().sourceAddressFormat.c_str(), peer.c_str());
  std::lock_guard lock(shownLock_);
  if (shownLabels_[slot] != label) {
    shownLabels_[slot] = label;
    view_.setText(kSlotControls[slot].sourceLabel, label);
  }
  if (outputButtonsShown_ != true) {
    outputButtonsShown_ = true;
    for (const OutputRow& row : window_.outputs) view_.enable(row.button, true);
  }
}

void Monitor::connectionClosed(int slot) {
  setSourceLabel(slot, "");
}

void Monitor::slotEnded(int slot) {
  showStopped();
  setSourceLabel(slot, "");
}

}  // namespace dravik
