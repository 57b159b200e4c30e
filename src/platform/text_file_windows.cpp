#include "platform/text_file.h"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdint>

#include "platform/utf16.h"

namespace dravik::textfile {
namespace {

// Every file is opened sharing everything, so that the operator, a spreadsheet or another save
// may read, replace, rename or delete it meanwhile, as on Linux.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a save carries over from the file it replaces; read-only is refused before.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Closes the handle it holds when it goes.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::wstring fileName(std::string_view path) {
  return cp932::toUtf16(path);
}

// The device name `path` ends in, upper case, or "" for a file name. Windows keeps CON, PRN,
// AUX, NUL, COM0-9 and LPT0-9 (the digits also superscript) as devices in every folder, with
// any extension and trailing spaces ("nul.txt", "COM1 "); \\.\ names a device by itself.
std::wstring deviceName(const std::wstring& path) {
  if (path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') && path[1] == path[0] &&
      path[2] == L'.' && (path[3] == L'\\' || path[3] == L'/')) {
    return path.substr(4);
  }
  const std::size_t start = path.find_last_of(L"\\/:");
  std::wstring base = path.substr(start == std::wstring::npos ? 0 : start + 1);
  base = base.substr(0, base.find_first_of(L".:"));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c;
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$") {
    return base;
  }
  const bool numbered = base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT"));
  const wchar_t digit = numbered ? base[3] : L'\0';
  if ((digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
      digit == L'\u00B3') {
    return base;
  }
  return L"";
}

// Opens an existing file for reading: only one on a disk, never a device or a pipe, which
// could keep a read waiting for ever.
HANDLE openToRead(const std::wstring& name) {
  if (!deviceName(name).empty()) return INVALID_HANDLE_VALUE;
  const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool writeAll(HANDLE file, std::string_view bytes, OVERLAPPED* atEnd = nullptr) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, atEnd) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Reads from `file` until the end, or until `stopAtLineEnd` and a LF has been read; nothing
// when more than `limit` bytes come first.
std::optional<std::string> readFrom(HANDLE file, bool stopAtLineEnd, std::size_t limit) {
  std::string content;
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) return std::nullopt;
    if (n == 0) return content;
    const std::size_t before = content.size();
    content.append(buffer, n);
    const std::size_t lineEnd = stopAtLineEnd ? content.find('\n', before) : std::string::npos;
    // The bytes that count: the first line with its line end, or all read so far.
    const std::size_t counted = lineEnd == std::string::npos ? content.size() : lineEnd + 1;
    if (counted > limit) return std::nullopt;
    if (lineEnd != std::string::npos) return content;
  }
}

std::optional<std::string> readFile(std::string_view path, bool stopAtLineEnd, std::size_t limit) {
  const Handle file(openToRead(fileName(path)));
  if (!file.valid()) return std::nullopt;
  return readFrom(file.get(), stopAtLineEnd, limit);
}

// The file a name leads to, looked at without opening its content.
struct Existing {
  bool exists = false;
  bool savable = false;
  // The name after every link, so that a save writes through them.
  std::wstring finalName;
  DWORD attributes = 0;
  DWORD links = 0;
  // The file's own access list, carried over to its replacement.
  PSECURITY_DESCRIPTOR security = nullptr;
  PACL dacl = nullptr;
  bool daclProtected = false;
  ~Existing() { ::LocalFree(security); }
};

void inspect(const std::wstring& name, Existing& existing) {
  const Handle file(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return;
  existing.exists = true;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    // No file, or one the operator made read-only.
    return;
  }
  existing.savable = true;
  existing.attributes = info.dwFileAttributes;
  existing.links = info.nNumberOfLinks;
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(file.get(), resolved.data(),
                                             static_cast<DWORD>(resolved.size()), 0);
  if (length >= resolved.size()) {
    resolved.resize(length);
    length = ::GetFinalPathNameByHandleW(file.get(), resolved.data(),
                                         static_cast<DWORD>(resolved.size()), 0);
  }
  existing.finalName = length > 0 && length < resolved.size() ? resolved.substr(0, length) : name;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &existing.dacl, nullptr, &existing.security) == ERROR_SUCCESS &&
      ::GetSecurityDescriptorControl(existing.security, &control, &revision)) {
    existing.daclProtected = (control & SE_DACL_PROTECTED) != 0;
  }
}

// The folder part of `name` with its trailing separator; "" for a bare name.
std::wstring folderOf(const std::wstring& name) {
  const std::size_t separator = name.find_last_of(L"\\/");
  return separator == std::wstring::npos ? L"" : name.substr(0, separator + 1);
}

// A name beside `target` that no other save of this process uses at the same time.
std::wstring temporaryNameFor(const std::wstring& target) {
  static std::atomic<unsigned> counter{0};
  const std::wstring folder = folderOf(target);
  return folder + L"." + target.substr(folder.size()) + L"." +
         std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(counter.fetch_add(1)) +
         L".tmp";
}

// Rewrites `target` where it stands, for a file that cannot be replaced by another: not safe
// against a crash half way, but the only way to save there at all.
bool rewriteInPlace(const std::wstring& target, std::string_view bytes) {
  const Handle file(::CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  return writeAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
}

// The new content in a fresh file beside `target`, flushed, with the attributes and access
// list of `existing`; "" on failure (no file is left then). `refused` tells a folder that
// takes no new file.
std::wstring writeTemporary(const std::wstring& target, const Existing& existing,
                            std::string_view bytes, bool& refused) {
  std::wstring temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  // Another program may hold a leftover of the same name: try a few more.
  for (int attempt = 0; attempt < 16 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = temporaryNameFor(target);
    created = ::CreateFileW(temporary.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
      refused = true;
      return L"";
    }
  }
  if (created == INVALID_HANDLE_VALUE) return L"";
  bool ok;
  {
    const Handle file(created);
    ok = existing.dacl == nullptr ||
         ::SetSecurityInfo(file.get(), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION |
                               (existing.daclProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION),
                           nullptr, nullptr, existing.dacl, nullptr) == ERROR_SUCCESS;
    ok = ok && writeAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
  }
  const DWORD kept = existing.attributes & kKeptAttributes;
  ok = ok && (kept == 0 || ::SetFileAttributesW(temporary.c_str(), kept));
  if (ok) return temporary;
  ::DeleteFileW(temporary.c_str());
  return L"";
}

int openFile(const char* name, int flags, unsigned mode) {
  (void)flags;
  (void)mode;
  // GENERIC_WRITE rather than FILE_APPEND_DATA alone, so that a failed write can be taken back;
  // every write goes to the end through its offset instead.
  const HANDLE file = ::CreateFileW(fileName(name).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) ::CloseHandle(file);
  return fd;
}

std::atomic<AppendFile::OpenFunction> openFunction{&openFile};

HANDLE osHandle(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The volume and index of the file `name` leads to now; false when there is none.
bool identify(const std::wstring& name, unsigned long long& volume, unsigned long long& index,
              long long& size) {
  const Handle file(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return false;
  volume = info.dwVolumeSerialNumber;
  index = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  size = static_cast<long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
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
  // Windows takes paths shorter than MAX_PATH UTF-16 units. A CP932 character is one unit of one
  // or two bytes, so the bytes alone decide most paths without converting them.
  if (path.size() < MAX_PATH) return true;
  if (path.size() >= 2 * MAX_PATH) return false;
  return fileName(path).size() < MAX_PATH;
}

bool replace(std::string_view path, std::string_view bytes) {
  const std::wstring name = fileName(path);
  if (!deviceName(name).empty()) return false;
  Existing existing;
  inspect(name, existing);
  if (existing.exists && !existing.savable) return false;
  const std::wstring target = existing.exists ? existing.finalName : name;
  // A second name of the file keeps seeing the settings only when they go into the file itself.
  if (existing.links > 1) return rewriteInPlace(target, bytes);

  bool refused = false;
  const std::wstring temporary = writeTemporary(target, existing, bytes, refused);
  if (temporary.empty()) return refused && existing.exists && rewriteInPlace(target, bytes);
  if (::MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  ::DeleteFileW(temporary.c_str());
  // Windows refuses to replace a file some program holds open (a spreadsheet, an editor); one
  // that shares writing still takes the new content in place.
  const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                    error == ERROR_LOCK_VIOLATION;
  return held && existing.exists && rewriteInPlace(target, bytes);
}

AppendFile::~AppendFile() {
  close();
}

bool AppendFile::open(std::string_view path) {
  if (fd_ >= 0 && path == path_) {
    // Still the open file when the name leads to the same file; otherwise the file was deleted,
    // renamed or replaced, and the name is opened again (and created if missing). The null
    // device has no identity and stays what it is.
    unsigned long long volume = 0, index = 0;
    long long size = 0;
    if (device_ == 0 && inode_ == 0) return true;
    if (identify(fileName(path), volume, index, size) && volume == device_ && index == inode_) {
      size_ = size;
      return true;
    }
  }
  close();
  // The one device a log may go to is NUL, Windows' /dev/null; any other could keep a write
  // waiting for ever.
  const std::wstring device = deviceName(fileName(path));
  if (!device.empty() && device != L"NUL") return false;
  path_ = path;
  fileName_ = path;
  fd_ = openFunction.load()(fileName_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_BINARY, 0666);
  const HANDLE file = fd_ >= 0 ? osHandle(fd_) : INVALID_HANDLE_VALUE;
  const DWORD type = file != INVALID_HANDLE_VALUE ? ::GetFileType(file) : FILE_TYPE_UNKNOWN;
  BY_HANDLE_FILE_INFORMATION info{};
  if (type == FILE_TYPE_CHAR && device == L"NUL") {
    device_ = inode_ = 0;
    size_ = 0;
    return true;
  }
  if (type != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info)) {
    close();
    return false;
  }
  device_ = info.dwVolumeSerialNumber;
  inode_ = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  size_ = static_cast<long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
}

bool AppendFile::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  const HANDLE file = osHandle(fd_);
  std::size_t written = 0;
  while (written < bytes.size()) {
    // This offset writes at the end of the file, whatever else wrote there meanwhile.
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD n = 0;
    const std::size_t left = bytes.size() - written;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!::WriteFile(file, bytes.data() + written, chunk, &n, &atEnd) || n == 0) break;
    written += n;
  }
  if (written == bytes.size()) return true;
  // Take back what part of the record reached the file (the caller lets one writer at a time
  // use this log). The failure is reported whether or not this succeeds.
  LARGE_INTEGER end{};
  if (written > 0 && ::GetFileSizeEx(file, &end) &&
      end.QuadPart >= static_cast<long long>(written)) {
    FILE_END_OF_FILE_INFO shorter{};
    shorter.EndOfFile.QuadPart = end.QuadPart - static_cast<long long>(written);
    ::SetFileInformationByHandle(file, FileEndOfFileInfo, &shorter, sizeof shorter);
  }
  close();
  return false;
}

AppendFile::OpenFunction AppendFile::replaceOpenFunction(OpenFunction open) {
  return openFunction.exchange(open);
}

void AppendFile::close() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
  path_.clear();
  fileName_.clear();
}

}  // namespace dravik::textfile
