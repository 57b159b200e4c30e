// What the settings, start-up and access-log tests share: a fresh folder per test, whole-file
// reads and writes, and a window that reports name edits the way the real one does.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/monitor.h"
#include "temp_dir.h"

namespace dravik::test {

// The file's bytes (the path is a file name of this system, UTF-8); nothing when unreadable.
inline std::optional<std::string> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Like the real window, reports every text change of a signal-name edit, whether the program
// or the operator made it; the monitor alone tells them apart.
class NotifyingView : public FakeView {
 public:
  void watch(Monitor& monitor) { monitor_ = &monitor; }
  void setText(int id, const std::string& text) override {
    FakeView::setText(id, text);
    if (monitor_ == nullptr) return;
    const VariantProfile& p = monitor_->profile();
    bool nameEdit = false;
    for (const InputRow& row : p.inputs) nameEdit = nameEdit || row.nameEdit == id;
    for (const OutputRow& row : p.outputs) nameEdit = nameEdit || row.nameEdit == id;
    if (nameEdit) monitor_->onSignalNameChanged();
  }
  // The operator types into a control.
  void type(int id, const std::string& text) { setText(id, text); }

 private:
  Monitor* monitor_ = nullptr;
};

// A monitor of one variant over a NotifyingView, keeping its files in `directory`, or its
// startup configuration in `configDirectory` and its default log in `dataDirectory`.
struct Rig {
  Rig(const VariantProfile& profile, const std::string& directory)
      : Rig(profile, directory, directory) {}
  Rig(const VariantProfile& profile, const std::string& configDirectory,
      const std::string& dataDirectory)
      : monitor(profile, view, adapters, nullptr, configDirectory, dataDirectory, {1, 0, 1, 0}) {
    adapters.tables = oneUsableAdapter();
    view.watch(monitor);
  }
  NotifyingView view;
  FakeAdapters adapters;
  Monitor monitor;
};

}  // namespace dravik::test
