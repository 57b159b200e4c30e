#include "ui/qt_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "monitor/controls.h"
#include "platform/cp932.h"
#include "ui/text_limits.h"
#include "ui/window_template.h"

namespace dravik::ui {

namespace {

// Marks the message boxes shown for worker threads, so that closing can dismiss them.
constexpr const char* kWorkerBoxProperty = "dravikWorkerBox";
// The title dialog's typing limit in CP932 bytes.
constexpr int kTitleBytes = 50;
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
      programName_(latin(profile.programName)),
      workers_(std::make_shared<WorkerWait>()) {
  built_ = buildWindow(*window_, mainWindowTemplate(profile),
                       [this](int id) { return brushes_ ? brushes_(id) : Brush::Default; });
  if (QWidget* status = control(ctl::kStatusPanel)) status->setFont(statusFont());
  if (auto* pane = qobject_cast<QPlainTextEdit*>(control(ctl::kTracePane))) {
    pane->setMaximumBlockCount(kTraceLines);
  }
  qApp->installEventFilter(this);
}

QtView::~QtView() {
  qApp->removeEventFilter(this);
  releaseWaitingWorkers();
}

QWidget* QtView::control(int id) const {
  auto found = built_.byId.find(id);
  return found == built_.byId.end() ? nullptr : found->second;
}

bool QtView::Pending::empty() const {
  return controls.empty() && !clearTrace && trace.empty() && steps.empty();
}

void QtView::Pending::addTrace(const std::string& text) {
  if (text.empty()) return;
  // A lead byte could pair with the next trace's first byte, and "\r" then "\n" would become
  // one line end: shown one by one, they never joined.
  const auto last = static_cast<unsigned char>(text.back());
  trace.append(text, last == '\r' || cp932::isLeadByte(last));
}

std::optional<QtView::Change> QtView::Pending::take() {
  while (!controls.empty()) {
    const auto first = controls.begin();
    const int id = first->first;
    ControlUpdate& update = first->second;
    if (update.text) {
      Change change(Change::Kind::Text, id, std::move(*update.text));
      update.text.reset();
      return change;
    }
    for (auto [flag, kind] : {std::pair{&update.enabled, Change::Kind::Enabled},
                              std::pair{&update.checked, Change::Kind::Checked},
                              std::pair{&update.visible, Change::Kind::Visible}}) {
      if (*flag) {
        const bool on = **flag;
        flag->reset();
        return Change(kind, id, on);
      }
    }
    if (update.repaint) {
      update.repaint = false;
      return Change(Change::Kind::Repaint, id);
    }
    controls.erase(first);
  }
  if (clearTrace) {
    clearTrace = false;
    return Change(Change::Kind::ClearTrace);
  }
  if (!trace.empty()) return Change(Change::Kind::Trace, 0, trace.takePiece());
  if (!steps.empty()) {
    Change change(std::move(steps.front()));
    steps.pop_front();
    return change;
  }
  return std::nullopt;
}

template <typename Record>
bool QtView::fromWorker(const Record& record) {
  if (onWindowThread()) {
    applyPending();
    return false;
  }
  bool queue = false;
  {
    const std::lock_guard guard(pendingLock_);
    record(pending_);
    queue = !flushQueued_;
    flushQueued_ = true;
  }
  if (queue) {
    QMetaObject::invokeMethod(
        this, [this] { flushWorkerChanges(); }, Qt::QueuedConnection);
  }
  return true;
}

void QtView::applyPending() const {
  // A change may emit a signal whose handler calls back into the view: the nested call goes
  // on with the same batch, so every change is still applied once and in order.
  for (;;) {
    if (applying_.empty()) {
      const std::lock_guard guard(pendingLock_);
      if (pending_.empty()) return;
      std::swap(applying_, pending_);
    }
    if (std::optional<Change> change = applying_.take()) apply(*change);
  }
}

void QtView::flushWorkerChanges() const {
  {
    const std::lock_guard guard(pendingLock_);
    flushQueued_ = false;
    if (applying_.empty()) std::swap(applying_, pending_);
  }
  applyPending();
}

void QtView::apply(const Change& change) const {
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
  const std::lock_guard guard(pendingLock_);
  return pending_.controls.size();
}

void QtView::post(std::function<void()> call) {
  if (fromWorker([&call](Pending& pending) { pending.steps.push_back(std::move(call)); })) return;
  call();
}

void QtView::setText(int id, const std::string& text) {
  if (fromWorker([&](Pending& pending) { pending.controls[id].text = text; })) return;
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
  if (fromWorker([&](Pending& pending) { pending.controls[id].enabled = enabled; })) return;
  apply(Change(Change::Kind::Enabled, id, enabled));
}

void QtView::repaint(int id) {
  if (fromWorker([&](Pending& pending) { pending.controls[id].repaint = true; })) return;
  apply(Change(Change::Kind::Repaint, id));
}

bool QtView::isChecked(int id) const {
  applyPending();
  auto* button = qobject_cast<QAbstractButton*>(control(id));
  return button && button->isChecked();
}

void QtView::setChecked(int id, bool checked) {
  if (fromWorker([&](Pending& pending) { pending.controls[id].checked = checked; })) return;
  apply(Change(Change::Kind::Checked, id, checked));
}

void QtView::setVisible(int id, bool visible) {
  if (fromWorker([&](Pending& pending) { pending.controls[id].visible = visible; })) return;
  apply(Change(Change::Kind::Visible, id, visible));
}

void QtView::limitText(int id, int bytes) {
  post([this, id, bytes] {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id))) {
      edit->setValidator(new Cp932LimitValidator(bytes, edit));
    }
  });
}

void QtView::appendTrace(const std::string& text) {
  if (fromWorker([&](Pending& pending) { pending.addTrace(text); })) return;
  applyTrace(text);
}

void QtView::clearTrace() {
  const auto record = [](Pending& pending) {
    pending.trace.clear();
    pending.clearTrace = true;
  };
  if (fromWorker(record)) return;
  apply(Change(Change::Kind::ClearTrace));
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

QStringList QtView::qtFilters(std::string_view filter) {
  QStringList filters;
  const QStringList parts = latin(filter).split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    const QString patterns = parts[i + 1];
    if (name.isEmpty() && patterns.isEmpty()) break;
    // Qt reads the patterns from the name's own parentheses; ours replace them.
    const qsizetype open = name.lastIndexOf(QLatin1Char('('));
    if (open > 0 && name.endsWith(QLatin1Char(')'))) name = name.left(open).trimmed();
    QStringList globs;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString glob = pattern.trimmed();
      if (glob == QStringLiteral("*.*")) {
        globs << QStringLiteral("*");
        continue;
      }
      for (const QString& cased : {glob, glob.toUpper(), glob.toLower()}) {
        if (!globs.contains(cased)) globs << cased;
      }
    }
    filters << QStringLiteral("%1 (%2)").arg(name, globs.join(QLatin1Char(' ')));
  }
  return filters;
}

std::optional<std::string> QtView::chooseFile(const FileDialog& request) {
  applyPending();
  QFileDialog dialog(window_.get());
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(latin(request.defaultExtension));
  dialog.setNameFilters(qtFilters(request.filter));
  if (!request.initialPath.empty()) {
    const QFileInfo initial(fromCp932(request.initialPath));
    dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
  }
  std::optional<QString> chosen;
  if (fileDialogHook) {
    chosen = fileDialogHook(dialog);
  } else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    chosen = dialog.selectedFiles().first();
  }
  if (!chosen) return std::nullopt;
  return toCp932(*chosen);
}

std::optional<std::string> QtView::askTitle(const std::string& current) {
  applyPending();
  QDialog dialog(window_.get(), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const BuiltWindow parts = buildWindow(dialog, titleDialogTemplate(), {});
  auto* field = qobject_cast<QLineEdit*>(parts.byId.at(kTitleField));
  field->setText(fromCp932(current));
  field->setValidator(new Cp932LimitValidator(kTitleBytes, field));
  field->selectAll();
  field->setFocus();
  QObject::connect(qobject_cast<QPushButton*>(parts.byId.at(kOkButton)), &QPushButton::clicked,
                   &dialog, &QDialog::accept);
  QObject::connect(qobject_cast<QPushButton*>(parts.byId.at(kCancelButton)), &QPushButton::clicked,
                   &dialog, &QDialog::reject);
  if (titleDialogHook) {
    titleDialogHook(dialog);
  } else {
    dialog.exec();
  }
  if (dialog.result() != QDialog::Accepted) return std::nullopt;
  return toCp932(field->text());
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

bool QtView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != window_.get()) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
    Q_EMIT cancelRequested();
    return true;
  }
  // Enter stays an ordinary key of the focused control: a multi-line field gets its newline,
  // a line edit ignores it, and a button, which would take it as a click, never sees it.
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    return qobject_cast<QAbstractButton*>(widget) != nullptr;
  }
  return false;
}

}  // namespace dravik::ui
