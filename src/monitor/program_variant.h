// The variant a program is built as, for its main(): the build sets DRAVIK_VARIANT_B to 1 for
// DRAVIK_B and to 0 for DRAVIK_A, whose outputs need the output sender.
#pragma once

#include "engine/variant_profile.h"
#include "monitor/monitor.h"
#if !DRAVIK_VARIANT_B
#include "output/output_sender.h"
#endif

namespace dravik {

inline constexpr const VariantProfile& kProgramProfile = DRAVIK_VARIANT_B ? kVariantB : kVariantA;

inline OutputFactory programOutputFactory() {
#if DRAVIK_VARIANT_B
  return nullptr;
#else
  return &makeOutputSender;
#endif
}

}  // namespace dravik
