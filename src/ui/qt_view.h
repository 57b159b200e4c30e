// The Qt main window behind the View contract: every control identifier mapped to its widget,
// CP932 converted to and from Unicode here and nowhere else, worker-thread calls carried to
// the window's thread without waiting for it. Worker changes are coalesced (ViewChanges):
// however fast a unit reports, the window's queue holds at most one flush.
#pragma once

#include <QObject>
#include <QWidget>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "engine/variant_profile.h"
#include "monitor/view.h"
#include "monitor/view_changes.h"
#include "ui/key_filter.h"
#include "ui/qt_dialogs.h"
#include "ui/window_builder.h"

namespace dravik::ui {

class QtView;

// The top-level window: turns the close box into a request and ends only when told to.
class MainWindow : public QWidget {
 public:
  explicit MainWindow(QtView& view);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QtView& view_;
};

class QtView : public QObject, public View {
  Q_OBJECT

 public:
  // The trace pane keeps this many of its newest lines: a unit reporting for days must not
  // grow the hidden pane without bound.
  static constexpr int kTraceLines = 5000;

  explicit QtView(const VariantProfile& profile);
  ~QtView() override;

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

  QWidget& window() { return *window_; }
  // The widget of a control identifier; nullptr when the template has none.
  QWidget* control(int id) const;
  const BuiltWindow& built() const { return built_; }
  // Lamps and the status panel ask this for their brush at every paint.
  void setBrushSource(BrushSource brushes) { brushes_ = std::move(brushes); }

  // The modal run has ended (endModal) with this result.
  bool modalEnded() const { return modalResult_.has_value(); }
  std::optional<int> modalResult() const { return modalResult_; }
  // Lets every worker waiting in messageBox go and refuses new worker message boxes; the
  // window is closing and its thread is about to join the workers.
  void releaseWaitingWorkers();
  // Controls with worker changes recorded and not yet applied on the window's thread.
  std::size_t pendingControlCount() const;

  // Seams for tests, so that no real modal blocks them. Each runs on the window's thread in
  // place of the real dialog's modal run.
  // A message box shown from the window's thread: gets its text and caption.
  std::function<void(const QString& text, const QString& caption)> messageBoxHook;
  FileDialogHook fileDialogHook;
  TitleDialogHook titleDialogHook;

 Q_SIGNALS:
  // The close box, the system menu or Alt+F4.
  void closeRequested();
  // Escape in the window: closes without the stop requests of the close box.
  void cancelRequested();
  // endModal was called.
  void modalFinished(int result);

 private:
  friend class MainWindow;

  bool onWindowThread() const { return std::this_thread::get_id() == windowThread_; }
  // On a worker thread: records the change (`record` returns whether a flush must be queued)
  // and queues the flush; true. On the window's thread: applies what workers left pending, so
  // that their older changes never overwrite the caller's; false, the caller applies.
  template <typename Record>
  bool fromWorker(const Record& record);
  // Applies every pending worker change, in order, also when a change's signal leads back
  // here; on the window's thread only.
  void applyPending() const;
  // The queued flush: lets the next worker change queue another one, then applies.
  void flushWorkerChanges() const;
  void apply(const ViewChanges::Change& change) const;
  void applyText(int id, const std::string& text) const;
  void applyTrace(const std::string& text) const;
  // Runs `call` on the window's thread: at once, after what workers left pending, when already
  // there; with the next flush otherwise.
  void post(std::function<void()> call);

  struct WorkerWait {
    std::mutex mutex;
    std::condition_variable answered;
    bool released = false;
  };

  const VariantProfile& profile_;
  const std::thread::id windowThread_;
  std::unique_ptr<MainWindow> window_;
  BuiltWindow built_;
  BrushSource brushes_;
  QString programName_;
  std::optional<int> modalResult_;
  std::shared_ptr<WorkerWait> workers_;

  // Bounded like the pane, whose last line is the empty one after the final line end.
  mutable ViewChanges changes_{kTraceLines - 1};
  std::unique_ptr<KeyFilter> keys_;
  // Per control, the last CP932 text shown and its Unicode form: a repeated text is not
  // converted again.
  mutable std::unordered_map<int, std::pair<std::string, QString>> shownTexts_;
};

}  // namespace dravik::ui
