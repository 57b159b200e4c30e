#include "win32/monitor_session.h"

#include <algorithm>

#include "monitor/brush.h"
#include "monitor/controls.h"
#include "monitor/window_profile.h"
#include "win32/dialog_template.h"
#include "win32/text_limits.h"
#include "win32/version_resource.h"
#include "window/window_template.h"

namespace dravik::win32 {

MonitorSession::MonitorSession(const VariantProfile& profile, AdapterProvider& adapters,
                               OutputFactory makeOutput, std::string configDirectory,
                               std::string dataDirectory)
    : view_(profile),
      monitor_(profile, view_, adapters, makeOutput, std::move(configDirectory),
               std::move(dataDirectory), programVersion()) {
  view_.setBrushSource(
      [this](int id) { return brushFor(monitor_.profile(), monitor_.state(), id); });
  connectNotifications();
}

MonitorSession::~MonitorSession() {
  finish();
}

void MonitorSession::connectNotifications() {
  clicks_[ctl::kStartStop] = [this] { monitor_.startStop(); };
  clicks_[ctl::kLoadButton] = [this] { monitor_.loadSettings(); };
  clicks_[ctl::kSaveButton] = [this] { monitor_.saveSettings(); };
  clicks_[ctl::kTitleBarButton] = [this] { monitor_.changeTitleBar(); };
  clicks_[ctl::kBrowseLog] = [this] { monitor_.browseLogFile(); };
  clicks_[ctl::kLogging] = [this] { monitor_.onLoggingToggled(); };
  const WindowProfile& window = windowProfile(monitor_.profile());
  for (int i = 0; i < static_cast<int>(window.outputs.size()); ++i) {
    clicks_[window.outputs[i].button] = [this, i] { monitor_.toggleDigitalOut(i); };
  }
  // Escape: the dialog manager's cancel command.
  clicks_[IDCANCEL] = [this] { view_.endModal(kCancelResult); };
}

int MonitorSession::run() {
  const DialogTemplate tmpl(window::mainWindowTemplate(monitor_.profile()), Frame::Main);
  const INT_PTR result = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), tmpl.get(), nullptr,
                                                   &dialogProc, reinterpret_cast<LPARAM>(this));
  finish();
  return static_cast<int>(result);
}

INT_PTR CALLBACK MonitorSession::dialogProc(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  auto* session = reinterpret_cast<MonitorSession*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  return session ? session->handle(dialog, message, wParam, lParam) : FALSE;
}

INT_PTR MonitorSession::handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      view_.attach(dialog);
      keys_.watch(dialog);
      monitor_.initDialog();
      // The dialog manager puts the focus on the first tab stop.
      return TRUE;
    case WM_COMMAND:
      notify(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_CLOSE:
      close();
      return TRUE;
    case WM_ENDSESSION:
      // The session ends (log-off, shutdown): the system may end the process as soon as this
      // returns, so every port is closed and every worker joined, with each log line whole,
      // before it does.
      if (wParam) {
        close();
        finish();
      }
      return TRUE;
    default:
      return view_.handle(message, wParam, lParam).value_or(FALSE);
  }
}

void MonitorSession::notify(int id, int code, HWND control) {
  switch (code) {
    case BN_CLICKED:
      if (const auto click = clicks_.find(id); click != clicks_.end()) click->second();
      break;
    case EN_CHANGE: {
      const WindowProfile& window = windowProfile(monitor_.profile());
      const bool nameEdit =
          std::ranges::any_of(window.inputs,
                              [id](const InputRow& r) { return r.nameEdit == id; }) ||
          std::ranges::any_of(window.outputs,
                              [id](const OutputRow& r) { return r.nameEdit == id; });
      if (nameEdit && !changeNoticeHeld(control)) monitor_.onSignalNameChanged();
      break;
    }
    case CBN_SELCHANGE:
      if (id == ctl::kAdapterCombo) monitor_.selectAdapter();
      break;
    default:
      break;
  }
}

void MonitorSession::close() {
  view_.cancelDialogs();
  monitor_.onClose();
}

void MonitorSession::finish() {
  view_.releaseWaitingWorkers();
  monitor_.shutdown();
}

}  // namespace dravik::win32
