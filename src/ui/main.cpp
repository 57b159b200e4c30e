// DRAVIK_A and DRAVIK_B: one window, run until it is closed, then every worker joined.
#include <QApplication>
#include <QIcon>

#include "monitor/program_variant.h"
#include "monitor/window_profile.h"
#include "platform/adapter_provider_linux.h"
#include "platform/program_directory.h"
#include "ui/monitor_session.h"
#include "ui/termination_signals.h"
#include "ui/window_builder.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A session logging out or a service manager stopping the program closes the window.
  dravik::ui::TerminationSignals termination;
  const std::string_view programName = dravik::windowProfile(dravik::kProgramProfile).programName;
  const QString name =
      QString::fromUtf8(programName.data(), static_cast<qsizetype>(programName.size()));
  QApplication::setApplicationName(name);
  QApplication::setFont(dravik::ui::dialogFont());
  const QIcon icon(QStringLiteral(":/icons/%1.png").arg(name));
  QApplication::setWindowIcon(icon);

  dravik::LinuxAdapterProvider adapters;
  const dravik::FileFolders folders = dravik::fileFolders(dravik::programDirectory());
  dravik::ui::MonitorSession session(dravik::kProgramProfile, adapters,
                                     dravik::programOutputFactory(), folders.config, folders.data);
  session.view().window().setWindowIcon(icon);
  QObject::connect(&termination, &dravik::ui::TerminationSignals::received, &session.view(),
                   [&session] { session.close(); });
  if (session.start()) session.run();
  return 0;
}
