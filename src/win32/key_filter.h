// The main window's Enter rule. The dialog manager would take Enter as a click of the focused
// or default button; here Enter never reaches it and goes to the focused control as an
// ordinary key, so it presses nothing and never ends the window. Tab, the Alt mnemonics and
// Escape (which ends the run like the close box) stay the dialog manager's.
#pragma once

#include <windows.h>

namespace dravik::win32 {

class KeyFilter {
 public:
  // Watches the modal runs of the calling thread (the window's) until destroyed.
  KeyFilter();
  ~KeyFilter();
  KeyFilter(const KeyFilter&) = delete;
  KeyFilter& operator=(const KeyFilter&) = delete;

  // The dialog whose keys are filtered; its own dialogs (the title bar dialog) keep Enter.
  void watch(HWND dialog) { dialog_ = dialog; }

 private:
  static LRESULT CALLBACK filter(int code, WPARAM wParam, LPARAM lParam);

  HHOOK hook_ = nullptr;
  HWND dialog_ = nullptr;
};

}  // namespace dravik::win32
