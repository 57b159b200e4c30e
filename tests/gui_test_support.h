// Helpers of the offscreen window tests: a session on a temporary program folder, loopback
// sockets, event pumping and pixel reads.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "fake_adapters.h"
#include "loopback_peer.h"
#include "monitor/controls.h"
#include "output/output_sender.h"
#include "temp_dir.h"
#include "ui/monitor_session.h"

// Failure messages show a QString as its text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace dravik::test {

inline QString u(const char* text) {
  return QString::fromUtf8(text);
}

// Runs the window's events until `done` holds or `timeout` passes; whether it held.
inline bool processUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Threads of this process right now, leaving out the workers of Qt's global thread pool: Qt
// starts and retires those with its own load, so their number differs from run to run. The
// monitor's threads keep the process's name.
inline int threadsBesidesQtPool() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != "Thread (pooled)") ++count;
  }
  return count;
}

// A test run once for each variant, named A and B.
class PerVariant : public testing::TestWithParam<const VariantProfile*> {
 protected:
  const VariantProfile& profile() const { return *GetParam(); }
};

inline std::string variantName(const testing::TestParamInfo<const VariantProfile*>& info) {
  return info.param->hasOutputs() ? "A" : "B";
}

// The colour in the middle of a control as it paints now.
inline QColor centreColour(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

// Whether any pixel of the control has this colour.
inline bool paints(QWidget* widget, const QColor& colour) {
  const QImage image = widget->grab().toImage();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == colour) return true;
    }
  }
  return false;
}

// A monitor window on a temporary program folder with one made-up adapter; message boxes are
// recorded instead of shown.
struct GuiRig {
  explicit GuiRig(const VariantProfile& profile, bool loopback = false) {
    adapters.tables = oneUsableAdapter();
    session = std::make_unique<ui::MonitorSession>(
        profile, adapters, profile.hasOutputs() ? &makeOutputSender : nullptr, folder.path(),
        folder.path());
    session->view().messageBoxHook = [this](const QString& text, const QString& caption) {
      boxes.push_back(text);
      captions.push_back(caption);
    };
    // No real modal may block a test: dialogs nobody scripted are counted and cancelled.
    session->view().fileDialogHook = [this](QFileDialog&) {
      ++unscriptedDialogs;
      return std::optional<QString>();
    };
    session->view().titleDialogHook = [this](QDialog& dialog) {
      ++unscriptedDialogs;
      dialog.reject();
    };
    if (loopback) session->monitor().overrideLocalAddress(htonl(INADDR_LOOPBACK));
  }
  ui::QtView& view() { return session->view(); }
  Monitor& monitor() { return session->monitor(); }
  template <typename T>
  T* widget(int id) {
    return qobject_cast<T*>(view().control(id));
  }

  TempDir folder;
  FakeAdapters adapters;
  std::unique_ptr<ui::MonitorSession> session;
  QStringList boxes;
  QStringList captions;
  int unscriptedDialogs = 0;
};

// Starts the rig's server on a free loopback port through the window's own button.
inline int startOnLoopback(GuiRig& rig) {
  const int port = freePort();
  rig.widget<QLineEdit>(kSlotControls[0].portEdit)->setText(QString::number(port));
  rig.widget<QPushButton>(ctl::kStartStop)->click();
  return port;
}

}  // namespace dravik::test
