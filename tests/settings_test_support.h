// What the settings, start-up and access-log tests share.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <string>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor_rig.h"
#include "platform/cp932.h"
#include "temp_dir.h"

namespace dravik::test {

using Lines = std::vector<std::string>;
inline const std::string kHeaderStart = cp932::fromUtf8("日付,時刻,接続元IPアドレス");

// Answers the next file dialog with `path`, then presses the button of `press`.
inline void choose(MonitorRig& r, const std::optional<std::string>& path,
                   void (Monitor::*press)()) {
  r.view.answerFileDialog(path);
  (r.monitor.*press)();
}
inline void retitle(MonitorRig& r, const std::string& title) {
  r.view.answerTitleDialog(title);
  r.monitor.changeTitleBar();
}

#ifndef _WIN32
// Lets files grow only to `bytes`: a write past that is cut short by the system, not a signal.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit limited{bytes, previous.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous); }
  rlimit previous{};
};
#endif

}  // namespace dravik::test
