#include "win32/win32_dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "win32/dialog_template.h"
#include "win32/text_limits.h"
#include "win32/wide_text.h"
#include "window/window_template.h"

namespace dravik::win32 {

namespace {

// The title dialog's typing limit in CP932 bytes.
constexpr int kTitleBytes = 50;
// The longest path the file dialogs hand back, in UTF-16 units: the system's own limit for a
// path, not the old 260 characters.
constexpr std::size_t kPathUnits = 32768;

struct TitleRun {
  std::wstring text;
};

INT_PTR CALLBACK titleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      const auto* run = reinterpret_cast<const TitleRun*>(lParam);
      const HWND field = ::GetDlgItem(dialog, window::kTitleField);
      ::SetWindowTextW(field, run->text.c_str());
      judgeByteLimit(field, kTitleBytes);
      ::SendMessageW(field, EM_SETSEL, 0, -1);
      ::SetFocus(field);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto* run = reinterpret_cast<TitleRun*>(::GetWindowLongPtrW(dialog, DWLP_USER));
        run->text = windowText(::GetDlgItem(dialog, window::kTitleField));
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::wstring commonDialogFilter(std::string_view filter) {
  std::wstring pairs = fromUtf8(filter);
  std::ranges::replace(pairs, L'|', L'\0');
  return pairs;
}

std::optional<std::wstring> chooseFile(HWND owner, const View::FileDialog& request,
                                       const std::wstring& initialPath) {
  const std::wstring filter = commonDialogFilter(request.filter);
  const std::wstring extension = fromUtf8(request.defaultExtension);
  const std::size_t separator = initialPath.find_last_of(L"\\/");
  const std::wstring folder =
      separator == std::wstring::npos ? std::wstring() : initialPath.substr(0, separator);
  const std::wstring name =
      separator == std::wstring::npos ? initialPath : initialPath.substr(separator + 1);
  std::vector<wchar_t> path(kPathUnits, L'\0');
  std::copy_n(name.begin(), std::min(name.size(), path.size() - 1), path.begin());

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrDefExt = extension.c_str();
  // The program's files are named by absolute paths; its working folder stays where it was.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                 (request.save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  const BOOL chosen = request.save ? ::GetSaveFileNameW(&dialog) : ::GetOpenFileNameW(&dialog);
  if (!chosen) return std::nullopt;
  return std::wstring(path.data());
}

std::optional<std::wstring> askTitle(HWND owner, const std::wstring& current) {
  static const DialogTemplate tmpl(window::titleDialogTemplate(), Frame::Owned);
  TitleRun run{current};
  const INT_PTR result = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), tmpl.get(), owner,
                                                   &titleProc, reinterpret_cast<LPARAM>(&run));
  if (result != IDOK) return std::nullopt;
  return run.text;
}

}  // namespace dravik::win32
