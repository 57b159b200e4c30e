#include "monitor/monitor.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/view.h"
#include "output/output_port.h"

namespace dravik {

namespace {

// The listening port of slot 0 (and the destination port) before any settings file.
constexpr const char* kDefaultPort = "10003";

std::string numbered(const char* prefix, int n) {
  return std::string(prefix) + std::to_string(n);
}

}  // namespace

std::string formatVersionText(const VersionNumbers& v) {
  char text[64];
  if (v[3] == 0) {
    std::snprintf(text, sizeof text, "Version %d.%d%d", v[0], v[1], v[2]);
  } else {
    std::snprintf(text, sizeof text, "Version %d.%d%d%d", v[0], v[1], v[2], v[3]);
  }
  return text;
}

Monitor::Monitor(const VariantProfile& profile, View& view, AdapterProvider& adapters,
                 OutputFactory makeOutput, std::string configDirectory, std::string dataDirectory,
                 const VersionNumbers& version)
    : profile_(profile),
      window_(windowProfile(profile)),
      view_(view),
      adapterProvider_(adapters),
      configDirectory_(std::move(configDirectory)),
      dataDirectory_(std::move(dataDirectory)),
      versionText_(formatVersionText(version)),
      trace_(view, profile.traceEnabled),
      accessLog_(profile.inputCount(), profile.outputCount()),
      output_(makeOutput ? makeOutput(state_, trace_) : nullptr),
      server_(profile, state_, *this, trace_) {}

Monitor::~Monitor() {
  shutdown();
}

void Monitor::shutdown() {
  if (output_) output_->shutdown();
  server_.shutdown();
}

bool Monitor::initDialog() {
  const Messages& m = messages();
  view_.setText(ctl::kVersion, versionText_);
  if (!fillAdapterCombo()) {
    view_.messageBox(m.noAdapter);
    view_.endModal(-1);
    return false;
  }
  state_.running = 0;
  showStopped();
  trace_.literal(m.traceDevelopmentOnly);

  ready_ = false;
  accessLog_.clearNamesChanged();

  for (int i = 0; i < profile_.inputCount(); ++i) {
    const InputRow& row = window_.inputs[i];
    state_.inputs[i] = 0;
    view_.setText(row.nameEdit, numbered("DI", i + 1));
    view_.limitText(row.nameEdit, kSignalNameBytes);
  }
  for (int i = 0; i < profile_.outputCount(); ++i) {
    const OutputRow& row = window_.outputs[i];
    state_.outputs[i] = 0;
    view_.setText(row.nameEdit, numbered("DO", i + 1));
    view_.limitText(row.nameEdit, kSignalNameBytes);
  }
  view_.setText(kSlotControls[0].portEdit, kDefaultPort);
  for (int s = 0; s < kPortSlotCount; ++s) setSourceLabel(s, "");

  setDefaultPaths();
  publishLogSettings();
  applyStartupConfiguration();

  trace_("cfg : %s\r\n", settingsFilePath_.c_str());
  ready_ = true;
  view_.setVisible(ctl::kTracePane, false);
  // Last of all, so a destination port carried by the startup settings file never survives
  // start-up; the load button is the way to take one from a file.
  if (profile_.hasOutputs()) view_.setText(ctl::kDestinationPort, kDefaultPort);
  return true;
}

void Monitor::onSignalNameChanged() {
  // The new names reach the log before the header is owed, so a line written in between can
  // never take the header with the old names and settle the debt.
  publishLogSettings();
  if (ready_) accessLog_.markNamesChanged();
}

void Monitor::onLoggingToggled() {
  publishLogSettings();
}

void Monitor::onClose() {
  using namespace std::chrono_literals;
  for (int slot = 0; slot < kPortSlotCount; ++slot) {
    server_.requestStop(slot);
    std::this_thread::sleep_for(100ms);
  }
  view_.endModal(0);
}

void Monitor::changeTitleBar() {
  if (std::optional<std::string> title = view_.askTitle(windowTitle_)) {
    windowTitle_ = *title;
    view_.setCaption(windowTitle_);
  }
}

std::vector<std::string> Monitor::inputNames() const {
  std::vector<std::string> names;
  for (const InputRow& row : window_.inputs) names.push_back(view_.text(row.nameEdit));
  return names;
}

std::vector<std::string> Monitor::outputNames() const {
  std::vector<std::string> names;
  for (const OutputRow& row : window_.outputs) names.push_back(view_.text(row.nameEdit));
  return names;
}

}  // namespace dravik
