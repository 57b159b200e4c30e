// DRAVIK_A and DRAVIK_B on Windows: one modal dialog, run until it is closed, then every worker
// joined.
#include <windows.h>

#include <commctrl.h>

#include "monitor/program_variant.h"
#include "platform/adapter_provider_windows.h"
#include "platform/program_directory.h"
#include "platform/socket.h"
#include "win32/monitor_session.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The socket library starts once, before any socket. A failure is not looked at here: each
  // socket operation then reports its own error where the window shows it.
  dravik::sock::startUp();
  // The version 6 controls the manifest asks for, drawn in the system's visual style.
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  dravik::WindowsAdapterProvider adapters;
  const dravik::FileFolders folders = dravik::fileFolders(dravik::programDirectory());
  dravik::win32::MonitorSession session(dravik::kProgramProfile, adapters,
                                        dravik::programOutputFactory(), folders.config,
                                        folders.data);
  session.run();
  return 0;
}
