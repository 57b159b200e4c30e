#include "platform/cp932.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "platform/utf16.h"

namespace dravik::cp932 {
namespace {

// Windows' number for code page 932.
constexpr UINT kCodePage = 932;
constexpr wchar_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point of the UTF-8 character `in` starts with and its length in bytes; nothing for
// a malformed, overlong or surrogate sequence.
std::optional<std::pair<char32_t, std::size_t>> decodeUtf8(std::string_view in) {
  const unsigned char lead = static_cast<unsigned char>(in[0]);
  std::size_t length = 0;
  if (lead < 0x80) {
    length = 1;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    length = 2;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    length = 4;
  }
  if (length == 0 || length > in.size()) return std::nullopt;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(in[i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = c << 6 | (next & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || isHighSurrogate(c) || isLowSurrogate(c)) {
    return std::nullopt;
  }
  return std::pair(c, length);
}

// One code point in CP932, or '?' when CP932 has no such character. WC_NO_BEST_FIT_CHARS:
// Windows would otherwise write a look-alike, an "e" for an "é".
std::string encodeOne(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  wchar_t units[2];
  int count = 1;
  if (c >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(c);
  }
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                      sizeof bytes, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return "?";
  return std::string(bytes, static_cast<std::size_t>(n));
}

}  // namespace

// Character by character, so that a bad byte costs that byte alone, as it does on Linux:
// Windows would otherwise turn a text with one bad byte into nothing or into its own default
// characters.
std::wstring toUtf16(std::string_view cp932) {
  std::wstring out;
  out.reserve(cp932.size());
  while (!cp932.empty()) {
    const unsigned char first = static_cast<unsigned char>(cp932[0]);
    if (first < 0x80) {
      // CP932 holds ASCII as it is.
      out += static_cast<wchar_t>(first);
      cp932.remove_prefix(1);
      continue;
    }
    const std::size_t width = isLeadByte(first) && cp932.size() >= 2 ? 2 : 1;
    wchar_t unit = 0;
    if (::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, cp932.data(),
                              static_cast<int>(width), &unit, 1) == 1) {
      out += unit;
      cp932.remove_prefix(width);
    } else {
      // Not a character: U+FFFD for its first byte, since the next byte may start one.
      out += kReplacement;
      cp932.remove_prefix(1);
    }
  }
  return out;
}

std::string fromUtf16(std::wstring_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (isHighSurrogate(c) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      out += '?';
      continue;
    }
    out += encodeOne(c);
  }
  return out;
}

std::string fromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const auto decoded = decodeUtf8(utf8);
    std::size_t skip = 1;
    if (decoded) {
      skip = decoded->second;
      out += encodeOne(decoded->first);
    } else {
      // A malformed character: one '?', and on past its continuation bytes.
      out += '?';
      while (skip < utf8.size() && (static_cast<unsigned char>(utf8[skip]) & 0xC0) == 0x80) ++skip;
    }
    utf8.remove_prefix(skip);
  }
  return out;
}

std::string toUtf8(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size() * 2);
  // Every character of CP932 is one UTF-16 unit, never half a pair.
  for (const wchar_t unit : toUtf16(cp932)) appendUtf8(out, static_cast<char32_t>(unit));
  return out;
}

}  // namespace dravik::cp932
