#include "win32/worker_message_boxes.h"

#include <algorithm>

namespace dravik::win32 {

namespace {

// The boxes of the calling worker while it shows one; the hook below runs on that thread.
thread_local WorkerMessageBoxes* showing = nullptr;
thread_local HWND shownBox = nullptr;

// Ends a message box the way its OK button does; safe from any thread.
void pressOk(HWND box) {
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}

}  // namespace

LRESULT CALLBACK WorkerMessageBoxes::watch(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && showing && !shownBox) {
    const auto* created = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
    if (!(created->lpcs->style & WS_CHILD)) {
      shownBox = reinterpret_cast<HWND>(wParam);
      showing->boxMade(shownBox);
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void WorkerMessageBoxes::boxMade(HWND box) {
  const std::lock_guard guard(mutex_);
  boxes_.push_back(box);
  // Released between the worker's look at the flag and its box's making: the box is ended as
  // soon as it runs.
  if (released_) pressOk(box);
}

void WorkerMessageBoxes::show(const std::wstring& text, const std::wstring& caption) {
  {
    const std::lock_guard guard(mutex_);
    if (released_) return;
  }
  // The box is told apart from the windows of other threads by a hook on this thread alone.
  const HHOOK hook = ::SetWindowsHookExW(WH_CBT, &watch, nullptr, ::GetCurrentThreadId());
  // Without it a close could not end the box and would wait for this worker for ever: the
  // message goes unshown rather than hold up the exit.
  if (!hook) return;
  showing = this;
  shownBox = nullptr;
  // No owner: the window stays usable, and only this worker waits.
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND);
  ::UnhookWindowsHookEx(hook);
  showing = nullptr;
  const std::lock_guard guard(mutex_);
  std::erase(boxes_, shownBox);
}

void WorkerMessageBoxes::release() {
  const std::lock_guard guard(mutex_);
  released_ = true;
  std::ranges::for_each(boxes_, pressOk);
}

}  // namespace dravik::win32
