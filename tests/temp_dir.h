// A new empty folder under /tmp, removed with everything in it when the test ends, and the
// look at files the tests need.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

namespace dravik::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/dravik-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The file's bytes (the path is a file name of this system, UTF-8); nothing when unreadable.
inline std::optional<std::string> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file's whole content; empty when it cannot be read.
inline std::string fileText(const std::string& path) {
  return readBytes(path).value_or("");
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Line ends in a file.
inline std::size_t lineCount(const std::string& path) {
  const std::string text = fileText(path);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace dravik::test
