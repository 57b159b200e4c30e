#include "monitor/port_text.h"

#include <cctype>

namespace dravik {
namespace {

constexpr int kLowestPort = 1024;
constexpr int kHighestPort = 65535;

bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::optional<int> parsePort(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Past the highest port the digits no longer matter: the text is refused anyway.
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value <= kHighestPort) value = value * 10 + (text[i] - '0');
  }
  if (negative || value < kLowestPort || value > kHighestPort) return std::nullopt;
  return static_cast<int>(value);
}

bool isBlankText(std::string_view text) {
  for (char c : text) {
    if (!isBlank(c)) return false;
  }
  return true;
}

}  // namespace dravik
