// Where the running program lives, and where it keeps its startup configuration and default
// log: beside itself when it may write there, in per-user folders when it is installed.
#pragma once

#include <string>

namespace dravik {

// The running program's folder as CP932 bytes, without a trailing separator (except for a
// root: "/", "C:\"); "." when the program's own path cannot be read.
std::string programDirectory();

// What separates a folder from a name in this system's paths: '/' on Linux, '\\' on Windows,
// so that a path built here reads as the operator's own.
char pathSeparator();

// The folders of the startup configuration and default settings file (`config`) and of the
// default access log (`data`), without a trailing separator.
struct FileFolders {
  std::string config;
  std::string data;
};

// What chooses the per-user folders, "" when unset. Linux: HOME, XDG_CONFIG_HOME and
// XDG_DATA_HOME. Windows: USERPROFILE, APPDATA and LOCALAPPDATA.
struct UserEnvironment {
  std::string home;
  std::string configHome;
  std::string dataHome;
};

// The program's folder for both when it is writable (a portable program). Otherwise the
// configuration and data folders of the user, each taken only when it holds an absolute path,
// with "dravik" below them. Linux: $XDG_CONFIG_HOME/dravik and $XDG_DATA_HOME/dravik, else
// $HOME/.config/dravik and $HOME/.local/share/dravik, as the XDG base directories ask.
// Windows: %APPDATA%\dravik and %LOCALAPPDATA%\dravik, else the same under
// %USERPROFILE%\AppData\Roaming and %USERPROFILE%\AppData\Local: the folders Windows keeps for
// the files a program writes for its user.
FileFolders chooseFileFolders(const std::string& programFolder, bool writable,
                              const UserEnvironment& user);

// Decides once for this run, over `programFolder` (CP932): whether this user may write there,
// and the environment; a per-user folder chosen is created, with its parents, when missing.
// The results are CP932.
FileFolders fileFolders(const std::string& programFolder);

}  // namespace dravik
