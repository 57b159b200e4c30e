// Sends the output frame to one slot's unit (DRAVIK_A). The output sender implements it;
// DRAVIK_B has none, so it does not link the sender.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/result.h"

namespace dravik {

class OutputPort {
 public:
  virtual ~OutputPort() = default;
  // Sends `length` bytes to the unit of `slot` (0-3) at TCP `port` (host byte order), over the
  // slot's open reporting connection or a new one. kOk or kFail.
  virtual Result sendDigitalOut(int slot, int port, const std::uint8_t* data,
                                std::size_t length) = 0;
};

}  // namespace dravik
