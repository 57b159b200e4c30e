// The Win32 main window behind the View contract: every control identifier is the dialog's own
// control of that identifier, CP932 is converted to and from UTF-16 here and nowhere else
// (code page 932), and worker-thread calls reach the window's thread without waiting for it.
// Worker changes are coalesced (ViewChanges): however fast a unit reports, the window's queue
// holds at most one posted flush.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/variant_profile.h"
#include "monitor/brush.h"
#include "monitor/view.h"
#include "monitor/view_changes.h"
#include "win32/drawing_objects.h"
#include "win32/worker_message_boxes.h"
#include "window/window_template.h"

namespace dravik::win32 {

// Tells which brush paints a lamp or the status panel, asked at every paint.
using BrushSource = std::function<Brush(int id)>;

class Win32View : public View {
 public:
  // The trace pane keeps this many of its newest lines: a unit reporting for days must not
  // grow the hidden pane without bound.
  static constexpr int kTraceLines = 5000;
  // Posted to the dialog when worker changes wait for the window's thread.
  static constexpr UINT kFlushMessage = WM_APP + 1;
  // Posted to the dialog when trace text waits to be shown.
  static constexpr UINT kShowTraceMessage = WM_APP + 2;

  // Made on the thread that will run the window.
  explicit Win32View(const VariantProfile& profile);
  ~Win32View() override;
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  // Takes over `dialog` once its controls exist (WM_INITDIALOG, before the monitor's start-up):
  // icon, brushes and status font, the port edits' digit rule, the trace pane's own bound.
  void attach(HWND dialog);
  // The view's part of the dialog procedure: worker changes waiting, the colours of lamps and
  // the status panel, a new resolution, the dialog's end. Nothing when the message is not the
  // view's.
  std::optional<INT_PTR> handle(UINT message, WPARAM wParam, LPARAM lParam);

  // View
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override;
  void enable(int id, bool enabled) override;
  void repaint(int id) override;
  bool isChecked(int id) const override;
  void setChecked(int id, bool checked) override;
  void setVisible(int id, bool visible) override;
  void limitText(int id, int bytes) override;
  void appendTrace(const std::string& text) override;
  void clearTrace() override;
  void addComboItem(int id, const std::string& text) override;
  void setComboSelection(int id, int index) override;
  int comboSelection(int id) const override;
  void messageBox(const std::string& text) override;
  std::optional<std::string> chooseFile(const FileDialog& dialog) override;
  std::optional<std::string> askTitle(const std::string& current) override;
  void setCaption(const std::string& caption) override;
  void endModal(int result) override;

  HWND dialog() const { return dialog_.load(); }
  // The control of an identifier; nullptr when the template has none or the dialog is gone.
  HWND control(int id) const;
  // Lamps and the status panel ask this for their brush at every paint.
  void setBrushSource(BrushSource brushes) { brushes_ = std::move(brushes); }

  // The modal run has ended (endModal) with this result.
  std::optional<int> modalResult() const { return modalResult_; }
  // Lets every worker waiting in messageBox go and refuses new worker message boxes; the
  // window is closing and its thread is about to join the workers.
  void releaseWaitingWorkers() { workerBoxes_.release(); }
  // Cancels every dialog the window has open (the title bar dialog, a file dialog, a message
  // box), so that each one's modal run returns once the window's thread gets back to it.
  void cancelDialogs() const;

 private:
  bool onWindowThread() const { return ::GetCurrentThreadId() == windowThread_; }
  // On a worker thread: records the change (`record` returns whether a flush must be queued)
  // and posts the flush; true. On the window's thread: applies what workers left pending, so
  // that their older changes never overwrite the caller's; false, the caller applies.
  template <typename Record>
  bool fromWorker(const Record& record);
  // Applies every pending worker change, in order, also when a change's notification leads
  // back here; on the window's thread only.
  void applyPending() const;
  // The posted flush: lets the next worker change post another one, then applies.
  void flushWorkerChanges() const;
  void apply(const ViewChanges::Change& change) const;
  void applyText(int id, const std::string& text) const;
  // Trace text waits until the window's thread is through with what it is doing, and then
  // goes into the pane at once (showTrace): each change to the pane makes the edit lay out its
  // text again, and a start-up may trace thousands of lines.
  void applyTrace(const std::string& text) const;
  // Appends the waiting trace text and cuts the pane's oldest lines down to kTraceLines.
  void showTrace() const;
  void applyClearTrace() const;
  // Runs `call` on the window's thread: at once, after what workers left pending, when already
  // there; with the next flush otherwise.
  void post(std::function<void()> call);
  // The answer to WM_CTLCOLORSTATIC: a brushed control's brush, white text on its colour.
  std::optional<INT_PTR> colour(HDC dc, HWND control) const;

  const DWORD windowThread_;
  std::map<int, window::ControlKind> kinds_;
  const window::WindowTemplate& template_;
  const std::wstring programName_;
  std::atomic<HWND> dialog_{nullptr};
  std::unique_ptr<DrawingObjects> drawing_;
  BrushSource brushes_;
  std::optional<int> modalResult_;
  WorkerMessageBoxes workerBoxes_;

  // Bounded like the pane, whose last line is the unfinished one after the final line end.
  mutable ViewChanges changes_{kTraceLines - 1};
  // Per static and button, the CP932 text it shows: a repeated text is not drawn again.
  mutable std::map<int, std::string> shownTexts_;
  // Trace text not yet in the pane, and whether its showing is posted.
  mutable std::wstring traceWaiting_;
  mutable bool showTracePosted_ = false;
  // The lengths in UTF-16 units of the pane's whole lines, line ends included, oldest first,
  // and of its unfinished last line: what to cut when the pane holds too many.
  mutable std::deque<std::size_t> traceLines_;
  mutable std::size_t traceOpenLine_ = 0;
};

}  // namespace dravik::win32
