// The settings file without a window: its bytes, its lines, and the file operations behind it.
#include "settings/settings_file.h"

#ifndef _WIN32
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <functional>

#include "platform/text_file.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using namespace test;

// What a file changed, in the order of the fields, as one string.
std::string describe(const SettingsChanges& c) {
  std::string out;
  const auto add = [&out](const std::string& key, const std::optional<std::string>& value) {
    if (value) out += key + "=" + *value + "|";
  };
  add("title", c.windowTitle);
  for (int i = 0; i < kPortSlotCount; ++i) add("port" + std::to_string(i + 1), c.ports[i]);
  add("send", c.destinationPort);
  for (int i = 0; i < kMaxInputs; ++i) add("DI" + std::to_string(i + 1), c.inputNames[i]);
  for (int i = 0; i < kMaxOutputs; ++i) add("DO" + std::to_string(i + 1), c.outputNames[i]);
  if (c.logging) out += *c.logging ? "logging=ON|" : "logging=OFF|";
  if (c.startRequested) out += "start|";
  add("path", c.logFilePath);
  return out;
}

// A key matches anywhere and takes its length off the start of the line; later keys see the
// line as earlier ones left it; names are cut at 20 bytes on a whole character.
TEST(SettingsFile, LinesAreSplitAndChangeWhatTheyName) {
  const std::string n19(19, 'n'), p300(300, 'p'), kanji10 = cp932::fromUtf8("一二三四五六七八九十");
  const std::tuple<const VariantProfile&, Lines, std::string> cases[] = {
      {kVariantA, {" #$PORT=10003"}, "port1==10003|"},
      {kVariantA, {"#$DI1=#$TITLEBAR=X"}, "title=X|DI1=#$TITLEBAR=X|"},
      {kVariantA, {"#$PORT2=1\r2\n3", "#$TITLEBAR=  a  "}, "title=  a  |port2=123|"},
      {kVariantA, {"PORT=1", "#$port=2", "# comment", "", "#$PORT", "#$PORT 2=3"}, ""},
      {kVariantA,
       {"#$PORT3=", "#$PORT4=4", "#$SEND=5", "#$DI2=i", "#$DO1=a", "#$DO4=d", "#$LOGFILENAME=/l"},
       "port3=|port4=4|send=5|DI2=i|DO1=a|DO4=d|path=/l|"},
      {kVariantA, {"#$DI5=five", "#$DI8=eight", "#$DI4=four"}, "DI4=four|"},
      {kVariantB, {"#$SEND=1234", "#$DO1=out", "#$DI6=six", "#$DI8=eight"}, "DI6=six|DI8=eight|"},
      {kVariantB, {"#$LOGGING=on", "#$SERVER=start", "#$SERVER=STAR"}, "logging=OFF|"},
      {kVariantB, {"#$LOGGING=ONLINE", "#$SERVER=STARTED"}, "logging=ON|start|"},
      {kVariantB,
       {"#$LOGGING=ON", "#$LOGGING=OFF", "#$SERVER=START", "#$SERVER=STOP"},
       "logging=OFF|start|"},
      {kVariantB, {"#$DI2=ABCDEFGHIJKLMNOPQRSTUVWXY"}, "DI2=ABCDEFGHIJKLMNOPQRST|"},
      {kVariantB, {"#$DI8=" + n19 + cp932::fromUtf8("表示")}, "DI8=" + n19 + "|"},
      {kVariantB, {"#$DI1=" + n19 + "\xE0\x40"}, "DI1=" + n19 + "|"},
      {kVariantB, {"#$DI1=" + n19 + "\xDF\xA0"}, "DI1=" + n19 + "\xDF|"},
      {kVariantB, {"#$DI3=" + kanji10 + cp932::fromUtf8("百")}, "DI3=" + kanji10 + "|"},
      {kVariantA,
       {"#$PORT=" + p300, "#$TITLEBAR=" + p300, "#$LOGFILENAME=" + p300, "#$DO4=" + p300},
       "title=" + p300 + "|port1=" + p300 + "|DO4=" + p300.substr(0, 20) + "|path=" + p300 + "|"},
  };
  for (const auto& [profile, lines, want] : cases) {
    SettingsChanges changes;
    for (const std::string& line : lines) applySettingsLine(profile, line, changes);
    EXPECT_EQ(describe(changes), want)
        << profile.modelName << ": " << testing::PrintToString(lines);
  }
  const std::pair<std::string, Lines> splits[] = {
      {"", {}},
      {"a\r\nb\n\r\n\nc\rd\r\r\n", {"a", "b", "", "", "c\rd\r"}},
      {"\r", {"\r"}},
  };
  for (const auto& [content, lines] : splits) {
    EXPECT_EQ(splitSettingsLines(content), lines) << testing::PrintToString(content.substr(0, 20));
  }
}

// Ports, destination and path may hold the key prefix; the monitor tests check title and inputs.
TEST(SettingsFile, OnlyNamesAndTheTitleMayNotHoldTheKeyPrefix) {
  SettingsRecord r{"T",   {"#$"}, "#$", {"i1", "i2", "i3", "i4"}, {"# $", "o2", "o3", "o4"},
                   false, false,  "#$"};
  EXPECT_EQ(checkSavable(r), SaveRefusal::None);
  r.outputNames[3] = "x#$";
  EXPECT_EQ(checkSavable(r), SaveRefusal::NameHasKeyPrefix) << "the last output";
}

#ifndef _WIN32
constexpr uid_t kNobody = 65534;

// Runs `save` without root's power or groups, so that a folder without write permission
// refuses it.
bool saveAsNobody(const std::function<bool()>& save) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(2);
    }
    ::_exit(save() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Sets or clears the append-only flag of `folder`, which lets names be added but none removed
// or renamed over; false where the file system or the process cannot.
bool setAppendOnly(const std::string& folder, bool on) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                  (flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL,
                   ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  ::close(fd);
  return ok;
}

TEST(TextFile, ReadsAndReplacesFilesAndClosesThem) {
  TempDir dir;
  // A CP932 name, as the monitor hands them over, of a file whose name on disk is UTF-8.
  const std::string utf8 = dir.path() + "/設定", file = cp932::fromUtf8(utf8);
  const std::string firstLineBound(textfile::kMaxFirstLineBytes - 2, 'l'),
      fileBound(textfile::kMaxFileBytes, 'f');
  using Opt = std::optional<std::string>;
  const std::tuple<std::string, Opt, Opt> cases[] = {
      {"a\r\nb", "a\r\nb", "a"},
      {"a\nb\n", "a\nb\n", "a"},
      {"a", "a", "a"},
      {"a \n", "a \n", "a "},
      {"a\r", "a\r", "a\r"},
      {"a\r\r\n", "a\r\r\n", "a\r"},
      {"\r\nx", "\r\nx", ""},
      {"\n", "\n", ""},
      {"", "", std::nullopt},
      {std::string("a\0b", 3), std::string("a\0b", 3), std::string("a\0b", 3)},
      {firstLineBound + "\r\nx", firstLineBound + "\r\nx", firstLineBound},
      {firstLineBound + "l\r\n", firstLineBound + "l\r\n", std::nullopt},
      {fileBound, fileBound, std::nullopt},
      {fileBound + "f", std::nullopt, std::nullopt},
  };
  for (const auto& [bytes, all, first] : cases) {
    writeBytes(utf8, bytes);
    EXPECT_EQ(std::pair(textfile::readAll(file), textfile::readFirstLine(file)),
              std::pair(all, first))
        << testing::PrintToString(bytes.substr(0, 8)) << " of " << bytes.size() << " bytes";
  }
  EXPECT_EQ(textfile::readAll(dir.path()), std::nullopt) << "a folder reads as nothing";
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_TRUE(returnsWithoutFifoPeer(fifo, [&] {
    EXPECT_EQ(std::pair(textfile::readAll(fifo), textfile::readFirstLine(fifo)),
              (std::pair<Opt, Opt>()))
        << "a FIFO is no file";
  })) << "the read waited for a writer to a FIFO";

  // The settings are read at every load, for as long as the program runs.
  const auto before = entries("/proc/self/fd");
  for (int i = 0; i < 50; ++i) {
    textfile::AppendFile log;
    ASSERT_TRUE(textfile::replace(file, "saved") && textfile::readAll(file) &&
                textfile::readFirstLine(file) && log.open(file));
  }
  EXPECT_EQ(entries("/proc/self/fd"), before) << "descriptors left open";
  EXPECT_EQ(fileText(utf8), "saved");

  // A save keeps what the operator set on the file.
  const std::string dva = dir.path() + "/a.dva";
  std::ofstream(dva) << "old";
  const auto state = [&dva] {
    return fileText(dva) + " " + std::to_string(int(std::filesystem::status(dva).permissions()));
  };
  ::chmod(dva.c_str(), 0444);
  EXPECT_FALSE(textfile::replace(dva, "new")) << "a read-only file is refused";
  EXPECT_EQ(state(), "old " + std::to_string(0444));
  ::chmod(dva.c_str(), 0640);
  ASSERT_TRUE(textfile::replace(dva, "new"));
  EXPECT_EQ(state(), "new " + std::to_string(0640)) << "the file keeps its permission bits";

  const std::string link = dir.path() + "/link.dva";
  std::filesystem::create_symlink("a.dva", link);
  ASSERT_TRUE(textfile::replace(link, "through"));
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays a link";
  EXPECT_EQ(fileText(dva), "through") << "its target takes the settings";
  {
    FileSizeLimit limit(4);
    EXPECT_FALSE(textfile::replace(dva, "cut short")) << "a save cut short fails";
  }
  EXPECT_EQ(fileText(dva), "through");
  EXPECT_EQ(entries(dir.path()), 4u)
      << "no temporary file beside 設定, the FIFO, a.dva and its link";
}

// Where no new file can take the name, or one would change what the operator set up on the
// file, the file is rewritten where it stands: its inode, links, owner, group and mode stay.
TEST(TextFile, SavesInPlaceWhereANewFileCannotOrWouldChangeTheFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  struct Case {
    const char* what;
    mode_t folderMode;
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool secondLink, asNobody, appendOnlyFolder, inPlace;
  };
  const Case cases[] = {
      {"an ordinary file", 0755, 0, 0, 0640, false, false, false, false},
      {"a file with two hard links", 0755, 0, 0, 0640, true, false, false, true},
      {"another user's file", 0755, kNobody, kNobody, 0604, false, false, false, true},
      {"another user's file in a sticky folder", 01777, 0, 0, 0666, false, true, false, true},
      {"our file in a folder we may not write", 0555, kNobody, kNobody, 0644, false, true, false,
       true},
      {"our file in a group we are not in", 0777, kNobody, 0, 0660, false, true, false, true},
      {"a folder that lets no name go", 0755, 0, 0, 0600, false, false, true, true},
  };
  // The file as a reader that opened it before the save sees it, and its name's set-up.
  const auto describe = [](int reader, const std::string& file) {
    char bytes[64] = {}, setUp[64];
    struct stat s {};
    ::stat(file.c_str(), &s);
    std::snprintf(setUp, sizeof setUp, "%lu links, %u:%u, mode %o",
                  static_cast<unsigned long>(s.st_nlink), s.st_uid, s.st_gid, s.st_mode & 07777);
    return std::pair(
        std::string(bytes, std::max<ssize_t>(0, ::pread(reader, bytes, 63, 0))) + " | " + setUp,
        s.st_ino);
  };
  int folders = 0;
  for (const Case& c : cases) {
    const std::string folder = dir.path() + "/" + std::to_string(folders++),
                      file = folder + "/s.dva", second = folder + "/second.dva";
    std::filesystem::create_directory(folder);
    writeBytes(file, "the old settings");
    if (c.secondLink) std::filesystem::create_hard_link(file, second);
    ASSERT_EQ(::chown(file.c_str(), c.owner, c.group) | ::chmod(file.c_str(), c.mode) |
                  ::chmod(folder.c_str(), c.folderMode),
              0);
    if (c.appendOnlyFolder && !setAppendOnly(folder, true)) {
      std::printf("not tried (no append-only folders here): %s\n", c.what);
      continue;
    }
    const int reader = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const auto [before, inode] = describe(reader, file);
    const auto save = [&file] { return textfile::replace(file, "new settings"); };
    const bool saved = c.asNobody ? saveAsNobody(save) : save();
    const auto [after, inodeAfter] = describe(reader, file);
    ::close(reader);
    const std::string got = std::to_string(saved) + " | " + fileText(file) + " | " + after + " | " +
                            (inodeAfter == inode ? "in place" : "renamed") + " | " +
                            fileText(second) + " | " + std::to_string(entries(folder));
    if (c.appendOnlyFolder) setAppendOnly(folder, false);
    ::chmod(folder.c_str(), 0755);
    // The reader sees the new bytes only in place; a folder that lets no name go keeps the
    // temporary one too.
    const std::string kept = before.substr(before.find(" | "));
    EXPECT_EQ(got, std::string("1 | new settings | ") +
                       (c.inPlace ? "new settings" : "the old settings") + kept +
                       (c.inPlace ? " | in place | " : " | renamed | ") +
                       (c.secondLink ? "new settings" : "") + " | " +
                       std::to_string(1 + c.secondLink + c.appendOnlyFolder))
        << c.what;
  }

  // A rewrite that fails part way puts back what it overwrote, whether the settings grew or
  // shrank.
  const std::string file = dir.path() + "/linked.dva", link = dir.path() + "/link.dva";
  writeBytes(file, "");
  std::filesystem::create_hard_link(file, link);
  const std::pair<std::string, std::string> cutShort[] = {{"0123456789", "abcdefgh"},
                                                          {"old", "cut short"}};
  for (const auto& [old, replacement] : cutShort) {
    writeBytes(file, old);
    FileSizeLimit limit(4);
    EXPECT_FALSE(textfile::replace(file, replacement)) << "a save cut short fails";
    EXPECT_EQ(fileText(link), old) << "cut short saving " << replacement;
  }
}
#else
TEST(TextFile, ReadsAndReplacesFilesAndClosesThem) {
  GTEST_SKIP() << "FIFOs, permission bits, symbolic links, fork and setuid, RLIMIT_FSIZE and "
                  "/proc are Linux's; the Windows file rules have tests of their own";
}
#endif

}  // namespace
}  // namespace dravik
