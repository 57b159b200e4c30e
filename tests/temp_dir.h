// A fresh folder under /tmp, removed with its contents when the test ends, and file helpers.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace dravik::test {

class TempDir {
 public:
  TempDir() : path_(::mkdtemp(pattern_) ? pattern_ : "") {}
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  const std::string& path() const { return path_; }

 private:
  char pattern_[24] = "/tmp/dravik-test-XXXXXX";
  std::string path_;
  std::error_code ignored_;
};

inline std::optional<std::string> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string fileText(const std::string& path) {
  return readBytes(path).value_or("");
}
inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
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
  const int both = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (both >= 0) ::close(both);
  done.wait();
  return false;
}

}  // namespace dravik::test
