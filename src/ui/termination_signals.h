// SIGTERM, SIGINT and SIGHUP brought to the window's thread as a Qt signal: the handler only
// writes a byte into a pipe that a QSocketNotifier watches, so nothing of Qt or the monitor
// ever runs inside it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace dravik::ui {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Catches the three signals from now on. The first one caught puts all three back to their
  // default action, so a second one during the shutdown it starts ends the process at once.
  TerminationSignals();
  // Gives the three signals back their default action.
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 Q_SIGNALS:
  // One of the three signals arrived; emitted on the thread that made this object.
  void received();

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace dravik::ui
