#include "win32/key_filter.h"

namespace dravik::win32 {

namespace {

// The filter of the calling thread; a message filter hook carries no data of its own.
thread_local KeyFilter* active = nullptr;

}  // namespace

KeyFilter::KeyFilter() {
  active = this;
  // A message filter hook sees every message of the thread's dialog loops before the dialog
  // manager does.
  hook_ = ::SetWindowsHookExW(WH_MSGFILTER, &filter, nullptr, ::GetCurrentThreadId());
}

KeyFilter::~KeyFilter() {
  if (hook_) ::UnhookWindowsHookEx(hook_);
  active = nullptr;
}

LRESULT CALLBACK KeyFilter::filter(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  const HWND dialog = active ? active->dialog_ : nullptr;
  if (code == MSGF_DIALOGBOX && dialog && message->message == WM_KEYDOWN &&
      message->wParam == VK_RETURN &&
      (message->hwnd == dialog || ::IsChild(dialog, message->hwnd))) {
    // Handled here: the dialog manager never sees it.
    ::TranslateMessage(message);
    ::DispatchMessageW(message);
    return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace dravik::win32
