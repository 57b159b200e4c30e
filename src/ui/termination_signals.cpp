#include "ui/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace dravik::ui {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's ends; the handler reads the write end, so it is set before any handler is.
int readEnd = -1;
volatile std::sig_atomic_t writeEnd = -1;

void setAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

// Only async-signal-safe calls: sigaction, write.
void onSignal(int) {
  const int saved = errno;
  setAction(SIG_DFL);
  const char byte = 1;
  const ssize_t written = ::write(writeEnd, &byte, 1);
  static_cast<void>(written);
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals() {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
  readEnd = ends[0];
  writeEnd = ends[1];
  notifier_ = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(readEnd, bytes, sizeof bytes) > 0) {
    }
    Q_EMIT received();
  });
  setAction(&onSignal);
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  setAction(SIG_DFL);
  notifier_.reset();
  ::close(readEnd);
  ::close(writeEnd);
  readEnd = -1;
  writeEnd = -1;
}

}  // namespace dravik::ui
