#include "logging/access_log.h"

#include <ctime>
#include <optional>

#include "engine/messages.h"
#include "monitor/view.h"
#include "platform/text_file.h"

namespace dravik {
namespace {

// Lines end in CR LF so the file opens unchanged in the spreadsheets of the Windows-era
// monitors that read the same logs.
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

AccessLog::AccessLog(const VariantProfile& profile, View& view, const MonitorState& state)
    : profile_(profile), view_(view), state_(state) {}

void AccessLog::appendAccessLog(const std::string& sourceAddress) {
  std::optional<std::string> failure;
  {
    std::lock_guard lock(lock_);
    if (!settings_.logging) return;
    if (!file_.open(settings_.path)) {
      failure = messages().logCannotOpen;
    } else {
      const bool header = file_.size() == 0 || namesChanged_;
      std::string record = header ? headerLine() : std::string();
      record += dataLine(sourceAddress);
      if (!file_.append(record)) {
        failure = messages().logWriteFailed;
      } else if (header) {
        namesChanged_ = false;
      }
    }
  }
  // Outside the lock: the box waits for the operator, and other receivers must not.
  if (failure) view_.messageBox(*failure);
}

std::string AccessLog::headerLine() const {
  std::string line = messages().logHeaderStart;
  for (const std::string& name : settings_.inputNames) line.append(",").append(name);
  for (const std::string& name : settings_.outputNames) line.append(",").append(name);
  return line.append(kLineEnd);
}

std::string AccessLog::dataLine(const std::string& sourceAddress) const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char when[32] = "";
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(when, sizeof when, "%Y/%m/%d,%H:%M:%S", &local);
  }
  std::string line = std::string(when) + "," + sourceAddress;
  for (int i = 0; i < profile_.inputCount(); ++i) line += state_.inputs[i] != 0 ? ",1" : ",0";
  for (int i = 0; i < profile_.outputCount(); ++i) line += state_.outputs[i] != 0 ? ",1" : ",0";
  return line.append(kLineEnd);
}

void AccessLog::update(Settings settings) {
  std::lock_guard lock(lock_);
  settings_ = std::move(settings);
  // Nothing is held open while logging is off.
  if (!settings_.logging) file_.close();
}

void AccessLog::markNamesChanged() {
  std::lock_guard lock(lock_);
  namesChanged_ = true;
}

void AccessLog::clearNamesChanged() {
  std::lock_guard lock(lock_);
  namesChanged_ = false;
}

bool AccessLog::namesChanged() const {
  std::lock_guard lock(lock_);
  return namesChanged_;
}

}  // namespace dravik
