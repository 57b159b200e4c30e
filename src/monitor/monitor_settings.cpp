// Placeholder until issue #4 (settings and access log) lands.
#include "monitor/monitor.h"

namespace dravik {

void Monitor::loadSettings() {}
void Monitor::saveSettings() {}
void Monitor::browseLogFile() {}
bool Monitor::applySettingsFile(const std::string&) {
  return false;
}
void Monitor::setDefaultPaths() {}
void Monitor::applyStartupConfiguration() {}
void Monitor::publishLogSettings() {}

}  // namespace dravik
