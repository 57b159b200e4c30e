// Until the window exists, each program says which variant and version it is.
#include <cstdio>

#include "engine/variant_profile.h"
#include "monitor/monitor.h"

namespace {
constexpr const dravik::VariantProfile& kProfile =
    DRAVIK_VARIANT_B ? dravik::kVariantB : dravik::kVariantA;
}

int main() {
  const dravik::VersionNumbers version{DRAVIK_VERSION_NUMBERS};
  std::printf("%s %s\n", kProfile.programName.data(), dravik::formatVersionText(version).c_str());
  return 0;
}
