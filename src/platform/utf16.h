// CP932 text as the UTF-16 that Windows takes for file names and gives for adapter names and
// folders. Windows builds only.
#pragma once

#include <string>
#include <string_view>

namespace dravik::cp932 {

// CP932 to UTF-16. A byte sequence that is not CP932 becomes U+FFFD.
std::wstring toUtf16(std::string_view cp932);

// UTF-16 to CP932. A character that CP932 cannot hold, or half a surrogate pair, becomes '?'.
std::string fromUtf16(std::wstring_view utf16);

}  // namespace dravik::cp932
