// A variant's Monitor over an in-memory window, bound to 127.0.0.1, files in the test's folder.
#pragma once

#include <string>
#include <vector>

#include "fake_adapters.h"
#include "fake_view.h"
#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "output/output_sender.h"

namespace dravik::test {

// Like the real window, reports every text change of a signal-name edit, by program or operator.
struct NotifyingView : FakeView {
  void setText(int id, const std::string& text) override {
    FakeView::setText(id, text);
    if (monitor == nullptr) return;
    bool nameEdit = false;
    for (const InputRow& row : windowProfile(monitor->profile()).inputs)
      nameEdit |= row.nameEdit == id;
    for (const OutputRow& row : windowProfile(monitor->profile()).outputs)
      nameEdit |= row.nameEdit == id;
    if (nameEdit) monitor->onSignalNameChanged();
  }
  void type(int id, const std::string& text) { setText(id, text); }
  Monitor* monitor = nullptr;
};

struct MonitorRig {
  // The startup configuration in `configDirectory`, the default log in `dataDirectory`.
  explicit MonitorRig(const VariantProfile& profile,
                      const std::string& configDirectory = "/nonexistent-dravik")
      : MonitorRig(profile, configDirectory, configDirectory) {}
  MonitorRig(const VariantProfile& profile, const std::string& configDirectory,
             const std::string& dataDirectory)
      : monitor(profile, view, adapters, profile.hasOutputs() ? &makeOutputSender : nullptr,
                configDirectory, dataDirectory, {1, 0, 1, 0}) {
    adapters.tables = oneUsableAdapter();
    monitor.overrideLocalAddress(kLoopback);
    view.monitor = &monitor;
  }
  ~MonitorRig() { monitor.shutdown(); }

  // texts[s] into slot s's port edit, empty past the end of `texts`.
  void ports(const std::vector<std::string>& texts) {
    for (int s = 0; s < kPortSlotCount; ++s)
      view.setText(kSlotControls[s].portEdit, s < static_cast<int>(texts.size()) ? texts[s] : "");
  }
  // Starts listening on `count` fresh ports, kept in `listening`; true when running.
  bool start(int count) {
    listening.clear();
    std::vector<std::string> texts;
    for (int s = 0; s < count; ++s) {
      listening.push_back(freePort());
      texts.push_back(std::to_string(listening.back()));
    }
    ports(texts);
    monitor.start();
    return monitor.state().running != 0;
  }
  SlotState slot(int s) const { return monitor.state().slots[s].state; }
  // Logs to `path` (or not), under the names DI1... and DO1...
  void useLog(const std::string& path, bool on = true) {
    AccessLog::Settings s;
    s.logging = on;
    s.path = path;
    const VariantProfile& p = monitor.profile();
    for (int i = 0; i < p.inputCount(); ++i) s.inputNames.push_back("DI" + std::to_string(i + 1));
    for (int i = 0; i < p.outputCount(); ++i) s.outputNames.push_back("DO" + std::to_string(i + 1));
    monitor.accessLog().update(s);
  }

  NotifyingView view;
  FakeAdapters adapters;
  Monitor monitor;
  std::vector<int> listening;
};

}  // namespace dravik::test
