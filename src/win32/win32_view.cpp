#include "win32/win32_view.h"

#include <numeric>
#include <utility>

#include "monitor/controls.h"
#include "monitor/window_profile.h"
#include "platform/utf16.h"
#include "win32/dialog_template.h"
#include "win32/text_limits.h"
#include "win32/wide_text.h"
#include "win32/win32_dialogs.h"

namespace dravik::win32 {

namespace {

// Cancels `window` when `dialog` owns it, directly or through another window it owns.
BOOL CALLBACK cancelOwned(HWND window, LPARAM dialog) {
  for (HWND owner = ::GetWindow(window, GW_OWNER); owner; owner = ::GetWindow(owner, GW_OWNER)) {
    if (owner == reinterpret_cast<HWND>(dialog)) {
      ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
      break;
    }
  }
  return TRUE;
}

}  // namespace

Win32View::Win32View(const VariantProfile& profile)
    : windowThread_(::GetCurrentThreadId()),
      template_(window::mainWindowTemplate(profile)),
      programName_(fromUtf8(windowProfile(profile).programName)) {
  for (const window::ControlTemplate& c : template_.controls) {
    if (c.id != window::kNoId) kinds_[c.id] = c.kind;
  }
}

Win32View::~Win32View() {
  releaseWaitingWorkers();
}

void Win32View::attach(HWND dialog) {
  dialog_ = dialog;
  drawing_ = std::make_unique<DrawingObjects>(dialog);
  drawing_->setStatusFont(control(ctl::kStatusPanel), ::GetDpiForWindow(dialog));
  widenCaptions(dialog);
  for (const window::ControlTemplate& c : template_.controls) {
    if (c.style & window::kDigitsOnly) judgeDigitsOnly(control(c.id));
  }
  // The pane keeps its newest lines itself; the edit's own limit would refuse what comes next.
  ::SendMessageW(control(ctl::kTracePane), EM_SETLIMITTEXT, 0, 0);
}

std::optional<INT_PTR> Win32View::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kFlushMessage:
      flushWorkerChanges();
      return TRUE;
    case kShowTraceMessage:
      showTrace();
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DPICHANGED:
      if (drawing_) drawing_->setStatusFont(control(ctl::kStatusPanel), HIWORD(wParam));
      // The dialog manager scales the dialog font and the layout.
      return std::nullopt;
    case WM_DESTROY:
      // Workers still running post nothing more to a window that is going.
      dialog_ = nullptr;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<INT_PTR> Win32View::colour(HDC dc, HWND control) const {
  const Brush brush = brushes_ ? brushes_(::GetDlgCtrlID(control)) : Brush::Default;
  if (brush == Brush::Default || !drawing_) return std::nullopt;
  ::SetTextColor(dc, RGB(255, 255, 255));
  ::SetBkColor(dc, brushColour(brush));
  return reinterpret_cast<INT_PTR>(drawing_->brush(brush));
}

HWND Win32View::control(int id) const {
  const HWND dialog = dialog_.load();
  return dialog && kinds_.contains(id) ? ::GetDlgItem(dialog, id) : nullptr;
}

void Win32View::cancelDialogs() const {
  if (const HWND dialog = dialog_.load()) {
    ::EnumThreadWindows(windowThread_, &cancelOwned, reinterpret_cast<LPARAM>(dialog));
  }
}

template <typename Record>
bool Win32View::fromWorker(const Record& record) {
  if (onWindowThread()) {
    applyPending();
    return false;
  }
  if (record()) ::PostMessageW(dialog_.load(), kFlushMessage, 0, 0);
  return true;
}

void Win32View::applyPending() const {
  // A change may make a control notify the dialog, whose handler calls back into the view:
  // the nested call goes on with the same batch, so every change is still applied once and in
  // order.
  while (std::optional<ViewChanges::Change> change = changes_.next()) apply(*change);
}

void Win32View::flushWorkerChanges() const {
  changes_.startFlush();
  applyPending();
}

void Win32View::apply(const ViewChanges::Change& change) const {
  using Change = ViewChanges::Change;
  const HWND window = control(change.id);
  switch (change.kind) {
    case Change::Kind::Text:
      applyText(change.id, change.text);
      break;
    case Change::Kind::Enabled:
      if (window) ::EnableWindow(window, change.on);
      break;
    case Change::Kind::Checked:
      if (window) {
        ::SendMessageW(window, BM_SETCHECK, change.on ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    case Change::Kind::Visible:
      if (window) ::ShowWindow(window, change.on ? SW_SHOW : SW_HIDE);
      break;
    case Change::Kind::Repaint:
      // The control asks for its brush again when it paints its background.
      if (window) ::InvalidateRect(window, nullptr, TRUE);
      break;
    case Change::Kind::ClearTrace:
      applyClearTrace();
      break;
    case Change::Kind::Trace:
      applyTrace(change.text);
      break;
    case Change::Kind::Step:
      change.step();
      break;
  }
}

void Win32View::applyText(int id, const std::string& text) const {
  const HWND window = control(id);
  if (!window) return;
  // The operator edits an edit's text; a static's or button's is only ever the program's.
  if (kinds_.at(id) != window::ControlKind::Edit) {
    auto [shown, added] = shownTexts_.try_emplace(id, text);
    if (!added && shown->second == text) return;
    shown->second = text;
  }
  ::SetWindowTextW(window, cp932::toUtf16(text).c_str());
}

void Win32View::applyTrace(const std::string& text) const {
  traceWaiting_ += cp932::toUtf16(text);
  if (!showTracePosted_) {
    showTracePosted_ = ::PostMessageW(dialog_.load(), kShowTraceMessage, 0, 0);
  }
}

void Win32View::showTrace() const {
  showTracePosted_ = false;
  const HWND pane = control(ctl::kTracePane);
  if (!pane || traceWaiting_.empty()) return;
  const int end = ::GetWindowTextLengthW(pane);
  ::SendMessageW(pane, EM_SETSEL, end, end);
  ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(traceWaiting_.c_str()));
  for (std::size_t from = 0; from < traceWaiting_.size();) {
    const std::size_t lineEnd = traceWaiting_.find(L'\n', from);
    if (lineEnd == std::wstring::npos) {
      traceOpenLine_ += traceWaiting_.size() - from;
      break;
    }
    traceLines_.push_back(traceOpenLine_ + lineEnd + 1 - from);
    traceOpenLine_ = 0;
    from = lineEnd + 1;
  }
  traceWaiting_.clear();

  // Whole lines, the pane's last line being the unfinished one after them.
  const std::size_t whole = kTraceLines - 1;
  if (traceLines_.size() <= whole) return;
  const auto oldest = traceLines_.begin() + static_cast<std::ptrdiff_t>(traceLines_.size() - whole);
  const std::size_t cut = std::accumulate(traceLines_.begin(), oldest, std::size_t{0});
  traceLines_.erase(traceLines_.begin(), oldest);
  ::SendMessageW(pane, EM_SETSEL, 0, static_cast<LPARAM>(cut));
  ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  const int last = ::GetWindowTextLengthW(pane);
  ::SendMessageW(pane, EM_SETSEL, last, last);
  ::SendMessageW(pane, EM_SCROLLCARET, 0, 0);
}

void Win32View::applyClearTrace() const {
  if (const HWND pane = control(ctl::kTracePane)) ::SetWindowTextW(pane, L"");
  traceWaiting_.clear();
  traceLines_.clear();
  traceOpenLine_ = 0;
}

void Win32View::post(std::function<void()> call) {
  if (fromWorker([&] { return changes_.post(std::move(call)); })) return;
  call();
}

void Win32View::setText(int id, const std::string& text) {
  if (fromWorker([&] { return changes_.setText(id, text); })) return;
  applyText(id, text);
}

std::string Win32View::text(int id) const {
  applyPending();
  if (id == ctl::kTracePane) showTrace();
  const HWND window = control(id);
  return window ? cp932::fromUtf16(windowText(window)) : std::string();
}

void Win32View::enable(int id, bool enabled) {
  if (fromWorker([&] { return changes_.enable(id, enabled); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Enabled, id, enabled));
}

void Win32View::repaint(int id) {
  if (fromWorker([&] { return changes_.repaint(id); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Repaint, id));
}

bool Win32View::isChecked(int id) const {
  applyPending();
  const HWND window = control(id);
  return window && ::SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32View::setChecked(int id, bool checked) {
  if (fromWorker([&] { return changes_.setChecked(id, checked); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Checked, id, checked));
}

void Win32View::setVisible(int id, bool visible) {
  if (fromWorker([&] { return changes_.setVisible(id, visible); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Visible, id, visible));
}

void Win32View::limitText(int id, int bytes) {
  post([this, id, bytes] {
    if (const HWND edit = control(id); edit && kinds_.at(id) == window::ControlKind::Edit) {
      judgeByteLimit(edit, bytes);
    }
  });
}

void Win32View::appendTrace(const std::string& text) {
  if (fromWorker([&] { return changes_.appendTrace(text); })) return;
  applyTrace(text);
}

void Win32View::clearTrace() {
  if (fromWorker([&] { return changes_.clearTrace(); })) return;
  applyClearTrace();
}

void Win32View::addComboItem(int id, const std::string& text) {
  post([this, id, shown = cp932::toUtf16(text)] {
    // Adding selects nothing and notifies nothing; only the operator's choice is a selection
    // change.
    if (const HWND combo = control(id)) {
      ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    }
  });
}

void Win32View::setComboSelection(int id, int index) {
  post([this, id, index] {
    if (const HWND combo = control(id)) ::SendMessageW(combo, CB_SETCURSEL, index, 0);
  });
}

int Win32View::comboSelection(int id) const {
  applyPending();
  const HWND combo = control(id);
  return combo ? static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32View::messageBox(const std::string& text) {
  const std::wstring shown = cp932::toUtf16(text);
  if (!onWindowThread()) {
    workerBoxes_.show(shown, programName_);
    return;
  }
  applyPending();
  ::MessageBoxW(dialog_.load(), shown.c_str(), programName_.c_str(), MB_OK);
}

std::optional<std::string> Win32View::chooseFile(const FileDialog& request) {
  applyPending();
  const std::optional<std::wstring> chosen =
      win32::chooseFile(dialog_.load(), request, cp932::toUtf16(request.initialPath));
  if (!chosen) return std::nullopt;
  return cp932::fromUtf16(*chosen);
}

std::optional<std::string> Win32View::askTitle(const std::string& current) {
  applyPending();
  const std::optional<std::wstring> title =
      win32::askTitle(dialog_.load(), cp932::toUtf16(current));
  if (!title) return std::nullopt;
  return cp932::fromUtf16(*title);
}

void Win32View::setCaption(const std::string& caption) {
  post(
      [this, shown = cp932::toUtf16(caption)] { ::SetWindowTextW(dialog_.load(), shown.c_str()); });
}

void Win32View::endModal(int result) {
  post([this, result] {
    if (modalResult_) return;
    modalResult_ = result;
    releaseWaitingWorkers();
    ::EndDialog(dialog_.load(), result);
  });
}

}  // namespace dravik::win32
