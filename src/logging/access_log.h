// The CSV access log: one line per accepted frame, under a header of the signal names.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/monitor_state.h"
#include "engine/variant_profile.h"
#include "logging/access_log_sink.h"
#include "platform/text_file.h"

namespace dravik {

class View;

class AccessLog : public AccessLogSink {
 public:
  // What the receivers need from the window, copied on the window's thread.
  struct Settings {
    bool logging = false;
    std::string path;
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
  };

  AccessLog(const VariantProfile& profile, View& view, const MonitorState& state);

  // Receiver threads: appends one line (after a header when the file is empty or the names
  // changed), writes serialised in arrival order. A file that does not open or a write that
  // fails is reported by a message box from the calling thread, outside the lock.
  void appendAccessLog(const std::string& sourceAddress) override;

  // Window's thread: replaces the copies the receivers read.
  void update(Settings settings);
  // The operator changed a signal name: the next line is preceded by a header.
  void markNamesChanged();
  // Start-up: no header is owed.
  void clearNamesChanged();
  bool namesChanged() const;

 private:
  std::string headerLine() const;
  std::string dataLine(const std::string& sourceAddress) const;

  const VariantProfile& profile_;
  View& view_;
  const MonitorState& state_;
  // Held around one whole write and every change of the copies and the flag.
  mutable std::mutex lock_;
  Settings settings_;
  bool namesChanged_ = false;
  // Kept open between lines; reopened whenever the path no longer leads to it.
  textfile::AppendFile file_;
};

}  // namespace dravik
