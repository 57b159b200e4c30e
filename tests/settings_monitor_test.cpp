// Saving and loading through the monitor: the file dialogs, the bytes written, the startup
// configuration, refusals and failures, and applying a file back into the window.
#include <arpa/inet.h>
#include <limits.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "platform/cp932.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using test::kHeaderStart;
using test::readBytes;
using test::Rig;
using test::TempDir;
using test::writeBytes;

TEST(SettingsSave, TheDialogStartsFromTheSettingsFileAndTheStartupFileNamesTheSaved) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    const std::string ext = p->hasOutputs() ? "dva" : "dvb";
    const std::string upper = p->hasOutputs() ? "DVA" : "DVB";
    TempDir dir;
    Rig rig(*p, dir.path());
    ASSERT_TRUE(rig.monitor.initDialog());
    const std::string target = dir.path() + "/saved." + ext;
    rig.view.answerFileDialog(target);
    rig.monitor.saveSettings();
    ASSERT_EQ(rig.view.fileDialogs().size(), 1u);
    const View::FileDialog shown = rig.view.fileDialogs()[0];
    EXPECT_TRUE(shown.save);
    EXPECT_EQ(shown.defaultExtension, ext);
    EXPECT_EQ(shown.initialPath, dir.path() + "/" + std::string(p->modelName) + "." + ext);
    EXPECT_EQ(shown.filter, upper + " file (*." + upper + ")|*." + upper + "|all files(*.*)|*.*||");
    EXPECT_TRUE(readBytes(target));
    EXPECT_EQ(readBytes(dir.path() + "/" + std::string(p->modelName) + ".ini"), target)
        << "the path alone, no line end";
    EXPECT_EQ(rig.monitor.settingsFilePath(), target);
    EXPECT_TRUE(rig.view.messageBoxes().empty());
  }
}

// The title is looked at before the names; either refuses before any dialog or file.
TEST(SettingsSave, KeyPrefixInAValueRefusesBeforeAnyDialog) {
  TempDir dir;
  Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  a.view.answerTitleDialog("Hall #$ 1");
  a.monitor.changeTitleBar();
  a.view.type(1032, "#$out");  // output 4
  a.view.answerFileDialog(dir.path() + "/never.dva");
  a.monitor.saveSettings();
  a.view.answerTitleDialog("Hall 1");
  a.monitor.changeTitleBar();
  a.monitor.saveSettings();
  EXPECT_EQ(a.view.messageBoxes(),
            (std::vector<std::string>{messages().titleHasKeyPrefix, messages().nameHasKeyPrefix}));
  EXPECT_TRUE(a.view.fileDialogs().empty()) << "no dialog after a refusal";
  EXPECT_EQ(a.monitor.settingsFilePath(), dir.path() + "/DRAVIK-A.dva");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no file written";
}

TEST(SettingsSave, AFileThatCannotBeWrittenLeavesBothFilesAlone) {
  TempDir dir;
  Rig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  const std::string good = dir.path() + "/good.dvb";
  b.view.answerFileDialog(good);
  b.monitor.saveSettings();
  const std::optional<std::string> goodBytes = readBytes(good);
  ASSERT_TRUE(goodBytes);
  const std::string ini = dir.path() + "/DRAVIK-B.ini";
  ASSERT_EQ(readBytes(ini), good);

  // A folder standing where the file should go, and a path under a folder that is missing.
  const std::string folder = dir.path() + "/taken.dvb";
  std::filesystem::create_directory(folder);
  writeBytes(folder + "/inside", "keep");
  b.view.type(1004, "changed");
  for (const std::string& target : {folder, dir.path() + "/missing/x.dvb"}) {
    b.view.clearMessageBoxes();
    b.view.answerFileDialog(target);
    b.monitor.saveSettings();
    EXPECT_EQ(b.view.messageBoxes(), std::vector<std::string>{messages().settingsNotSaved})
        << target << ": a failed save is reported";
    EXPECT_EQ(b.monitor.settingsFilePath(), target) << "the chosen path is taken all the same";
    EXPECT_EQ(readBytes(ini), good) << target << ": the startup file still names the good file";
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(readBytes(folder + "/inside"), "keep");
  EXPECT_EQ(readBytes(good), goodBytes);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/missing"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3)
      << "good.dvb, the startup file and the folder; no temporary file left";

  // Cancelling the dialog changes nothing.
  b.view.clearMessageBoxes();
  b.view.answerFileDialog(std::nullopt);
  b.monitor.saveSettings();
  EXPECT_EQ(b.monitor.settingsFilePath(), dir.path() + "/missing/x.dvb");
  EXPECT_TRUE(b.view.messageBoxes().empty());
}

TEST(SettingsLoad, WhatWasSavedComesBackEverywhere) {
  TempDir dir;
  Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string kanji = cp932::fromUtf8("扉センサ");
  a.view.answerTitleDialog("Line " + kanji);
  a.monitor.changeTitleBar();
  const std::vector<int> edits = {1000, 1009, 1011, 1012, ctl::kDestinationPort,
                                  1004, 1005, 1006, 1007, 1016,
                                  1025, 1026, 1032};
  std::vector<std::string> saved;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    saved.push_back(i == 5 ? kanji : "v" + std::to_string(i));
    a.view.type(edits[i], saved.back());
  }
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  a.view.answerFileDialog(dir.path() + "/log.csv");
  a.monitor.browseLogFile();
  const std::string file = dir.path() + "/round.dva";
  a.view.answerFileDialog(file);
  a.monitor.saveSettings();
  ASSERT_TRUE(std::filesystem::exists(file));

  // Everything changes, then the file is loaded back.
  a.view.answerTitleDialog("other");
  a.monitor.changeTitleBar();
  for (int id : edits) a.view.type(id, "zz");
  a.view.setChecked(ctl::kLogging, false);
  a.view.answerFileDialog(dir.path() + "/other.csv");
  a.monitor.browseLogFile();
  a.view.answerFileDialog(file);
  a.monitor.loadSettings();

  const View::FileDialog open = a.view.fileDialogs().back();
  EXPECT_FALSE(open.save) << "loading shows the open dialog";
  EXPECT_EQ(open.defaultExtension, "dva");
  EXPECT_EQ(open.initialPath, file) << "starts from the last confirmed settings file";
  for (std::size_t i = 0; i < edits.size(); ++i) {
    EXPECT_EQ(a.view.text(edits[i]), saved[i]) << "control " << edits[i];
  }
  EXPECT_EQ(a.view.caption(), "Line " + kanji);
  EXPECT_TRUE(a.view.isChecked(ctl::kLogging));
  EXPECT_EQ(a.monitor.logFilePath(), dir.path() + "/log.csv");
  EXPECT_EQ(a.view.text(ctl::kLogFileField), dir.path() + "/log.csv");
  EXPECT_EQ(a.monitor.settingsFilePath(), file);
  EXPECT_TRUE(a.monitor.ready());
  EXPECT_TRUE(a.monitor.namesChanged()) << "the header owed for the edits above is still owed";
  EXPECT_EQ(readBytes(dir.path() + "/DRAVIK-A.ini"), file) << "loading never writes it";

  // The loaded names and path reach the access log at once: a new log gets them as header.
  a.monitor.frameAccepted(0, "127.0.0.1");
  const std::optional<std::string> log = readBytes(dir.path() + "/log.csv");
  ASSERT_TRUE(log);
  EXPECT_EQ(log->substr(0, log->find("\r\n")),
            kHeaderStart + "," + kanji + ",v6,v7,v8,v9,v10,v11,v12");
}

TEST(SettingsLoad, ApplyingKeepsWhatTheFileDoesNotMention) {
  TempDir dir;
  Rig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  const Messages& m = messages();

  b.view.clearTrace();
  b.view.type(1009, "2000");
  const std::string onlyStart = dir.path() + "/start.dvb";
  writeBytes(onlyStart, "#$SERVER=START");
  EXPECT_TRUE(b.monitor.applySettingsFile(onlyStart)) << "a last line without its end counts";
  EXPECT_EQ(b.view.text(1009), "2000");
  EXPECT_EQ(b.view.text(1004), "DI1");
  EXPECT_EQ(b.view.caption(), "DRAVIK-B") << "the caption is refreshed from the title";
  EXPECT_EQ(b.view.trace(), m.settingsFound + "----------\r\n#$SERVER=START\r\n----------\r\n");

  const std::string empty = dir.path() + "/empty.dvb";
  writeBytes(empty, "");
  b.view.clearTrace();
  b.view.setText(ctl::kLogFileField, "stale");
  EXPECT_FALSE(b.monitor.applySettingsFile(empty));
  EXPECT_EQ(b.view.trace(), m.settingsFound + "----------\r\n----------\r\n");
  EXPECT_EQ(b.view.text(ctl::kLogFileField), dir.path() + "/DRAVIK-B.csv")
      << "an empty file still refreshes the log file field";

  b.view.clearTrace();
  b.view.setText(ctl::kLogFileField, "stale");
  EXPECT_FALSE(b.monitor.applySettingsFile(dir.path() + "/absent.dvb"));
  EXPECT_EQ(b.view.trace(), m.settingsMissing);
  EXPECT_EQ(b.view.text(ctl::kLogFileField), "stale") << "a missing file refreshes nothing";

  // File lines are traced as they are: a percent sign is never a format, and a lone CR shows.
  const std::string percent = dir.path() + "/percent.dvb";
  writeBytes(percent, "#$DI2=100%s %d\r\n#$DI3=a\rb\r\n");
  b.view.clearTrace();
  b.monitor.applySettingsFile(percent);
  EXPECT_EQ(b.view.trace(),
            m.settingsFound + "----------\r\n#$DI2=100%s %d\r\n#$DI3=a\rb\r\n----------\r\n");
  EXPECT_EQ(b.view.text(1005), "100%s %d");
  EXPECT_EQ(b.view.text(1006), "ab");

  // A log path the system cannot take is refused, traced, and the previous one stays.
  const std::string paths = dir.path() + "/paths.dvb";
  const std::string longest = dir.path() + "/" + std::string(PATH_MAX - 2 - dir.path().size(), 'l');
  writeBytes(paths, "#$LOGFILENAME=" + longest + "\r\n");
  b.monitor.applySettingsFile(paths);
  EXPECT_EQ(b.monitor.logFilePath(), longest) << "one byte short of PATH_MAX names a file";
  for (const std::size_t bytes : {std::size_t{PATH_MAX}, std::size_t{256} << 10}) {
    writeBytes(paths,
               "#$DI4=Fan\r\n#$LOGFILENAME=" + longest + std::string(bytes - longest.size(), 'l'));
    b.view.clearTrace();
    b.view.setText(1007, "");
    b.monitor.applySettingsFile(paths);
    EXPECT_EQ(b.monitor.logFilePath(), longest) << bytes << " bytes name no file";
    EXPECT_EQ(b.view.text(ctl::kLogFileField), longest);
    EXPECT_EQ(b.view.text(1007), "Fan") << "the rest of the file is applied";
    EXPECT_NE(b.view.trace().find(m.logPathTooLong), std::string::npos) << "the refusal is traced";
  }
}

// Which lines each variant takes is the settings-line table's; here, what loading adds.
TEST(SettingsLoad, LoadingTakesTheDestinationPortAndNamesThatAreNoEdits) {
  TempDir dir;
  Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string file = dir.path() + "/load.dva";
  writeBytes(file, "#$SEND=4000\r\n#$DI4=four\r\n");
  a.view.answerFileDialog(file);
  a.monitor.loadSettings();
  EXPECT_EQ(a.view.text(1007), "four");
  EXPECT_EQ(a.view.text(ctl::kDestinationPort), "4000") << "loading takes it, start-up does not";
  EXPECT_FALSE(a.monitor.namesChanged()) << "names loaded from a file are not edits";
  EXPECT_TRUE(a.monitor.ready()) << "ready again after loading";

  // A missing file leaves the path pointing at it for the next dialog.
  a.view.answerFileDialog(dir.path() + "/gone.dva");
  a.monitor.loadSettings();
  a.view.answerFileDialog(std::nullopt);
  a.monitor.saveSettings();
  EXPECT_EQ(a.view.fileDialogs().back().initialPath, dir.path() + "/gone.dva");
}

TEST(SettingsLoad, LoadingWhileRunningStopsAppliesAndStartsAgain) {
  TempDir dir;
  Rig b(kVariantB, dir.path());
  b.monitor.overrideLocalAddress(htonl(INADDR_LOOPBACK));
  ASSERT_TRUE(b.monitor.initDialog());
  const int port = test::freePort();
  ASSERT_NE(port, 0);
  b.view.type(1000, std::to_string(port));
  b.monitor.startStop();
  ASSERT_EQ(b.monitor.state().running, 1) << b.view.trace();

  const std::string file = dir.path() + "/running.dvb";
  b.view.answerFileDialog(file);
  b.monitor.saveSettings();
  EXPECT_NE(readBytes(file)->find("#$SERVER=START\r\n"), std::string::npos);

  b.view.type(1004, "edited");
  b.view.answerFileDialog(file);
  b.monitor.loadSettings();
  EXPECT_EQ(b.view.text(1004), "DI1");
  EXPECT_EQ(b.monitor.state().running, 1) << "stopped for the load, started again after";
  EXPECT_TRUE(b.view.trace().starts_with("server start.\r\n"))
      << "a fresh start, which only a stopped server takes: " << b.view.trace();

  // A file without a START line leaves a server that loading stopped stopped.
  const std::string stopFile = dir.path() + "/stopped.dvb";
  writeBytes(stopFile, "#$DI1=x\r\n");
  b.view.answerFileDialog(stopFile);
  b.monitor.loadSettings();
  EXPECT_EQ(b.monitor.state().running, 0);
  b.monitor.shutdown();
}

}  // namespace
}  // namespace dravik
