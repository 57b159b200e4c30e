// The adapter combo box: which local address every socket of the monitor is bound to.
#include "monitor/controls.h"
#include "monitor/monitor.h"
#include "monitor/view.h"

namespace dravik {

bool Monitor::fillAdapterCombo() {
  adapterTable_ = selectAdapters(adapterProvider_.read());
  if (adapterTable_.empty()) return false;
  for (const AdapterEntry& entry : adapterTable_) {
    view_.addComboItem(ctl::kAdapterCombo, adapterLabel(entry));
  }
  view_.setComboSelection(ctl::kAdapterCombo, 0);
  selectAdapter();
  return true;
}

void Monitor::selectAdapter() {
  if (localAddressOverride_) {
    state_.selectedLocalAddress = *localAddressOverride_;
    return;
  }
  const int k = view_.comboSelection(ctl::kAdapterCombo);
  if (k >= 0 && k < static_cast<int>(adapterTable_.size())) {
    state_.selectedLocalAddress = adapterTable_[k].address;
  }
}

}  // namespace dravik
