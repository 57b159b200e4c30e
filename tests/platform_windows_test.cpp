// The platform room's Windows rules: device names, attributes, files held by other programs,
// UTF-16 names, Windows Sockets numbers and the per-user folders.
// Winsock 2 before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "loopback_peer.h"
#include "platform/cp932.h"
#include "platform/program_directory.h"
#include "platform/socket.h"
#include "platform/text_file.h"
#include "platform/utf16.h"
#include "temp_dir.h"
#include "wine_version.h"

namespace dravik {
namespace {

using namespace test;
using Opt = std::optional<std::string>;

std::wstring wide(const std::string& cp932) {
  return cp932::toUtf16(cp932);
}

// The bytes of the file a UTF-16 name leads to, read around our own code.
Opt contentOf(const std::wstring& name) {
  const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  char buffer[256];
  DWORD n = 0;
  const BOOL read = ::ReadFile(file, buffer, sizeof buffer, &n, nullptr);
  ::CloseHandle(file);
  return read ? Opt(std::string(buffer, n)) : std::nullopt;
}

TEST(WindowsFiles, DeviceNamesAreNoFilesAndOnlyNulTakesALog) {
  TempDir dir;
  const std::string in = dir.path() + "\\";
  // Devices in every folder, whatever extension or trailing space follows.
  for (const std::string name : {"CON", "nul", "Aux.dva", "prn.txt", "COM1", "com9.csv", "LPT1 ",
                                 "lpt3.a.b", "CONIN$", "conout$"}) {
    for (const std::string& path : {name, in + name}) {
      EXPECT_EQ(std::pair(textfile::readAll(path), textfile::readFirstLine(path)),
                (std::pair<Opt, Opt>()))
          << path;
      EXPECT_FALSE(textfile::replace(path, "x")) << path;
      textfile::AppendFile log;
      EXPECT_EQ(log.open(path) && log.append("line\r\n"), name == "nul") << path;
    }
  }
  EXPECT_EQ(textfile::readAll("\\\\.\\pipe\\dravik-none"), std::nullopt) << "\\\\.\\ is a device";
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a device was taken for a file";
  for (const std::string name : {"CONSOLE", "nul_", "COM10", "LPT", "com1x.dva", "AUX-1"}) {
    EXPECT_TRUE(textfile::replace(in + name, name) && textfile::readAll(in + name) == name)
        << name << " is a file name";
  }
  textfile::AppendFile nul;
  EXPECT_TRUE(nul.open("NUL") && nul.size() == 0 && nul.append("x") && nul.open("NUL"))
      << "the log may go nowhere, as to /dev/null";
}

TEST(WindowsFiles, ReadsAreBoundedAndFoldersAreNoFiles) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.dva";
  const std::string line(textfile::kMaxFirstLineBytes - 2, 'l'), all(textfile::kMaxFileBytes, 'f');
  const std::tuple<std::string, Opt, Opt> cases[] = {
      {"a\r\nb", "a\r\nb", "a"},
      {"", "", std::nullopt},
      {"\r\nx", "\r\nx", ""},
      {line + "\r\nx", line + "\r\nx", line},
      {line + "l\r\n", line + "l\r\n", std::nullopt},
      {all, all, std::nullopt},
      {all + "f", std::nullopt, std::nullopt},
  };
  for (const auto& [bytes, whole, first] : cases) {
    writeBytes(file, bytes);
    EXPECT_EQ(std::pair(textfile::readAll(file), textfile::readFirstLine(file)),
              std::pair(whole, first))
        << bytes.size() << " bytes";
  }
  EXPECT_EQ(std::pair(textfile::readAll(dir.path()), textfile::readAll(file + ".missing")),
            (std::pair<Opt, Opt>()));
  EXPECT_FALSE(textfile::replace(dir.path(), "x")) << "a folder is not saved over";
}

TEST(WindowsFiles, AReadOnlyFileIsRefusedAndAHardLinkedOneRewrittenInPlace) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.dva", other = dir.path() + "\\b.dva";
  writeBytes(file, "old");
  ASSERT_TRUE(::SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(textfile::replace(file, "new")) << "the operator made it read-only";
  ASSERT_TRUE(::SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(fileText(file) + " in " + std::to_string(entries(dir.path())), "old in 1")
      << "untouched, and no temporary file left";

  ASSERT_TRUE(::CreateHardLinkW(wide(other).c_str(), wide(file).c_str(), nullptr));
  ASSERT_TRUE(textfile::replace(file, "new"));
  EXPECT_EQ(fileText(file) + " " + fileText(other), "new new") << "both names keep one file";
  ASSERT_TRUE(::DeleteFileW(wide(other).c_str()));
  ASSERT_TRUE(textfile::replace(file, "newer"));
  EXPECT_EQ(fileText(file) + " in " + std::to_string(entries(dir.path())), "newer in 1");
}

TEST(WindowsFiles, AttributesOtherThanReadOnlyAreKept) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.dva";
  writeBytes(file, "old");
  ::SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_HIDDEN);
  if ((::GetFileAttributesW(wide(file).c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0 &&
      !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion() << " keeps no hidden attribute on this file system";
  }
  ASSERT_TRUE(textfile::replace(file, "new"));
  EXPECT_NE(::GetFileAttributesW(wide(file).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(fileText(file), "new");
}

// The access list of the file, in the system's own notation.
std::wstring accessList(const std::string& file) {
  DWORD size = 0;
  ::GetFileSecurityW(wide(file).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<char> descriptor(size);
  wchar_t* text = nullptr;
  std::wstring list;
  if (size > 0 &&
      ::GetFileSecurityW(wide(file).c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size,
                         &size) &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    list = text;
  }
  ::LocalFree(text);
  return list;
}

TEST(WindowsFiles, TheFilesOwnAccessListIsKept) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.dva";
  writeBytes(file, "old");
  // Protected from the folder's: everyone may do all, the users of the machine may read.
  const std::wstring own = L"D:P(A;;FA;;;WD)(A;;FR;;;BU)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(own.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
  ::SetFileSecurityW(wide(file).c_str(), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
  if (accessList(file) != own && !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion()
                 << " keeps no access list: it maps one to Unix permission bits";
  }
  ASSERT_EQ(accessList(file), own);
  ASSERT_TRUE(textfile::replace(file, "new"));
  EXPECT_EQ(std::pair(fileText(file), accessList(file)), std::pair(std::string("new"), own))
      << "the replacement has the file's access list, not its folder's";
}

// A spreadsheet or editor holding the file: Windows replaces no file that is open, so the save
// goes in place when the holder shares writing, and fails untouched when it does not.
TEST(WindowsFiles, AFileAnotherProgramHoldsIsSavedInPlaceWhenItSharesWriting) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.dva";
  const std::tuple<DWORD, bool> cases[] = {
      {FILE_SHARE_READ, false},
      {FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
  };
  for (const auto& [share, saved] : cases) {
    writeBytes(file, "old");
    const HANDLE holder =
        ::CreateFileW(wide(file).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(textfile::replace(file, "new"), saved) << "share " << share;
    char seen[8];
    DWORD n = 0;
    ::ReadFile(holder, seen, sizeof seen, &n, nullptr);
    ::CloseHandle(holder);
    EXPECT_EQ(fileText(file) + " in " + std::to_string(entries(dir.path())),
              (saved ? "new" : "old") + std::string(" in 1"))
        << "share " << share;
    if (share == (FILE_SHARE_READ | FILE_SHARE_WRITE)) {
      EXPECT_EQ(std::string(seen, n), "new") << "rewritten where it stands";
    }
  }
}

TEST(WindowsFiles, KanjiNamesAreUtf16AndPathsStayUnderMaxPath) {
  TempDir dir;
  // 設定\表示.dva: the second byte of 表 in CP932 is the byte of a backslash.
  const std::string folder = dir.path() + "\\" + cp932::fromUtf8("設定"),
                    file = folder + "\\" + cp932::fromUtf8("表示.dva");
  ASSERT_TRUE(::CreateDirectoryW(wide(folder).c_str(), nullptr));
  ASSERT_TRUE(textfile::replace(file, "saved"));
  EXPECT_EQ(contentOf(wide(dir.path()) + L"\\\u8A2D\u5B9A\\\u8868\u793A.dva"), "saved");
  textfile::AppendFile log;
  EXPECT_TRUE(log.open(file) && log.size() == 5 && log.append("+"));
  EXPECT_EQ(std::pair(textfile::readAll(file), textfile::readFirstLine(file)),
            (std::pair<Opt, Opt>("saved+", "saved+")));
  EXPECT_EQ(
      std::filesystem::directory_iterator(std::filesystem::path(wide(folder)))->path().filename(),
      L"\u8868\u793A.dva")
      << "one file, named in kanji, no temporary left";

  const std::string kanji = cp932::fromUtf8("日");
  std::string kanji259, kanji260;
  for (int i = 0; i < 259; ++i) kanji259 += kanji;
  kanji260 = kanji259 + kanji;
  EXPECT_EQ(std::tuple(textfile::fitsPathLimit(std::string(259, 'a')),
                       textfile::fitsPathLimit(std::string(260, 'a')),
                       textfile::fitsPathLimit(kanji259), textfile::fitsPathLimit(kanji260)),
            std::tuple(true, false, true, false))
      << "MAX_PATH counts UTF-16 units with the final null, not bytes";
}

TEST(WindowsFiles, ALogFollowsItsNameWhenTheFileIsRenamedOrReplaced) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.csv", moved = dir.path() + "\\old.csv";
  textfile::AppendFile log;
  ASSERT_TRUE(log.open(file) && log.append("a\r\n"));
  ASSERT_TRUE(log.open(file) && log.size() == 3 && log.append("b\r\n")) << "still the same file";
  ASSERT_TRUE(::MoveFileW(wide(file).c_str(), wide(moved).c_str()));
  ASSERT_TRUE(log.open(file) && log.size() == 0 && log.append("c\r\n")) << "made anew";
  ASSERT_TRUE(textfile::replace(file, "header\r\n"));
  ASSERT_TRUE(log.open(file) && log.size() == 8 && log.append("d\r\n")) << "the replacement";
  EXPECT_EQ(fileText(moved) + "|" + fileText(file), "a\r\nb\r\n|header\r\nd\r\n");
}

TEST(WindowsFiles, ADeletedLogIsMadeAgain) {
  TempDir dir;
  const std::string file = dir.path() + "\\a.csv";
  textfile::AppendFile log;
  ASSERT_TRUE(log.open(file) && log.append("a\r\n"));
  ASSERT_TRUE(::DeleteFileW(wide(file).c_str()));
  if (::GetFileAttributesW(wide(file).c_str()) != INVALID_FILE_ATTRIBUTES &&
      !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion()
                 << " keeps the name of a deleted file until its last handle closes";
  }
  ASSERT_TRUE(log.open(file) && log.size() == 0 && log.append("b\r\n"));
  EXPECT_EQ(fileText(file), "b\r\n");
}

TEST(WindowsSockets, ErrorsAreWindowsSocketsNumbers) {
  const sock::Listening listener = sock::listenOn(sock::kLoopback, 0);
  const int port = sock::localPort(listener.socket);
  const sock::Listening again = sock::listenOn(sock::kLoopback, port);
  EXPECT_EQ(std::pair(again.failed, again.error), std::pair(sock::Step::Bind, 10048))
      << "WSAEADDRINUSE, the number the operators know";
  sock::close(listener.socket);
  const sock::WakeEvent stop;
  const sock::Socket refused = sock::openStream(0).socket;
  EXPECT_EQ(sock::connectWithin(refused, sock::kLoopback, port, 10000, stop).error, 10061)
      << "WSAECONNREFUSED";
  sock::close(refused);
  EXPECT_EQ(std::tuple(sock::timedOut(10060), sock::timedOut(10052), sock::timedOut(10061)),
            std::tuple(true, true, false))
      << "timed out and broken by keepalive end a unit's connection; refused does not";
}

TEST(WindowsSockets, KeepaliveTakesTheUnitsTiming) {
  const sock::WakeEvent stop;
  const sock::Listening listener = sock::listenOn(sock::kLoopback, 0);
  const sock::Socket client = sock::openStream(0).socket;
  ASSERT_EQ(
      sock::connectWithin(client, sock::kLoopback, sock::localPort(listener.socket), 5000, stop)
          .error,
      0);
  ASSERT_EQ(sock::waitReadable(listener.socket, stop, 5000), sock::Wait::Ready);
  const sock::Socket unit = sock::acceptFrom(listener.socket).socket;
  const bool taken = sock::keepAlive(unit, sock::kUnitKeepalive);
  BOOL on = FALSE;
  int length = sizeof on;
  ::getsockopt(static_cast<SOCKET>(unit), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&on),
               &length);
  for (sock::Socket s : {unit, client, listener.socket}) sock::close(s);
  EXPECT_TRUE(on) << "keepalive is on";
  if (!taken && !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion()
                 << " refuses TCP_KEEPIDLE, TCP_KEEPCNT and TCP_MAXRT (WSAENOPROTOOPT)";
  }
  EXPECT_TRUE(taken) << "Windows 10 takes the timing and the retransmission bound";
}

// Sets an environment variable for the test's length; an empty value unsets it.
class Environment {
 public:
  void set(const wchar_t* name, const std::wstring& value) {
    const wchar_t* before = ::_wgetenv(name);
    saved_.emplace_back(name, before ? std::optional<std::wstring>(before) : std::nullopt);
    ::_wputenv_s(name, value.c_str());
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) ::_wputenv_s(name, value.value_or(L"").c_str());
  }

 private:
  std::vector<std::pair<const wchar_t*, std::optional<std::wstring>>> saved_;
};

TEST(WindowsProgramFolder, AnUnwritableOneSendsTheFilesToAppDataFolders) {
  const std::string program = programDirectory();
  EXPECT_NE(::GetFileAttributesW(wide(program + "\\core_tests.exe").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << program;
  EXPECT_NE(program.back(), '\\');
  const auto both = [](const FileFolders& f) { return f.config + " " + f.data; };
  const std::string home = "C:\\Users\\op";
  const std::tuple<bool, UserEnvironment, std::string> cases[] = {
      {true, {home, "C:\\cfg", "C:\\data"}, "D:\\dravik D:\\dravik"},
      {false, {home, "C:\\cfg", "c:/data"}, "C:\\cfg\\dravik c:/data\\dravik"},
      {false,
       {home, "\\\\server\\roaming", ""},
       "\\\\server\\roaming\\dravik " + home + "\\AppData\\Local\\dravik"},
      {false,
       {home, "roaming", "C:local"},
       home + "\\AppData\\Roaming\\dravik " + home + "\\AppData\\Local\\dravik"},
  };
  for (const auto& [writable, user, want] : cases) {
    EXPECT_EQ(both(chooseFileFolders("D:\\dravik", writable, user)), want)
        << "writable " << writable << ", APPDATA '" << user.configHome << "'";
  }

  TempDir dir;
  EXPECT_EQ(both(fileFolders(dir.path())), dir.path() + " " + dir.path());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the writability probe is gone";
  Environment environment;
  environment.set(L"USERPROFILE", wide(dir.path() + "\\home"));
  environment.set(L"APPDATA", L"");
  environment.set(L"LOCALAPPDATA", wide(dir.path() + "\\local"));
  const FileFolders folders = fileFolders(dir.path() + "\\missing");
  EXPECT_EQ(both(folders),
            dir.path() + "\\home\\AppData\\Roaming\\dravik " + dir.path() + "\\local\\dravik");
  EXPECT_TRUE(std::filesystem::is_directory(wide(folders.config)) &&
              std::filesystem::is_directory(wide(folders.data)))
      << "made at start-up";
}

}  // namespace
}  // namespace dravik
