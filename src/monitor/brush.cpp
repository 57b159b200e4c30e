#include "monitor/brush.h"

#include "monitor/controls.h"
#include "monitor/window_profile.h"

namespace dravik {

Brush brushFor(const VariantProfile& profile, const MonitorState& state, int controlId) {
  const bool running = state.running != 0;
  const WindowProfile& window = windowProfile(profile);
  if (controlId == ctl::kStatusPanel) return running ? Brush::Red : Brush::Gray;
  for (int i = 0; i < profile.inputCount(); ++i) {
    if (window.inputs[i].lamp != controlId) continue;
    if (!running) return Brush::Gray;
    return state.inputs[i] != 0 ? Brush::Red : Brush::Black;
  }
  for (int i = 0; i < profile.outputCount(); ++i) {
    if (window.outputs[i].lamp == controlId) {
      return state.outputs[i] != 0 ? Brush::Red : Brush::Black;
    }
  }
  return Brush::Default;
}

}  // namespace dravik
