// The few file operations of the core. Paths are CP932 bytes, as the core keeps them; they
// are converted to UTF-8 (the file names of this system) here and nowhere else, so a folder
// named in Japanese works.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dravik::textfile {

// No settings file of ours comes near this size; a larger file is not one.
inline constexpr std::size_t kMaxFileBytes = 1 << 20;
// No startup configuration's first line (one path) comes near this length.
inline constexpr std::size_t kMaxFirstLineBytes = 64 << 10;

// Files are read only when they are regular files, opened without waiting: a FIFO or a
// device named in their place counts as a file that cannot be opened.

// The whole file as bytes; nothing when it cannot be opened or read, or holds more than
// kMaxFileBytes.
std::optional<std::string> readAll(std::string_view path);

// The first line without its line end (LF or CR LF); an empty first line is "". Nothing when
// the file cannot be opened or read, holds no byte at all, or its first line (with its line
// end) is longer than kMaxFirstLineBytes.
std::optional<std::string> readFirstLine(std::string_view path);

// Whether `path` is short enough to name a file at all: the system takes no path of PATH_MAX
// bytes or more.
bool fitsPathLimit(std::string_view path);

// Replaces the file's content with `bytes` through a temporary file in the same folder that
// is renamed over it and synced with its folder, so a failed write never leaves the old
// content damaged and a saved one survives a power cut. A link is written through to its
// target, and the file keeps its permission bits and group. A file without write permission
// (or without any write bit, which binds root too) is refused. A writable file is rewritten in
// place instead where the system refuses the temporary file or the rename for permission (a
// folder we may not write, a sticky folder), and where a new file would change what the
// operator set up: more than one hard link, another owner, a group we cannot give. That needs
// the file readable and at most kMaxFileBytes long. False on any failure; the old file is then
// whole and no temporary file remains (except in a folder that lets no name go).
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

  // Makes `path` the open file; false when it cannot be opened (nothing is open then). Opening
  // never waits: only a regular file or a character device (/dev/null) is taken, never a
  // FIFO, which would block until some reader came.
  bool open(std::string_view path);
  // The open file's length in bytes as open() found it (a device reads as 0).
  long long size() const { return size_; }
  // Writes all of `bytes` at the end of the open file; false on failure. A write that fails
  // part way is taken back, so the file never keeps half of `bytes`, and the file is closed
  // so that the next use opens it afresh.
  bool append(std::string_view bytes);
  void close();

  // What opens the file: open(2), unless a test puts in a stand-in with the same contract to
  // hold a writer inside it. Returns the one it replaces.
  using OpenFunction = int (*)(const char* name, int flags, unsigned mode);
  static OpenFunction replaceOpenFunction(OpenFunction open);

 private:
  int fd_ = -1;
  std::string path_;
  std::string fileName_;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
  long long size_ = 0;
};

}  // namespace dravik::textfile
