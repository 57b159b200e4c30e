// Message boxes that worker threads show. Each is modal for its own worker only: it runs on
// that worker's thread, which waits for OK while the window goes on. Closing the window lets
// every worker waiting in one go, since the window's thread then joins the workers.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace dravik::win32 {

class WorkerMessageBoxes {
 public:
  // On a worker thread: shows `text` with an OK button, captioned `caption`, and returns when
  // the operator presses OK or release() is called; at once once release() was called.
  void show(const std::wstring& text, const std::wstring& caption);
  // Ends every box shown and lets no new one wait. Any thread.
  void release();

 private:
  // The box the calling worker is making (its first top-level window); ended at once after
  // release().
  void boxMade(HWND box);
  static LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam);

  std::mutex mutex_;
  bool released_ = false;
  std::vector<HWND> boxes_;
};

}  // namespace dravik::win32
