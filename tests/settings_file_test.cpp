// The settings file without a window: its bytes, its lines, and the file operations behind it.
#include "settings/settings_file.h"

#ifndef _WIN32
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
        << profile.programName << ": " << testing::PrintToString(lines);
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
// Runs `save` without root's power, so that a folder without write permission refuses it.
bool saveAsNobody(const std::function<bool()>& save) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(save() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
  // A second name of the old file keeps the old content: the new file was renamed over it.
  const std::string oldName = dir.path() + "/old.dva";
  std::filesystem::create_hard_link(dva, oldName);
  ::chmod(dva.c_str(), 0640);
  ASSERT_TRUE(textfile::replace(dva, "new"));
  EXPECT_EQ(state(), "new " + std::to_string(0640)) << "the file keeps its permission bits";
  EXPECT_EQ(fileText(oldName), "old") << "saved through a new file, not over the old bytes";

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
  EXPECT_EQ(entries(dir.path()), 5u)
      << "no temporary file beside 設定, the FIFO, a.dva, its old name and its link";

  const std::string locked = dir.path() + "/locked";
  std::filesystem::create_directory(locked);
  const std::string inside = locked + "/DRAVIK-A.ini";
  std::ofstream(inside) << "/old/path.dva";
  if (::geteuid() == 0) {
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::chown(locked.c_str(), 65534, 65534) | ::chown(inside.c_str(), 65534, 65534), 0);
  }
  ::chmod(locked.c_str(), 0555);
  EXPECT_TRUE(saveAsNobody([&] { return textfile::replace(inside, "/new/path.dva"); }))
      << "rewritten in place when no temporary file can be made";
  EXPECT_EQ(fileText(inside) + " in " + std::to_string(entries(locked)), "/new/path.dva in 1");
  ::chmod(locked.c_str(), 0755);
}
#else
TEST(TextFile, ReadsAndReplacesFilesAndClosesThem) {
  GTEST_SKIP() << "FIFOs, permission bits, symbolic links, fork and setuid, RLIMIT_FSIZE and "
                  "/proc are Linux's; the Windows file rules have tests of their own";
}
#endif

}  // namespace
}  // namespace dravik
