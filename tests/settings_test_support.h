// What the settings, start-up and access-log tests share.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <string>

#include "monitor_rig.h"
#include "platform/cp932.h"
#include "temp_dir.h"

namespace dravik::test {

inline const std::string kHeaderStart = cp932::fromUtf8("日付,時刻,接続元IPアドレス");

// Lets files grow only to `bytes`: a write past that is cut short by the system.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
  }
  void (*handler)(int);
  rlimit previous{};
};

}  // namespace dravik::test
