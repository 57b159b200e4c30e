// The port numbers the operator types: the listening ports and the destination port.
#pragma once

#include <optional>
#include <string_view>

namespace dravik {

// The port a text names, read as a leading decimal number the way atoi reads it (white space,
// one sign, digits up to the first other character); nothing unless it is 1024 to 65535.
std::optional<int> parsePort(std::string_view text);

// True when `text` holds nothing but white space.
bool isBlankText(std::string_view text);

}  // namespace dravik
