#include "platform/socket.h"

#include <cstring>

namespace dravik::sock {

std::string addressText(std::uint32_t address) {
  // Network byte order: the first byte in memory is the first number of the text.
  std::uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

}  // namespace dravik::sock
