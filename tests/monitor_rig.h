// The one monitor every engine, settings and log test drives: a variant's Monitor over an
// in-memory window, bound to 127.0.0.1, with its default files in a folder of the test's.
#pragma once

#include <string>
#include <vector>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/monitor.h"

namespace dravik::test {

// Like the real window, reports every text change of a signal-name edit, whether the program
// or the operator made it; the monitor alone tells them apart.
class NotifyingView : public FakeView {
 public:
  void watch(Monitor& monitor) { monitor_ = &monitor; }
  void setText(int id, const std::string& text) override;
  // The operator types into a control.
  void type(int id, const std::string& text) { setText(id, text); }

 private:
  Monitor* monitor_ = nullptr;
};

struct MonitorRig {
  // The startup configuration in `configDirectory`, the default log in `dataDirectory`.
  explicit MonitorRig(const VariantProfile& profile,
                      const std::string& configDirectory = "/nonexistent-dravik");
  MonitorRig(const VariantProfile& profile, const std::string& configDirectory,
             const std::string& dataDirectory);
  ~MonitorRig() { monitor.shutdown(); }
  MonitorRig(const MonitorRig&) = delete;
  MonitorRig& operator=(const MonitorRig&) = delete;

  // The listening-port edits: texts[s] for slot s, empty past the end of `texts`.
  void ports(const std::vector<std::string>& texts);
  // Starts listening on `count` fresh ports, kept in `listening`; true when running.
  bool start(int count);
  SlotState slot(int s) const { return monitor.state().slots[s].state; }
  // Logs to `path` (or not), under the names DI1... and DO1...
  void useLog(const std::string& path, bool on = true);

  NotifyingView view;
  FakeAdapters adapters;
  Monitor monitor;
  std::vector<int> listening;
};

}  // namespace dravik::test
