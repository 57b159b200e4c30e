// The few file operations of the core. Paths are CP932 bytes, as the core keeps them; they
// are converted to UTF-8 (the file names of this system) here and nowhere else, so a folder
// named in Japanese works.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dravik::textfile {

// The whole file as bytes; nothing when it cannot be opened or read.
std::optional<std::string> readAll(std::string_view path);

// The first line without its line end (LF or CR LF); an empty first line is "". Nothing when
// the file cannot be opened or holds no byte at all.
std::optional<std::string> readFirstLine(std::string_view path);

// Replaces the file's content with `bytes` through a temporary file in the same folder that
// is renamed over it, so a failed write never leaves the old content damaged. False on any
// failure; the old file is then untouched and no temporary file remains.
bool replace(std::string_view path, std::string_view bytes);

// A file opened for appending (created when missing) for one write, then closed: the
// access log never holds its file open between lines.
class AppendFile {
 public:
  explicit AppendFile(std::string_view path);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // True when the file holds no byte (a new file, or one emptied by someone else).
  bool isEmpty() const;
  // Writes all of `bytes` at the end and closes; false when either failed. A write that
  // fails part way is taken back, so the file never keeps half of `bytes`.
  bool writeAndClose(std::string_view bytes);

 private:
  int fd_ = -1;
};

}  // namespace dravik::textfile
