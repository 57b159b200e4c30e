#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>

#include "fake_adapters.h"
#include "loopback_peer.h"
#include "monitor/controls.h"
#include "output/output_sender.h"
#include "temp_dir.h"
#include "ui/monitor_session.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace dravik::test {

inline constexpr auto u = [](const char* text) { return QString::fromUtf8(text); };

inline bool processUntil(std::function<bool()> done, std::chrono::milliseconds limit = 10s) {
  return eventually([&] { return QApplication::processEvents(QEventLoop::AllEvents, 5), done(); },
                    limit);
}

// Qt's pool threads come and go with its own load; the monitor's keep the process's name.
inline int threadsBesidesQtPool() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(entry.path() / "comm"), name);
    count += name != "Thread (pooled)";
  }
  return count;
}

inline QColor centreColour(QWidget* widget) {
  return widget->grab().toImage().pixelColor(widget->width() / 2, widget->height() / 2);
}

inline bool paints(QWidget* widget, const QColor& colour) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
  return std::count(pixels, pixels + image.width() * image.height(), colour.rgb()) > 0;
}

inline std::string variantName(const testing::TestParamInfo<const VariantProfile*>& info) {
  return info.param->hasOutputs() ? "A" : "B";
}

struct GuiRig {
  explicit GuiRig(const VariantProfile& profile) {
    adapters.tables = oneUsableAdapter();
    session = std::make_unique<ui::MonitorSession>(
        profile, adapters, profile.hasOutputs() ? &makeOutputSender : nullptr, folder.path(),
        folder.path());
    view().messageBoxHook = [this](const QString& text, const QString& caption) {
      boxes.push_back(caption + u(": ") + text);
    };
    view().fileDialogHook = [](QFileDialog&) { return std::optional<QString>(); };
    view().titleDialogHook = [](QDialog& dialog) { dialog.reject(); };
    monitor().overrideLocalAddress(kLoopback);
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
};

inline int startOnLoopback(GuiRig& rig) {
  const int port = freePort();
  rig.widget<QLineEdit>(kSlotControls[0].portEdit)->setText(QString::number(port));
  rig.widget<QPushButton>(ctl::kStartStop)->click();
  return port;
}

}  // namespace dravik::test
