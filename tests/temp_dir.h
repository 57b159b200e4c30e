// A fresh folder for temporary files, removed with its contents when the test ends, and file
// helpers.
#pragma once

#ifndef _WIN32
// The Linux tests also call the system's file calls beside these helpers.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <thread>

namespace dravik::test {

class TempDir {
 public:
  TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path(ignored_);
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path folder = base / ("dravik-test-" + std::to_string(random()));
      if (!std::filesystem::create_directory(folder, ignored_)) continue;
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored_);
      path_ = folder.string();
    }
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::error_code ignored_;
};

// The tests spell paths in UTF-8, which Windows would read in its ANSI code page.
inline std::filesystem::path utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

inline std::optional<std::string> readBytes(const std::string& path) {
  std::ifstream in(utf8Path(path), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string fileText(const std::string& path) {
  return readBytes(path).value_or("");
}
inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(utf8Path(path), std::ios::binary) << bytes;
}
inline std::size_t lineCount(const std::string& path) {
  return static_cast<std::size_t>(std::ranges::count(fileText(path), '\n'));
}

// True when `call` returns within `limit`. Otherwise a wait in opening the FIFO at `fifo` is
// let go by opening both its ends, so that the test still ends, and false.
inline bool returnsWithoutFifoPeer(const std::string& fifo, const std::function<void()>& call,
                                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  std::future<void> done = std::async(std::launch::async, call);
  if (done.wait_for(limit) == std::future_status::ready) return true;
  {
    // Opened for reading and writing, a FIFO does not wait for a peer.
    const std::fstream both(fifo, std::ios::in | std::ios::out);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  done.wait();
  return false;
}

}  // namespace dravik::test
