#include "ui/monitor_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>

#include "monitor/brush.h"
#include "monitor/controls.h"
#include "monitor/window_profile.h"

namespace dravik::ui {

namespace {

const VersionNumbers kVersion{DRAVIK_VERSION_NUMBERS};

}  // namespace

MonitorSession::MonitorSession(const VariantProfile& profile, AdapterProvider& adapters,
                               OutputFactory makeOutput, std::string configDirectory,
                               std::string dataDirectory)
    : view_(profile),
      monitor_(profile, view_, adapters, makeOutput, std::move(configDirectory),
               std::move(dataDirectory), kVersion) {
  view_.setBrushSource(
      [this](int id) { return brushFor(monitor_.profile(), monitor_.state(), id); });
  connectNotifications();
}

MonitorSession::~MonitorSession() {
  finish();
}

void MonitorSession::connectNotifications() {
  const auto onClick = [this](int id, auto handler) {
    if (auto* button = qobject_cast<QPushButton*>(view_.control(id))) {
      QObject::connect(button, &QPushButton::clicked, &view_, handler);
    }
  };
  onClick(ctl::kStartStop, [this] { monitor_.startStop(); });
  onClick(ctl::kLoadButton, [this] { monitor_.loadSettings(); });
  onClick(ctl::kSaveButton, [this] { monitor_.saveSettings(); });
  onClick(ctl::kTitleBarButton, [this] { monitor_.changeTitleBar(); });
  onClick(ctl::kBrowseLog, [this] { monitor_.browseLogFile(); });
  const WindowProfile& window = windowProfile(monitor_.profile());
  for (int i = 0; i < static_cast<int>(window.outputs.size()); ++i) {
    onClick(window.outputs[i].button, [this, i] { monitor_.toggleDigitalOut(i); });
  }

  const auto onNameChange = [this](int id) {
    if (auto* edit = qobject_cast<QLineEdit*>(view_.control(id))) {
      QObject::connect(edit, &QLineEdit::textChanged, &view_,
                       [this] { monitor_.onSignalNameChanged(); });
    }
  };
  for (const InputRow& row : window.inputs) onNameChange(row.nameEdit);
  for (const OutputRow& row : window.outputs) onNameChange(row.nameEdit);

  if (auto* combo = qobject_cast<QComboBox*>(view_.control(ctl::kAdapterCombo))) {
    QObject::connect(combo, &QComboBox::currentIndexChanged, &view_,
                     [this] { monitor_.selectAdapter(); });
  }
  if (auto* logging = qobject_cast<QCheckBox*>(view_.control(ctl::kLogging))) {
    QObject::connect(logging, &QCheckBox::toggled, &view_, [this] { monitor_.onLoggingToggled(); });
  }
  QObject::connect(&view_, &QtView::closeRequested, &view_, [this] { monitor_.onClose(); });
  QObject::connect(&view_, &QtView::cancelRequested, &view_,
                   [this] { view_.endModal(kCancelResult); });
}

bool MonitorSession::start() {
  if (!monitor_.initDialog()) {
    finish();
    return false;
  }
  view_.window().show();
  return true;
}

int MonitorSession::run() {
  if (!view_.modalEnded()) {
    QEventLoop loop;
    QObject::connect(&view_, &QtView::modalFinished, &loop, &QEventLoop::quit);
    loop.exec();
  }
  finish();
  return view_.modalResult().value_or(0);
}

void MonitorSession::close() {
  view_.window().close();
  for (QDialog* dialog : view_.window().findChildren<QDialog*>()) dialog->reject();
}

void MonitorSession::finish() {
  view_.releaseWaitingWorkers();
  monitor_.shutdown();
}

}  // namespace dravik::ui
