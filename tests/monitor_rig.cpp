#include "monitor_rig.h"

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "output/output_sender.h"

namespace dravik::test {

void NotifyingView::setText(int id, const std::string& text) {
  FakeView::setText(id, text);
  if (monitor_ == nullptr) return;
  bool nameEdit = false;
  for (const InputRow& row : monitor_->profile().inputs) nameEdit |= row.nameEdit == id;
  for (const OutputRow& row : monitor_->profile().outputs) nameEdit |= row.nameEdit == id;
  if (nameEdit) monitor_->onSignalNameChanged();
}

MonitorRig::MonitorRig(const VariantProfile& profile, const std::string& configDirectory,
                       const std::string& dataDirectory)
    : monitor(profile, view, adapters, profile.hasOutputs() ? &makeOutputSender : nullptr,
              configDirectory, dataDirectory, {1, 0, 1, 0}) {
  adapters.tables = oneUsableAdapter();
  monitor.overrideLocalAddress(kLoopback);
  view.watch(monitor);
}

void MonitorRig::ports(const std::vector<std::string>& texts) {
  for (int s = 0; s < kPortSlotCount; ++s)
    view.setText(kSlotControls[s].portEdit, s < static_cast<int>(texts.size()) ? texts[s] : "");
}

bool MonitorRig::start(int count) {
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

void MonitorRig::useLog(const std::string& path, bool on) {
  AccessLog::Settings s;
  s.logging = on;
  s.path = path;
  const VariantProfile& p = monitor.profile();
  for (int i = 0; i < p.inputCount(); ++i) s.inputNames.push_back("DI" + std::to_string(i + 1));
  for (int i = 0; i < p.outputCount(); ++i) s.outputNames.push_back("DO" + std::to_string(i + 1));
  monitor.accessLog().update(s);
}

}  // namespace dravik::test
