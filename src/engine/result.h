// Results of operations that can fail: 0 for success, the generic failure code otherwise.
#pragma once

#include <cstdint>

namespace dravik {

using Result = std::int32_t;
inline constexpr Result kOk = 0;
inline constexpr Result kFail = static_cast<Result>(0x80004005u);

}  // namespace dravik
