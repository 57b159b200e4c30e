// Placeholder until issue #3 (network engine) lands: the start/stop command, the adapter
// combo box and the output switch.
#include "monitor/monitor.h"

namespace dravik {

void Monitor::startStop() {}
bool Monitor::fillAdapterCombo() {
  return true;
}
void Monitor::selectAdapter() {}
void Monitor::toggleDigitalOut(int) {}

}  // namespace dravik
