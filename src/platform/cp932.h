// Conversion between UTF-8 and code page 932 (Shift-JIS as Windows spells it).
//
// The core keeps every text as CP932 bytes, so that files written here are byte for byte
// those of the Windows-era monitors. Conversion happens only where text meets Qt and for the
// core's own Japanese literals.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravik::cp932 {

// UTF-8 to CP932. A character that CP932 cannot hold becomes '?'.
std::string fromUtf8(std::string_view utf8);

// CP932 to UTF-8. A byte sequence that is not CP932 becomes U+FFFD.
std::string toUtf8(std::string_view cp932);

// True for a byte that starts a double-byte CP932 character.
constexpr bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The first `limit` bytes of `text`, ending on a whole character: a double-byte character
// cut in half, or a lead byte the text ends on, is dropped.
std::string cutToBytes(std::string_view text, std::size_t limit);

}  // namespace dravik::cp932
