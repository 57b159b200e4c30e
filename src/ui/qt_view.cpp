#include "ui/qt_view.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalBlocker>

#include "monitor/controls.h"
#include "monitor/window_profile.h"
#include "platform/cp932.h"
#include "ui/text_limits.h"
#include "window/window_template.h"

namespace dravik::ui {

namespace {

// Marks the message boxes shown for worker threads, so that closing can dismiss them.
constexpr const char* kWorkerBoxProperty = "dravikWorkerBox";
// A multi-line field set whole (the log file's path) shows at most this many characters and
// then an ellipsis: wrapping one unbroken line costs the window's thread more the longer it
// is, and the field shows two lines of about thirty characters.
constexpr qsizetype kFieldChars = 512;

QString fromCp932(const std::string& text) {
  return QString::fromStdString(cp932::toUtf8(text));
}

std::string toCp932(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return cp932::fromUtf8(std::string_view(utf8.constData(), utf8.size()));
}

QString latin(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The pane shows lines; the stored "\r\n" line ends become the editor's own.
QString traceText(const std::string& text) {
  QString shown = fromCp932(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

}  // namespace

MainWindow::MainWindow(QtView& view) : view_(view) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (view_.modalEnded()) {
    event->accept();
    return;
  }
  // The close handler decides; the window goes when it ends the modal run.
  event->ignore();
  Q_EMIT view_.closeRequested();
}

QtView::QtView(const VariantProfile& profile)
    : profile_(profile),
      windowThread_(std::this_thread::get_id()),
      window_(std::make_unique<MainWindow>(*this)),
      programName_(latin(windowProfile(profile).programName)),
      workers_(std::make_shared<WorkerWait>()) {
  built_ = buildWindow(*window_, window::mainWindowTemplate(profile),
                       [this](int id) { return brushes_ ? brushes_(id) : Brush::Default; });
  if (QWidget* status = control(ctl::kStatusPanel)) status->setFont(statusFont());
  if (auto* pane = qobject_cast<QPlainTextEdit*>(control(ctl::kTracePane))) {
    pane->setMaximumBlockCount(kTraceLines);
  }
  keys_ = std::make_unique<KeyFilter>(*window_, [this] { Q_EMIT cancelRequested(); });
}

QtView::~QtView() {
  keys_.reset();
  releaseWaitingWorkers();
}

QWidget* QtView::control(int id) const {
  auto found = built_.byId.find(id);
  return found == built_.byId.end() ? nullptr : found->second;
}

template <typename Record>
bool QtView::fromWorker(const Record& record) {
  if (onWindowThread()) {
    applyPending();
    return false;
  }
  if (record()) {
    QMetaObject::invokeMethod(
        this, [this] { flushWorkerChanges(); }, Qt::QueuedConnection);
  }
  return true;
}

void QtView::applyPending() const {
  // A change may emit a signal whose handler calls back into the view: the nested call goes
  // on with the same batch, so every change is still applied once and in order.
  while (std::optional<ViewChanges::Change> change = changes_.next()) apply(*change);
}

void QtView::flushWorkerChanges() const {
  changes_.startFlush();
  applyPending();
}

void QtView::apply(const ViewChanges::Change& change) const {
  using Change = ViewChanges::Change;
  QWidget* widget = control(change.id);
  switch (change.kind) {
    case Change::Kind::Text:
      applyText(change.id, change.text);
      break;
    case Change::Kind::Enabled:
      if (widget) widget->setEnabled(change.on);
      break;
    case Change::Kind::Checked:
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setChecked(change.on);
      break;
    case Change::Kind::Visible:
      if (widget) widget->setVisible(change.on);
      break;
    case Change::Kind::Repaint:
      if (widget) widget->update();
      break;
    case Change::Kind::ClearTrace:
      if (auto* pane = qobject_cast<QPlainTextEdit*>(control(ctl::kTracePane))) pane->clear();
      break;
    case Change::Kind::Trace:
      applyTrace(change.text);
      break;
    case Change::Kind::Step:
      change.step();
      break;
  }
}

void QtView::applyText(int id, const std::string& text) const {
  QWidget* widget = control(id);
  if (!widget) return;
  auto& [bytes, shown] = shownTexts_[id];
  if (bytes != text) {
    bytes = text;
    shown = fromCp932(text);
  }
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(shown);
  } else if (auto* pane = qobject_cast<QPlainTextEdit*>(widget)) {
    pane->setPlainText(shown.size() > kFieldChars && id != ctl::kTracePane
                           ? shown.first(kFieldChars) + QChar(0x2026)
                           : shown);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(shown);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(shown);
  }
}

void QtView::applyTrace(const std::string& text) const {
  if (auto* pane = qobject_cast<QPlainTextEdit*>(control(ctl::kTracePane))) {
    pane->moveCursor(QTextCursor::End);
    pane->insertPlainText(traceText(text));
  }
}

std::size_t QtView::pendingControlCount() const {
  return changes_.pendingControlCount();
}

void QtView::post(std::function<void()> call) {
  if (fromWorker([&] { return changes_.post(std::move(call)); })) return;
  call();
}

void QtView::setText(int id, const std::string& text) {
  if (fromWorker([&] { return changes_.setText(id, text); })) return;
  applyText(id, text);
}

std::string QtView::text(int id) const {
  applyPending();
  QWidget* widget = control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return toCp932(edit->text());
  if (auto* pane = qobject_cast<QPlainTextEdit*>(widget)) {
    // A field shows a long text cut short; read-only, it still holds what was set.
    const auto set = shownTexts_.find(id);
    if (pane->isReadOnly() && id != ctl::kTracePane && set != shownTexts_.end()) {
      return set->second.first;
    }
    return toCp932(pane->toPlainText());
  }
  if (auto* label = qobject_cast<QLabel*>(widget)) return toCp932(label->text());
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return toCp932(button->text());
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return toCp932(combo->currentText());
  return {};
}

void QtView::enable(int id, bool enabled) {
  if (fromWorker([&] { return changes_.enable(id, enabled); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Enabled, id, enabled));
}

void QtView::repaint(int id) {
  if (fromWorker([&] { return changes_.repaint(id); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Repaint, id));
}

bool QtView::isChecked(int id) const {
  applyPending();
  auto* button = qobject_cast<QAbstractButton*>(control(id));
  return button && button->isChecked();
}

void QtView::setChecked(int id, bool checked) {
  if (fromWorker([&] { return changes_.setChecked(id, checked); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Checked, id, checked));
}

void QtView::setVisible(int id, bool visible) {
  if (fromWorker([&] { return changes_.setVisible(id, visible); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::Visible, id, visible));
}

void QtView::limitText(int id, int bytes) {
  post([this, id, bytes] {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id))) {
      edit->setValidator(new Cp932LimitValidator(bytes, edit));
    }
  });
}

void QtView::appendTrace(const std::string& text) {
  if (fromWorker([&] { return changes_.appendTrace(text); })) return;
  applyTrace(text);
}

void QtView::clearTrace() {
  if (fromWorker([&] { return changes_.clearTrace(); })) return;
  apply(ViewChanges::Change(ViewChanges::Change::Kind::ClearTrace));
}

void QtView::addComboItem(int id, const std::string& text) {
  post([this, id, shown = fromCp932(text)] {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    if (!combo) return;
    // Adding selects nothing; only a selection change by the operator is a notification.
    const QSignalBlocker blocker(combo);
    const int selected = combo->currentIndex();
    combo->addItem(shown);
    combo->setCurrentIndex(selected);
  });
}

void QtView::setComboSelection(int id, int index) {
  post([this, id, index] {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    if (!combo) return;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
  });
}

int QtView::comboSelection(int id) const {
  applyPending();
  auto* combo = qobject_cast<QComboBox*>(control(id));
  return combo ? combo->currentIndex() : -1;
}

void QtView::messageBox(const std::string& text) {
  const QString shown = fromCp932(text);
  if (onWindowThread()) {
    applyPending();
    if (messageBoxHook) {
      messageBoxHook(shown, programName_);
      return;
    }
    QMessageBox box(QMessageBox::NoIcon, programName_, shown, QMessageBox::Ok, window_.get());
    box.exec();
    return;
  }
  // A worker waits for the operator's OK, but never past the window's closing: the window's
  // thread then joins the workers and could not show the box any more.
  auto wait = workers_;
  std::unique_lock lock(wait->mutex);
  if (wait->released) return;
  auto answered = std::make_shared<bool>(false);
  QMetaObject::invokeMethod(
      this,
      [this, shown, answered, wait] {
        {
          const std::lock_guard guard(wait->mutex);
          if (wait->released) return;
        }
        auto* box = new QMessageBox(QMessageBox::NoIcon, programName_, shown, QMessageBox::Ok,
                                    window_.get());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setProperty(kWorkerBoxProperty, true);
        QObject::connect(box, &QMessageBox::finished, [answered, wait] {
          const std::lock_guard guard(wait->mutex);
          *answered = true;
          wait->answered.notify_all();
        });
        box->open();
      },
      Qt::QueuedConnection);
  wait->answered.wait(lock, [&] { return *answered || wait->released; });
}

void QtView::releaseWaitingWorkers() {
  {
    const std::lock_guard guard(workers_->mutex);
    workers_->released = true;
  }
  workers_->answered.notify_all();
  for (QMessageBox* box : window_->findChildren<QMessageBox*>()) {
    if (box->property(kWorkerBoxProperty).toBool()) box->close();
  }
}

std::optional<std::string> QtView::chooseFile(const FileDialog& request) {
  applyPending();
  const std::optional<QString> chosen =
      ui::chooseFile(window_.get(), request, fromCp932(request.initialPath), fileDialogHook);
  if (!chosen) return std::nullopt;
  return toCp932(*chosen);
}

std::optional<std::string> QtView::askTitle(const std::string& current) {
  applyPending();
  const std::optional<QString> title =
      ui::askTitle(window_.get(), fromCp932(current), titleDialogHook);
  if (!title) return std::nullopt;
  return toCp932(*title);
}

void QtView::setCaption(const std::string& caption) {
  post([this, shown = fromCp932(caption)] { window_->setWindowTitle(shown); });
}

void QtView::endModal(int result) {
  post([this, result] {
    if (modalResult_) return;
    modalResult_ = result;
    releaseWaitingWorkers();
    // Hidden rather than closed: the close box's own close event may be what ends the run.
    window_->hide();
    Q_EMIT modalFinished(result);
  });
}

}  // namespace dravik::ui
