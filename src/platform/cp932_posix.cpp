#include "platform/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace dravik::cp932 {
namespace {

// Converts with iconv, replacing what cannot be converted by `replacement` and skipping one
// input byte, so that a bad byte never loses the rest of the text.
std::string convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buffer[256];
  while (srcLeft > 0) {
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, dst - buffer);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(replacement);
      // Skip the offending input: one byte of CP932, or one whole UTF-8 character.
      std::size_t skip = 1;
      if (std::string_view(from) == "UTF-8") {
        while (skip < srcLeft && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) ++skip;
      }
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* dst = buffer;
  std::size_t dstLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buffer, dst - buffer);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string fromUtf8(std::string_view utf8) {
  return convert("CP932", "UTF-8", utf8, "?");
}

std::string toUtf8(std::string_view cp932) {
  return convert("UTF-8", "CP932", cp932, "\xEF\xBF\xBD");
}

}  // namespace dravik::cp932
