// Results of operations that can fail: 0 for success, the generic failure code otherwise.
// The failure is the generic failure code of the platform the monitors were first written
// for (E_FAIL); kept as it is, since nothing is gained by a number the older monitors and
// their operators' tools do not know.
#pragma once

#include <cstdint>

namespace dravik {

using Result = std::int32_t;
inline constexpr Result kOk = 0;
inline constexpr Result kFail = static_cast<Result>(0x80004005u);

}  // namespace dravik
