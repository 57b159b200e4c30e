// UTF-16, the text of every Windows call here: from the UTF-8 of the templates and the profiles'
// names, and as a window holds it. CP932 text goes through platform/utf16.h.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace dravik::win32 {

// UTF-8 (ASCII included) as UTF-16.
std::wstring fromUtf8(std::string_view utf8);

// A window's text (a control's, a dialog's caption), whole.
std::wstring windowText(HWND window);

}  // namespace dravik::win32
