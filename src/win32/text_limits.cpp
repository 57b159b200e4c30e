#include "win32/text_limits.h"

#include <commctrl.h>

#include <string>

#include "monitor/typing_rules.h"
#include "platform/utf16.h"
#include "win32/wide_text.h"

namespace dravik::win32 {

namespace {

// The subclass of every judged edit; its data is the edit's Judge, which the edit also carries
// as a window property, for its parent to ask about.
constexpr UINT_PTR kSubclassId = 0x4456;  // "DV"
constexpr wchar_t kJudgeProperty[] = L"dravik.judge";

struct Judge {
  bool digitsOnly = false;
  int bytes = -1;  // no byte limit
  bool judging = false;
  bool changed = false;  // the edit sent its change notification while judging
  bool undone = false;   // the change judged was an Undo

  bool takes(const std::wstring& before, const std::wstring& after) const {
    if (undone) return true;
    const std::string was = cp932::fromUtf16(before);
    const std::string is = cp932::fromUtf16(after);
    if (digitsOnly && !portEditTaken(was, is)) return false;
    return bytes < 0 || limitedEditTaken(was, is, static_cast<std::size_t>(bytes));
  }
};

bool isUndo(UINT message, WPARAM wParam) {
  constexpr WPARAM kControlZ = 0x1A;
  return message == WM_UNDO || message == EM_UNDO || (message == WM_CHAR && wParam == kControlZ);
}

// The messages through which the operator changes an edit's text.
bool isOperatorChange(UINT message) {
  switch (message) {
    case WM_CHAR:
    case WM_IME_CHAR:
    case WM_IME_COMPOSITION:
    case WM_KEYDOWN:
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK judgeEdit(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
  auto* judge = reinterpret_cast<Judge*>(data);
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(edit, judgeEdit, kSubclassId);
    ::RemovePropW(edit, kJudgeProperty);
    delete judge;
    return ::DefSubclassProc(edit, message, wParam, lParam);
  }
  if (judge->judging) {
    // A key that pastes or undoes sends the edit the message that does it.
    if (isUndo(message, wParam)) judge->undone = true;
    return ::DefSubclassProc(edit, message, wParam, lParam);
  }
  if (!isOperatorChange(message) || isUndo(message, wParam)) {
    return ::DefSubclassProc(edit, message, wParam, lParam);
  }
  const std::wstring before = windowText(edit);
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  judge->judging = true;
  judge->changed = false;
  judge->undone = false;
  const LRESULT result = ::DefSubclassProc(edit, message, wParam, lParam);
  const std::wstring after = windowText(edit);
  if (after != before && !judge->takes(before, after)) {
    ::SetWindowTextW(edit, before.c_str());
    ::SendMessageW(edit, EM_SETSEL, start, end);
    judge->changed = false;
  }
  judge->judging = false;
  if (judge->changed) {
    ::SendMessageW(::GetParent(edit), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(edit), EN_CHANGE),
                   reinterpret_cast<LPARAM>(edit));
  }
  return result;
}

// The judge of `edit`, made and attached on first use.
Judge* judgeOf(HWND edit) {
  if (auto* judge = static_cast<Judge*>(::GetPropW(edit, kJudgeProperty))) return judge;
  auto* judge = new Judge;
  if (!::SetPropW(edit, kJudgeProperty, judge)) {
    delete judge;
    return nullptr;
  }
  if (!::SetWindowSubclass(edit, judgeEdit, kSubclassId, reinterpret_cast<DWORD_PTR>(judge))) {
    ::RemovePropW(edit, kJudgeProperty);
    delete judge;
    return nullptr;
  }
  return judge;
}

}  // namespace

void judgeDigitsOnly(HWND edit) {
  if (Judge* judge = judgeOf(edit)) judge->digitsOnly = true;
}

void judgeByteLimit(HWND edit, int bytes) {
  ::SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(bytes), 0);
  if (Judge* judge = judgeOf(edit)) judge->bytes = bytes;
}

bool changeNoticeHeld(HWND edit) {
  auto* judge = static_cast<Judge*>(::GetPropW(edit, kJudgeProperty));
  if (!judge || !judge->judging) return false;
  judge->changed = true;
  return true;
}

}  // namespace dravik::win32
