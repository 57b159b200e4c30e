// What the operator may type into an edit, the Win32 way: the edit takes each change of the
// operator's (a key, a paste, a cut, an input method's result) as it always does, and a change
// its rule refuses is taken back at once, before anyone hears of it: the edit's change
// notification is held while the change is judged and sent only for a change that stands.
// Text the program sets stands as it is, and so does what Undo brings back, having stood in
// the edit before.
#pragma once

#include <windows.h>

namespace dravik::win32 {

// Refuses a change that puts in any character but the digits 0-9 (ES_NUMBER refuses typed
// ones only; this also refuses pasted ones).
void judgeDigitsOnly(HWND edit);

// Limits typing to `bytes` characters (EM_LIMITTEXT) and refuses a change that makes the text
// longer than `bytes` bytes in CP932.
void judgeByteLimit(HWND edit, int bytes);

// Asked for every change notification (EN_CHANGE) of `edit`: true when the notice is held
// because a change of the operator's is being judged; the edit's parent then gets it again once
// the change is taken, and never for a change taken back.
bool changeNoticeHeld(HWND edit);

}  // namespace dravik::win32
