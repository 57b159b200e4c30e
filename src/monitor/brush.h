// The colours of the window: what paints each lamp and the status panel, from the running
// flag and the input and output states.
#pragma once

#include "engine/monitor_state.h"
#include "engine/variant_profile.h"

namespace dravik {

enum class Brush { Default, Gray, Red, Black };

// The brush of a lamp or the status panel of `profile`; Default for every other control.
// Input lamps are gray while the server is not running; output lamps always show their state.
Brush brushFor(const VariantProfile& profile, const MonitorState& state, int controlId);

}  // namespace dravik
