// One program run on Windows: the main dialog and the Monitor, wired together, from start-up
// to the joined end of every worker thread.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "monitor/monitor.h"
#include "win32/key_filter.h"
#include "win32/win32_view.h"

namespace dravik::win32 {

// The dialog result of Escape, which ends the window without the close box's stop requests.
inline constexpr int kCancelResult = IDCANCEL;

class MonitorSession {
 public:
  // On the thread that will run the window. The version numbers come from the program's own
  // version resource.
  MonitorSession(const VariantProfile& profile, AdapterProvider& adapters, OutputFactory makeOutput,
                 std::string configDirectory, std::string dataDirectory);
  // Ends the session (finish) before the Monitor and the window go.
  ~MonitorSession();
  MonitorSession(const MonitorSession&) = delete;
  MonitorSession& operator=(const MonitorSession&) = delete;

  // Runs the main dialog modally: the start-up sequence when its controls exist, then the
  // operator's work until it ends, then finish. The modal result: -1 when no adapter was found
  // (the message was shown and the window never appeared) or the dialog could not be made.
  int run();
  // Ends the run the way the close box does, also while one of the window's dialogs waits for
  // the operator: that dialog is cancelled, so that its own modal run returns first.
  void close();
  // Lets workers waiting for a message box go, then stops and joins every worker thread.
  // Every exit path comes through here; calling it again does nothing more.
  void finish();

 private:
  static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  // A control's notification: `code` from control `id`.
  void notify(int id, int code, HWND control);
  void connectNotifications();

  Win32View view_;
  Monitor monitor_;
  KeyFilter keys_;
  // The handler of each button click (BN_CLICKED) by control identifier.
  std::map<int, std::function<void()>> clicks_;
};

}  // namespace dravik::win32
