#include "platform/cp932.h"

#include <algorithm>

namespace dravik::cp932 {

std::string cutToBytes(std::string_view text, std::size_t limit) {
  const std::size_t room = std::min(limit, text.size());
  std::size_t end = 0;
  while (end < room) {
    std::size_t width = isLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end + width > room) break;
    end += width;
  }
  return std::string(text.substr(0, end));
}

}  // namespace dravik::cp932
