// What the settings, start-up and access-log tests share: a fresh folder per test, whole-file
// reads and writes, and a window that reports name edits the way the real one does.
#pragma once

#include <string>

#include "monitor_rig.h"
#include "platform/cp932.h"
#include "temp_dir.h"

namespace dravik::test {

// How every header line of the access log begins.
inline const std::string kHeaderStart = cp932::fromUtf8("日付,時刻,接続元IPアドレス");

// A monitor of one variant living in `directory`.
using Rig = MonitorRig;

}  // namespace dravik::test
