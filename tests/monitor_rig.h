// A variant's Monitor over an in-memory window, bound to 127.0.0.1, files in the test's folder.
#pragma once

#include <string>
#include <vector>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/monitor.h"

namespace dravik::test {

// Like the real window, reports every text change of a signal-name edit, by program or operator.
class NotifyingView : public FakeView {
 public:
  void watch(Monitor& monitor) { monitor_ = &monitor; }
  void setText(int id, const std::string& text) override;
  void type(int id, const std::string& text) { setText(id, text); }

 private:
  Monitor* monitor_ = nullptr;
};

struct MonitorRig {
  // The startup configuration in `configDirectory`, the default log in `dataDirectory`.
  explicit MonitorRig(const VariantProfile& profile,
                      const std::string& configDirectory = "/nonexistent-dravik")
      : MonitorRig(profile, configDirectory, configDirectory) {}
  MonitorRig(const VariantProfile& profile, const std::string& configDirectory,
             const std::string& dataDirectory);
  ~MonitorRig() { monitor.shutdown(); }

  // texts[s] into slot s's port edit, empty past the end of `texts`.
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
