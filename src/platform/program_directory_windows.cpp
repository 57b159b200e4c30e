#include "platform/program_directory.h"

#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/utf16.h"

namespace dravik {

namespace {

constexpr const char* kFolderName = "\\dravik";

// "C:\..." or "C:/...", or a network path "\\server\...".
bool isAbsolute(const std::string& path) {
  const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool network =
      path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && path[1] == path[0];
  return drive || network;
}

std::string perUserFolder(const std::string& value, const std::string& home,
                          const char* underHome) {
  if (isAbsolute(value)) return value + kFolderName;
  return home + underHome + kFolderName;
}

std::string environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value ? cp932::fromUtf16(value) : std::string();
}

// The user's profile folder as the account knows it, for a program started without
// USERPROFILE.
std::string profileFolder() {
  wchar_t* path = nullptr;
  std::string folder;
  if (::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &path) == S_OK) {
    folder = cp932::fromUtf16(path);
  }
  ::CoTaskMemFree(path);
  return folder;
}

// Whether this user may make files in `folder`: Windows grants that by access lists that only
// an attempt tells reliably; the file made is gone again when it is closed.
bool writable(const std::wstring& folder) {
  static std::atomic<unsigned> counter{0};
  const std::wstring probe = folder + L"\\.dravik-" + std::to_wstring(::GetCurrentProcessId()) +
                             L"-" + std::to_wstring(counter.fetch_add(1)) + L".tmp";
  const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

// mkdir -p; the folders under the user's profile are private to the user by inheritance.
void makeFolders(const std::filesystem::path& folder) {
  std::error_code error;
  if (std::filesystem::is_directory(folder, error) || folder == folder.parent_path()) return;
  makeFolders(folder.parent_path());
  ::CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

char pathSeparator() {
  return '\\';
}

std::string programDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ".";
  // A program in a drive's root keeps the separator: "C:" alone is the drive's current folder.
  const bool root = separator == 2 && path[1] == L':';
  return cp932::fromUtf16(path.substr(0, root ? separator + 1 : separator));
}

FileFolders chooseFileFolders(const std::string& programFolder, bool writable,
                              const UserEnvironment& user) {
  if (writable) return {programFolder, programFolder};
  return {perUserFolder(user.configHome, user.home, "\\AppData\\Roaming"),
          perUserFolder(user.dataHome, user.home, "\\AppData\\Local")};
}

FileFolders fileFolders(const std::string& programFolder) {
  const bool canWrite = writable(cp932::toUtf16(programFolder));
  UserEnvironment user{environment(L"USERPROFILE"), environment(L"APPDATA"),
                       environment(L"LOCALAPPDATA")};
  if (user.home.empty()) user.home = profileFolder();
  FileFolders folders = chooseFileFolders(programFolder, canWrite, user);
  if (!canWrite) {
    makeFolders(cp932::toUtf16(folders.config));
    makeFolders(cp932::toUtf16(folders.data));
  }
  return folders;
}

}  // namespace dravik
