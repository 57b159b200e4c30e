#include "platform/program_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/cp932.h"

namespace dravik {

namespace {

constexpr const char* kFolderName = "/dravik";

std::string perUserFolder(const std::string& xdgValue, const std::string& home,
                          const char* underHome) {
  if (!xdgValue.empty() && xdgValue.front() == '/') return xdgValue + kFolderName;
  return home + underHome + kFolderName;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? cp932::fromUtf8(value) : std::string();
}

// mkdir -p, each new folder private to its user as the XDG base directories ask.
void makeFolders(const std::filesystem::path& folder) {
  std::error_code error;
  if (std::filesystem::is_directory(folder, error) || folder == folder.parent_path()) return;
  makeFolders(folder.parent_path());
  ::mkdir(folder.c_str(), 0700);
}

}  // namespace

char pathSeparator() {
  return '/';
}

std::string programDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !program.has_parent_path()) return ".";
  return cp932::fromUtf8(program.parent_path().string());
}

FileFolders chooseFileFolders(const std::string& programFolder, bool writable,
                              const UserEnvironment& user) {
  if (writable) return {programFolder, programFolder};
  return {perUserFolder(user.configHome, user.home, "/.config"),
          perUserFolder(user.dataHome, user.home, "/.local/share")};
}

FileFolders fileFolders(const std::string& programFolder) {
  const bool writable = ::access(cp932::toUtf8(programFolder).c_str(), W_OK) == 0;
  UserEnvironment user{environment("HOME"), environment("XDG_CONFIG_HOME"),
                       environment("XDG_DATA_HOME")};
  // A service manager may start the program without HOME; the account still has one.
  if (user.home.empty()) {
    if (const passwd* account = ::getpwuid(::getuid()))
      user.home = cp932::fromUtf8(account->pw_dir);
  }
  FileFolders folders = chooseFileFolders(programFolder, writable, user);
  if (!writable) {
    makeFolders(cp932::toUtf8(folders.config));
    makeFolders(cp932::toUtf8(folders.data));
  }
  return folders;
}

}  // namespace dravik
