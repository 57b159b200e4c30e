// One program run: the Qt window and the Monitor, wired together, from start-up to the
// joined end of every worker thread.
#pragma once

#include <string>

#include "monitor/monitor.h"
#include "ui/qt_view.h"

namespace dravik::ui {

// The dialog result of Escape, which ends the window without the close box's stop requests.
inline constexpr int kCancelResult = 2;

class MonitorSession {
 public:
  MonitorSession(const VariantProfile& profile, AdapterProvider& adapters, OutputFactory makeOutput,
                 std::string configDirectory, std::string dataDirectory);
  // Ends the session (finish) before the Monitor and the window go.
  ~MonitorSession();
  MonitorSession(const MonitorSession&) = delete;
  MonitorSession& operator=(const MonitorSession&) = delete;

  QtView& view() { return view_; }
  Monitor& monitor() { return monitor_; }

  // Runs the start-up sequence, then shows the window. False when no adapter was found: the
  // message was shown, the window never appears, and the session is already finished.
  bool start();
  // Runs the window's events until its modal run ends, then finishes; the modal result.
  int run();
  // Ends the run the way the close box does, also while one of the window's dialogs waits for
  // the operator: that dialog is cancelled, so that its own modal run returns first.
  void close();
  // Lets workers waiting for a message box go, then stops and joins every worker thread.
  // Every exit path comes through here; calling it again does nothing more.
  void finish();

 private:
  void connectNotifications();

  QtView view_;
  Monitor monitor_;
};

}  // namespace dravik::ui
