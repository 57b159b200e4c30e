// What the settings, start-up and access-log tests share: a fresh folder per test, whole-file
// reads and writes, and a window that reports name edits the way the real one does.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "monitor_rig.h"
#include "platform/cp932.h"
#include "temp_dir.h"

namespace dravik::test {

// The file's bytes (the path is a file name of this system, UTF-8); nothing when unreadable.
inline std::optional<std::string> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// How every header line of the access log begins.
inline const std::string kHeaderStart = cp932::fromUtf8("日付,時刻,接続元IPアドレス");

// A monitor of one variant living in `directory`.
using Rig = MonitorRig;

}  // namespace dravik::test
