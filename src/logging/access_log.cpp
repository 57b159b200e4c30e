// Placeholder until issue #4 (settings and access log) lands.
#include "logging/access_log.h"

namespace dravik {

AccessLog::AccessLog(const VariantProfile& profile, View& view, const MonitorState& state)
    : profile_(profile), view_(view), state_(state) {}
void AccessLog::appendAccessLog(const std::string&) {}
void AccessLog::update(Settings settings) {
  std::lock_guard lock(lock_);
  settings_ = std::move(settings);
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
