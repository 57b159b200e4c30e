// The settings file's own rules, without a window: the lines written, how lines are split
// when read, and how each key takes its value.
#include "settings/settings_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/cp932.h"
#include "platform/text_file.h"
#include "temp_dir.h"

namespace dravik {
namespace {

SettingsChanges applyLines(const VariantProfile& profile,
                           std::initializer_list<const char*> lines) {
  SettingsChanges changes;
  for (const char* line : lines) applySettingsLine(profile, line, changes);
  return changes;
}

SettingsRecord sampleRecordB() {
  SettingsRecord r;
  r.windowTitle = "Hall " + cp932::fromUtf8("入口");
  r.ports = {"10003", "", "abc", "65535"};
  r.inputNames = {"a", "b", "c", "d", "e", "f", "g", cp932::fromUtf8("八番目")};
  r.logging = true;
  r.running = true;
  r.logFilePath = "/var/log/dravik b.csv";
  return r;
}

TEST(SettingsFile, LinesOfBothVariantsInTheirOrder) {
  SettingsRecord b = sampleRecordB();
  b.destinationPort = "777";  // no line for it in DRAVIK_B
  const std::string expectedB = "#$TITLEBAR=Hall " + cp932::fromUtf8("入口") +
                                "\r\n#$PORT=10003\r\n#$PORT2=\r\n#$PORT3=abc\r\n#$PORT4=65535\r\n"
                                "#$DI1=a\r\n#$DI2=b\r\n#$DI3=c\r\n#$DI4=d\r\n#$DI5=e\r\n#$DI6=f\r\n"
                                "#$DI7=g\r\n#$DI8=" +
                                cp932::fromUtf8("八番目") +
                                "\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n"
                                "#$LOGFILENAME=/var/log/dravik b.csv\r\n";
  EXPECT_EQ(formatSettingsFile(kVariantB, b), expectedB);

  SettingsRecord a;
  a.windowTitle = "T";
  a.ports = {"1", "2", "3", "4"};
  a.destinationPort = "5";
  a.inputNames = {"i1", "i2", "i3", "i4"};
  a.outputNames = {"o1", "o2", "o3", "o4"};
  a.logFilePath = "";
  const std::string expectedA =
      "#$TITLEBAR=T\r\n#$PORT=1\r\n#$PORT2=2\r\n#$PORT3=3\r\n#$PORT4=4\r\n#$SEND=5\r\n"
      "#$DI1=i1\r\n#$DI2=i2\r\n#$DI3=i3\r\n#$DI4=i4\r\n#$DO1=o1\r\n#$DO2=o2\r\n#$DO3=o3\r\n"
      "#$DO4=o4\r\n#$LOGGING=OFF\r\n#$SERVER=STOP\r\n#$LOGFILENAME=\r\n";
  EXPECT_EQ(formatSettingsFile(kVariantA, a), expectedA);
}

TEST(SettingsFile, SavingIsRefusedForTheFirstValueHoldingTheKeyPrefix) {
  SettingsRecord r = sampleRecordB();
  EXPECT_EQ(checkSavable(r), SaveRefusal::None);
  r.inputNames[7] = "x#$";
  EXPECT_EQ(checkSavable(r), SaveRefusal::NameHasKeyPrefix) << "the last input counts too";
  r.windowTitle = "A#$B";
  EXPECT_EQ(checkSavable(r), SaveRefusal::TitleHasKeyPrefix) << "the title is looked at first";
  SettingsRecord a;
  a.inputNames = {"1", "2", "3", "4"};
  a.outputNames = {"1", "2", "3", "#$"};
  EXPECT_EQ(checkSavable(a), SaveRefusal::NameHasKeyPrefix) << "output names count";
  a.outputNames[3] = "# $";
  EXPECT_EQ(checkSavable(a), SaveRefusal::None) << "only the two bytes together are the prefix";
}

TEST(SettingsFile, LinesAreSplitAsATextReaderDeliversThem) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(splitSettingsLines(""), Lines{});
  EXPECT_EQ(splitSettingsLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(splitSettingsLines("a\nb"), (Lines{"a", "b"})) << "a last line without its end";
  EXPECT_EQ(splitSettingsLines("\r\n\n"), (Lines{"", ""})) << "empty lines are lines";
  EXPECT_EQ(splitSettingsLines("a\rb\r\r\n"), (Lines{"a\rb\r"}))
      << "only the CR of a CR LF pair belongs to the line end";
  const std::string longLine(100000, 'x');
  EXPECT_EQ(splitSettingsLines(longLine + "\r\n"), Lines{longLine}) << "no line length cap";
}

TEST(SettingsFile, KeysMatchAnywhereAndCutFromTheStart) {
  SettingsChanges c = applyLines(kVariantA, {" #$PORT=10003"});
  EXPECT_EQ(c.ports[0], "=10003") << "seven bytes come off the start, not off the key";

  c = applyLines(kVariantA, {"#$DI1=#$TITLEBAR=X"});
  EXPECT_EQ(c.inputNames[0], "#$TITLEBAR=X");
  EXPECT_EQ(c.windowTitle, "X") << "a later key sees the line as the earlier one left it";

  c = applyLines(kVariantA, {"#$PORT2=1\r2\n3", "#$PORT3=", "#$TITLEBAR=  spaced  "});
  EXPECT_EQ(c.ports[1], "123") << "CR and LF go wherever they stand";
  EXPECT_EQ(c.ports[2], "") << "an empty value is a value";
  EXPECT_EQ(c.windowTitle, "  spaced  ") << "values are not trimmed";
  EXPECT_FALSE(c.ports[0]) << "PORT2= must not be taken for PORT=";
  EXPECT_FALSE(c.ports[3]);

  c = applyLines(kVariantA, {"PORT=1", "#$port=2", "# comment", ""});
  for (const auto& port : c.ports) EXPECT_FALSE(port) << "only the exact key matches";
  EXPECT_FALSE(c.windowTitle);
}

TEST(SettingsFile, LoggingAndServerValues) {
  EXPECT_EQ(applyLines(kVariantB, {"#$LOGGING=on"}).logging, false) << "case matters";
  EXPECT_EQ(applyLines(kVariantB, {"#$LOGGING=ONLINE"}).logging, true) << "first two bytes";
  EXPECT_EQ(applyLines(kVariantB, {"#$LOGGING=ON", "#$LOGGING=OFF"}).logging, false);
  EXPECT_FALSE(applyLines(kVariantB, {"#$TITLEBAR=x"}).logging) << "not mentioned, not changed";

  EXPECT_TRUE(applyLines(kVariantB, {"#$SERVER=STARTED"}).startRequested);
  EXPECT_TRUE(applyLines(kVariantB, {"#$SERVER=STOP", "#$SERVER=START"}).startRequested);
  EXPECT_TRUE(applyLines(kVariantB, {"#$SERVER=START", "#$SERVER=STOP"}).startRequested)
      << "a later STOP does not take back a start";
  EXPECT_FALSE(applyLines(kVariantB, {"#$SERVER=start"}).startRequested);
  EXPECT_FALSE(applyLines(kVariantB, {"#$SERVER=STAR"}).startRequested);
}

TEST(SettingsFile, NamesAreCutAtTwentyBytesWithoutHalfCharacters) {
  SettingsChanges c = applyLines(kVariantB, {"#$DI2=ABCDEFGHIJKLMNOPQRSTUVWXY"});
  EXPECT_EQ(c.inputNames[1], "ABCDEFGHIJKLMNOPQRST");
  // 19 ASCII bytes, then a double-byte character whose second byte would be the 21st.
  c = applyLines(kVariantB, {("#$DI8=" + std::string(19, 'n') + cp932::fromUtf8("表示")).c_str()});
  EXPECT_EQ(c.inputNames[7], std::string(19, 'n')) << "the half character is dropped";
  const std::string tenKanji = cp932::fromUtf8("一二三四五六七八九十");
  c = applyLines(kVariantB, {("#$DI3=" + tenKanji + cp932::fromUtf8("百")).c_str()});
  EXPECT_EQ(c.inputNames[2], tenKanji) << "ten double-byte characters fill a name exactly";

  const std::string longText(300, 'p');
  c = applyLines(kVariantA, {("#$PORT=" + longText).c_str(), ("#$TITLEBAR=" + longText).c_str(),
                             ("#$LOGFILENAME=" + longText).c_str(), ("#$DO4=" + longText).c_str()});
  EXPECT_EQ(c.ports[0], longText) << "ports, title and path are taken whole";
  EXPECT_EQ(c.windowTitle, longText);
  EXPECT_EQ(c.logFilePath, longText);
  EXPECT_EQ(c.outputNames[3], std::string(20, 'p'));
}

TEST(SettingsFile, EachVariantTakesOnlyItsOwnKeys) {
  SettingsChanges a = applyLines(kVariantA, {"#$DI5=five", "#$DI8=eight", "#$DI4=four"});
  EXPECT_EQ(a.inputNames[3], "four");
  for (int i = 4; i < kMaxInputs; ++i) EXPECT_FALSE(a.inputNames[i]) << "input " << i + 1;

  SettingsChanges b = applyLines(kVariantB, {"#$SEND=1234", "#$DO1=out", "#$DI8=eight"});
  EXPECT_FALSE(b.destinationPort) << "DRAVIK_B has no destination port";
  for (const auto& name : b.outputNames) EXPECT_FALSE(name) << "DRAVIK_B has no outputs";
  EXPECT_EQ(b.inputNames[7], "eight");
}

TEST(SettingsFile, WhatIsWrittenReadsBackTheSame) {
  const SettingsRecord written = sampleRecordB();
  SettingsChanges read;
  for (const std::string& line : splitSettingsLines(formatSettingsFile(kVariantB, written))) {
    applySettingsLine(kVariantB, line, read);
  }
  EXPECT_EQ(read.windowTitle, written.windowTitle);
  for (int i = 0; i < kPortSlotCount; ++i) EXPECT_EQ(read.ports[i], written.ports[i]) << i;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(read.inputNames[i], written.inputNames[i]) << i;
  EXPECT_EQ(read.logging, written.logging);
  EXPECT_EQ(read.startRequested, written.running);
  EXPECT_EQ(read.logFilePath, written.logFilePath);
}

using test::fileText;
using test::TempDir;

unsigned permissions(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Runs `save` in a child process without root's power to write anywhere, so that a folder
// without write permission refuses new files; its answer.
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

TEST(SettingsSave, KeepsWhatTheOperatorSetOnTheFile) {
  TempDir dir;
  const std::string file = dir.path() + "/a.dva";
  std::ofstream(file) << "old";

  ::chmod(file.c_str(), 0444);
  EXPECT_FALSE(textfile::replace(file, "new")) << "a read-only file is refused";
  EXPECT_EQ(fileText(file), "old");
  EXPECT_EQ(permissions(file), 0444u);

  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(textfile::replace(file, "new"));
  EXPECT_EQ(fileText(file), "new");
  EXPECT_EQ(permissions(file), 0640u) << "the file keeps its permission bits";

  const std::string link = dir.path() + "/link.dva";
  std::filesystem::create_symlink("a.dva", link);
  ASSERT_TRUE(textfile::replace(link, "through"));
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays a link";
  EXPECT_EQ(fileText(file), "through") << "its target takes the settings";

  // A folder that takes no new file, holding a file its owner may write.
  const std::string locked = dir.path() + "/locked";
  std::filesystem::create_directory(locked);
  const std::string inside = locked + "/DRAVIK-A.ini";
  std::ofstream(inside) << "/old/path.dva";
  if (::geteuid() == 0) {
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::chown(locked.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(inside.c_str(), 65534, 65534), 0);
  }
  ::chmod(locked.c_str(), 0555);
  EXPECT_TRUE(saveAsNobody([&] { return textfile::replace(inside, "/new/path.dva"); }))
      << "rewritten in place when no temporary file can be made";
  EXPECT_EQ(fileText(inside), "/new/path.dva");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked), {}), 1);
  ::chmod(locked.c_str(), 0755);
}

}  // namespace
}  // namespace dravik
