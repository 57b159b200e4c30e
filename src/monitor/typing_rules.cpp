#include "monitor/typing_rules.h"

#include <algorithm>

namespace dravik {

bool portEditTaken(std::string_view before, std::string_view after) {
  // What the change put in: the text after, less what it shares with the text before at the
  // start and then at the end. When any reading of the change puts in digits only, this one
  // does too. A digit byte is never part of a double-byte character.
  const std::size_t shortest = std::min(before.size(), after.size());
  std::size_t start = 0;
  while (start < shortest && before[start] == after[start]) ++start;
  std::size_t end = 0;
  while (start + end < shortest &&
         before[before.size() - 1 - end] == after[after.size() - 1 - end]) {
    ++end;
  }
  const std::string_view put = after.substr(start, after.size() - start - end);
  return std::ranges::all_of(put, [](char c) { return c >= '0' && c <= '9'; });
}

bool limitedEditTaken(std::string_view before, std::string_view after, std::size_t bytes) {
  return after.size() < before.size() || after.size() <= bytes;
}

}  // namespace dravik
