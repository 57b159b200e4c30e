#include "platform/text_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/cp932.h"

namespace dravik::textfile {
namespace {

std::string fileName(std::string_view path) {
  return cp932::toUtf8(path);
}

// Writes `bytes` from the file's start, going on after a short write; how many were written
// before the first error (all of them on success).
std::size_t writeFromStart(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + written, bytes.size() - written, static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  return written;
}

// Reads from `fd` until the end, or until `stopAtLineEnd` and a LF has been read; nothing
// when more than `limit` bytes come first.
std::optional<std::string> readFrom(int fd, bool stopAtLineEnd, std::size_t limit) {
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    const std::size_t before = content.size();
    content.append(buffer, static_cast<std::size_t>(n));
    const std::size_t lineEnd = stopAtLineEnd ? content.find('\n', before) : std::string::npos;
    // The bytes that count: the first line with its line end, or all read so far.
    const std::size_t counted = lineEnd == std::string::npos ? content.size() : lineEnd + 1;
    if (counted > limit) return std::nullopt;
    if (lineEnd != std::string::npos) return content;
  }
}

std::optional<std::string> readFile(std::string_view path, bool stopAtLineEnd, std::size_t limit) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
  const int fd = ::open(fileName(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat opened {};
  std::optional<std::string> content;
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
    content = readFrom(fd, stopAtLineEnd, limit);
  }
  ::close(fd);
  return content;
}

// The folder part of `path` with its trailing "/"; "" for a bare name.
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

int openFile(const char* name, int flags, unsigned mode) {
  return ::open(name, flags, mode);
}

std::atomic<AppendFile::OpenFunction> openFunction{&openFile};

// A name beside `target` that no other save of this process uses at the same time.
std::string temporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = folderOf(target);
  const std::string base = target.substr(folder.size());
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()),
                counter.fetch_add(1));
  return folder + "." + base + suffix;
}

// Makes a rename in `folder` survive a power cut; a file system that cannot sync a folder
// (EINVAL) keeps its renames by other means.
bool syncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  ::close(fd);
  return synced;
}

// Whether the system refused an operation for want of permission rather than of room or health.
bool refusedForPermission(int error) {
  return error == EACCES || error == EPERM;
}

// Rewrites `target` where it stands, keeping its inode and so its links, owner, group and mode.
// A crash half way can leave it damaged, so this serves only saves the rename cannot make or
// would change the file's set-up. The new bytes go over the old ones before the file is cut to
// their length, and a failure puts back the old bytes it overwrote: a full disk or a size limit
// leaves the old settings whole.
bool rewriteInPlace(const std::string& target, std::string_view bytes) {
  const int fd = ::open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened {};
  std::optional<std::string> old;
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
    old = readFrom(fd, false, kMaxFileBytes);
  }
  const std::size_t written = old ? writeFromStart(fd, bytes) : 0;
  bool ok = old && written == bytes.size() &&
            ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
  if (old && !ok) {
    // Whether the old bytes went back or not, the save failed and says so.
    const std::string_view overwritten = std::string_view(*old).substr(0, written);
    [[maybe_unused]] const bool restored = writeFromStart(fd, overwritten) == overwritten.size() &&
                                           ::ftruncate(fd, static_cast<off_t>(old->size())) == 0 &&
                                           ::fsync(fd) == 0;
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

std::optional<std::string> readAll(std::string_view path) {
  return readFile(path, false, kMaxFileBytes);
}

std::optional<std::string> readFirstLine(std::string_view path) {
  std::optional<std::string> content = readFile(path, true, kMaxFirstLineBytes);
  if (!content || content->empty()) return std::nullopt;
  std::string line = content->substr(0, content->find('\n'));
  if (line.size() < content->size() && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool fitsPathLimit(std::string_view path) {
  // The name on disk is never shorter than the CP932 bytes; those are looked at first so that
  // a path of megabytes is not converted.
  return path.size() < PATH_MAX && fileName(path).size() < PATH_MAX;
}

bool replace(std::string_view path, std::string_view bytes) {
  std::string target = fileName(path);
  // A link is written through: its target gets the new content, the link stays.
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, error);
  if (!error) target = resolved.string();

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && (!S_ISREG(existing.st_mode) || ::access(target.c_str(), W_OK) != 0 ||
                 (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)) {
    // Made read-only by the operator (a mode without write bits binds root too), or no file.
    return false;
  }

  // A new file in its place would leave the old content under the file's other names, or
  // belong to us rather than to the file's owner.
  if (exists && (existing.st_nlink > 1 || existing.st_uid != ::geteuid())) {
    return rewriteInPlace(target, bytes);
  }

  std::string temporary;
  int fd = -1;
  // Another program may hold a leftover of the same name: try a few more.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = temporaryNameFor(target);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      return exists && refusedForPermission(errno) && rewriteInPlace(target, bytes);
    }
  }
  if (fd < 0) return false;
  // The new file takes the old one's group first (a change of group may clear mode bits); one
  // we are no member of cannot be given, and the old file is then rewritten instead.
  if (exists && ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) != 0) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return rewriteInPlace(target, bytes);
  }
  bool ok = !exists || ::fchmod(fd, existing.st_mode & 07777) == 0;
  ok = ok && writeFromStart(fd, bytes) == bytes.size();
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) {
    return syncFolder(folderOf(target));
  }
  const int renameError = errno;
  ::unlink(temporary.c_str());
  return ok && exists && refusedForPermission(renameError) && rewriteInPlace(target, bytes);
}

AppendFile::~AppendFile() {
  close();
}

bool AppendFile::open(std::string_view path) {
  if (fd_ >= 0 && path == path_) {
    // Still the open file when the name leads to the same inode; otherwise the file was
    // deleted, renamed or replaced, and the name is opened again (and created if missing).
    struct stat named {};
    if (::stat(fileName_.c_str(), &named) == 0 && named.st_dev == device_ &&
        named.st_ino == inode_) {
      size_ = named.st_size;
      return true;
    }
  }
  close();
  path_ = path;
  fileName_ = fileName(path);
  // O_NONBLOCK: a FIFO with no reader fails at once, one with a reader is refused below. A
  // regular file ignores the flag; a character device then never holds up a receiver.
  fd_ = openFunction.load()(
      fileName_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  struct stat opened {};
  if (fd_ < 0 || ::fstat(fd_, &opened) != 0 ||
      !(S_ISREG(opened.st_mode) || S_ISCHR(opened.st_mode))) {
    close();
    return false;
  }
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  size_ = opened.st_size;
  return true;
}

bool AppendFile::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  if (written == bytes.size()) return true;
  // Take back what part of the record reached the file: with O_APPEND the offset is now
  // just past it (the caller lets one writer at a time use this log). The failure
  // is reported whether or not this succeeds; a device or pipe has nothing to take back.
  const off_t end = written > 0 ? ::lseek(fd_, 0, SEEK_CUR) : -1;
  if (end >= static_cast<off_t>(written)) {
    [[maybe_unused]] const bool takenBack =
        ::ftruncate(fd_, end - static_cast<off_t>(written)) == 0;
  }
  close();
  return false;
}

AppendFile::OpenFunction AppendFile::replaceOpenFunction(OpenFunction open) {
  return openFunction.exchange(open);
}

void AppendFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  fileName_.clear();
}

}  // namespace dravik::textfile
