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
// is renamed over it and synced with its folder, so a failed write never leaves the old
// content damaged and a saved one survives a power cut. A link is written through to its
// target, and the file keeps its permission bits. A file without write permission (or
// without any write bit, which binds root too) is refused. Where the folder takes no new
// file, a writable file is rewritten in place. False on any failure; the old file is then
// untouched and no temporary file remains.
bool replace(std::string_view path, std::string_view bytes);

// A file appended to and kept open between writes. Before each use the path is looked up
// again, so a file deleted, renamed or replaced since the last write, or another path, is
// opened (created when missing) afresh, just as if it were opened for every write.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Makes `path` the open file; false when it cannot be opened (nothing is open then).
  bool open(std::string_view path);
  // The open file's length in bytes as open() found it (a device reads as 0).
  long long size() const { return size_; }
  // Writes all of `bytes` at the end of the open file; false on failure. A write that fails
  // part way is taken back, so the file never keeps half of `bytes`, and the file is closed
  // so that the next use opens it afresh.
  bool append(std::string_view bytes);
  void close();

 private:
  int fd_ = -1;
  std::string path_;
  std::string fileName_;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
  long long size_ = 0;
};

}  // namespace dravik::textfile
