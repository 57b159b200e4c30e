// Saving and loading through the monitor: refusals, failures, and applying a file back.
#include <limits.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_directory.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using namespace test;

TEST(SettingsSave, ARefusedOrFailedSaveLeavesBothFilesAlone) {
  TempDir dir;
  MonitorRig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  retitle(b, "Hall #$ 1");
  b.view.type(1026, "#$in");  // DI8
  b.monitor.saveSettings();
  retitle(b, "Hall 1");
  b.monitor.saveSettings();
  EXPECT_TRUE(b.view.fileDialogs().empty() && std::filesystem::is_empty(dir.path()))
      << "a refusal comes before any dialog or file";

  b.view.type(1026, "DI8");
  const std::string good = dir.path() + "/good.dvb", folder = dir.path() + "/taken.dvb";
  choose(b, good, &Monitor::saveSettings);
  const std::string goodBytes = fileText(good);
  std::filesystem::create_directory(folder);
  writeBytes(folder + "/inside", "keep");
  b.view.type(1004, "changed");
  for (const std::string& target : {folder, dir.path() + "/missing/x.dvb"}) {
    choose(b, target, &Monitor::saveSettings);
    EXPECT_EQ(b.monitor.settingsFilePath(), target) << "the chosen path is taken all the same";
    EXPECT_EQ(readBytes(dir.path() + "/DRAVIK-B.ini"), good) << target << ": startup file changed";
  }
  choose(b, std::nullopt, &Monitor::saveSettings);
  EXPECT_EQ(b.monitor.settingsFilePath(), dir.path() + "/missing/x.dvb") << "cancelled";
  EXPECT_EQ(b.view.messageBoxes(),
            (Lines{messages().titleHasKeyPrefix, messages().nameHasKeyPrefix,
                   messages().settingsNotSaved, messages().settingsNotSaved}))
      << "one per refusal or failure, none for the good save or the cancel";
  EXPECT_EQ(fileText(folder + "/inside") + "|" + fileText(good), "keep|" + goodBytes);
  EXPECT_EQ(entries(dir.path()), 3u)
      << "good.dvb, the startup file and the folder; no temporary file left";
}

TEST(SettingsLoad, WhatWasSavedComesBackEverywhere) {
  TempDir dir;
  MonitorRig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string kanji = cp932::fromUtf8("扉センサ");
  const std::vector<int> edits = {1000, 1009, 1011, 1012, ctl::kDestinationPort,
                                  1004, 1005, 1006, 1007, 1016,
                                  1025, 1026, 1032};
  // The caption and the log file field, then the edits.
  Lines saved = {"Line " + kanji, dir.path() + "/log.csv"};
  retitle(a, saved[0]);
  for (std::size_t i = 0; i < edits.size(); ++i) {
    saved.push_back(i == 5 ? kanji : "v" + std::to_string(i));
    a.view.type(edits[i], saved.back());
  }
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  choose(a, dir.path() + "/log.csv", &Monitor::browseLogFile);
  const std::string file = dir.path() + "/round.dva";
  choose(a, file, &Monitor::saveSettings);

  retitle(a, "other");
  for (int id : edits) a.view.type(id, "zz");
  a.view.setChecked(ctl::kLogging, false);
  choose(a, dir.path() + "/other.csv", &Monitor::browseLogFile);
  choose(a, file, &Monitor::loadSettings);

  const View::FileDialog open = a.view.fileDialogs().back();
  EXPECT_TRUE(!open.save && open.defaultExtension == "dva") << "loading shows the open dialog";
  EXPECT_EQ(open.initialPath, file) << "starts from the last confirmed settings file";
  Lines shown = {a.view.caption(), a.view.text(ctl::kLogFileField)};
  for (int id : edits) shown.push_back(a.view.text(id));
  EXPECT_EQ(shown, saved);
  EXPECT_TRUE(a.view.isChecked(ctl::kLogging));
  EXPECT_TRUE(a.monitor.ready());
  EXPECT_TRUE(a.monitor.namesChanged()) << "the header owed for the edits above is still owed";

  // The loaded names and path reach the access log at once: a new log gets them as header.
  a.monitor.framesAnswered(0, "127.0.0.1", std::vector<FrameStates>(1));
  const std::string log = fileText(saved[1]);
  EXPECT_EQ(log.substr(0, log.find("\r\n")),
            kHeaderStart + "," + kanji + ",v6,v7,v8,v9,v10,v11,v12");
  choose(a, file, &Monitor::loadSettings);
  EXPECT_FALSE(a.monitor.namesChanged()) << "names loaded from a file are not edits";
}

TEST(SettingsLoad, ApplyingKeepsWhatTheFileDoesNotMentionAndRestartsAServer) {
  TempDir dir;
  MonitorRig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  const Messages& m = messages();
  const std::string rule = "----------\r\n";
  const auto apply = [&](const std::string& bytes) {
    writeBytes(dir.path() + "/f.dvb", bytes);
    b.view.clearTrace();
    b.view.setText(ctl::kLogFileField, "stale");
    b.monitor.applySettingsFile(dir.path() + "/f.dvb");
    return b.view.trace();
  };

  b.view.type(1009, "2000");
  EXPECT_EQ(apply("#$SERVER=START"), m.settingsFound + rule + "#$SERVER=START\r\n" + rule)
      << "a last line without its end counts";
  EXPECT_EQ(b.view.text(1009) + "|" + b.view.text(1004) + "|" + b.view.caption(),
            "2000|DI1|DRAVIK-B")
      << "what the file does not name is kept; the caption is refreshed from the title";
  EXPECT_EQ(apply(""), m.settingsFound + rule + rule);
  EXPECT_EQ(b.view.text(ctl::kLogFileField), dir.path() + pathSeparator() + "DRAVIK-B.csv")
      << "an empty file still refreshes the log file field";
  // File lines are traced as they are: a percent sign is never a format, and a lone CR shows.
  EXPECT_EQ(apply("#$DI2=100%s %d\r\n#$DI3=a\rb\r\n"),
            m.settingsFound + rule + "#$DI2=100%s %d\r\n#$DI3=a\rb\r\n" + rule);
  EXPECT_EQ(b.view.text(1005) + "|" + b.view.text(1006), "100%s %d|ab");

  b.view.clearTrace();
  b.view.setText(ctl::kLogFileField, "stale");
  EXPECT_FALSE(b.monitor.applySettingsFile(dir.path() + "/absent.dvb"));
  EXPECT_EQ(b.view.trace(), m.settingsMissing);
  EXPECT_EQ(b.view.text(ctl::kLogFileField), "stale") << "a missing file refreshes nothing";

  const std::string longest = dir.path() + "/" + std::string(PATH_MAX - 2 - dir.path().size(), 'l');
  apply("#$LOGFILENAME=" + longest + "\r\n");
  EXPECT_EQ(b.monitor.logFilePath(), longest) << "one byte short of PATH_MAX names a file";
  const std::string kana = cp932::fromUtf8("ア");
#ifdef _WIN32
  // Windows counts UTF-16 units, one per kana: a path of more CP932 bytes than the limit fits.
  const std::string wide = longest.substr(0, longest.size() - 1) + kana;
  apply("#$LOGFILENAME=" + wide + "\r\n");
  EXPECT_EQ(b.monitor.logFilePath(), wide) << PATH_MAX << " bytes, one unit short of MAX_PATH";
  const std::string tooWide = wide + "l", kept = wide;
#else
  // Also refused: a CP932 path whose UTF-8 name on disk grows past the limit.
  const std::string tooWide = longest.substr(0, longest.size() - 2 * kana.size()) + kana + kana,
                    kept = longest;
#endif
  for (const std::string& tooLong :
       {longest + "l", longest + std::string(256 << 10, 'l'), tooWide}) {
    b.view.setText(1007, "");
    EXPECT_NE(apply("#$DI4=Fan\r\n#$LOGFILENAME=" + tooLong).find(m.logPathTooLong),
              std::string::npos)
        << "a path of " << tooLong.size() << " CP932 bytes: the refusal is traced";
    EXPECT_EQ(
        b.monitor.logFilePath() + "|" + b.view.text(ctl::kLogFileField) + "|" + b.view.text(1007),
        kept + "|" + kept + "|Fan")
        << tooLong.size() << " bytes name no file; the rest of the file is applied";
  }

  // Loading while running stops the server, applies the file and starts it again.
  ASSERT_TRUE(b.start(1)) << b.view.trace();

  const std::string file = dir.path() + "/running.dvb";
  choose(b, file, &Monitor::saveSettings);
  EXPECT_NE(readBytes(file)->find("#$SERVER=START\r\n"), std::string::npos);

  b.view.type(1004, "edited");
  choose(b, file, &Monitor::loadSettings);
  EXPECT_EQ(b.view.text(1004), "DI1");
  EXPECT_EQ(b.monitor.state().running, 1) << "stopped for the load, started again after";
  EXPECT_TRUE(b.view.trace().starts_with("server start.\r\n"))
      << "a fresh start, which only a stopped server takes: " << b.view.trace();

  // A file without a START line leaves a server that loading stopped stopped.
  writeBytes(file, "#$DI1=x\r\n");
  choose(b, file, &Monitor::loadSettings);
  EXPECT_EQ(b.monitor.state().running, 0);
}

}  // namespace
}  // namespace dravik
