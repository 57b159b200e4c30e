// The modal dialogs of the window: the common file dialogs with each request's filter and
// default extension, and the title bar dialog built from its template.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "monitor/view.h"

namespace dravik::win32 {

// The common dialogs' filter from the "name|pattern|name|pattern||" form: the same pairs,
// separated and ended by zeros.
std::wstring commonDialogFilter(std::string_view filter);

// The chosen full path, or nothing when the operator cancels. `initialPath` is the request's,
// as UTF-16.
std::optional<std::wstring> chooseFile(HWND owner, const View::FileDialog& request,
                                       const std::wstring& initialPath);

// The text confirmed with OK, or nothing.
std::optional<std::wstring> askTitle(HWND owner, const std::wstring& current);

}  // namespace dravik::win32
