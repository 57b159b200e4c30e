// Start-up: the defaults of both variants and the startup configuration that names the
// settings file to apply (and maybe asks for a running server).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "platform/cp932.h"
#include "platform/program_directory.h"
#include "platform/text_file.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using test::readBytes;
using test::Rig;
using test::TempDir;
using test::writeBytes;

// The defaults as the window shows them and as a save right after start-up writes them.
TEST(StartUp, WithoutAStartupFileEverySettingHasItsDefault) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(std::string(p->programName));
    // An installed program keeps its startup configuration and its log in two folders.
    TempDir config;
    TempDir data;
    Rig rig(*p, config.path(), data.path());
    ASSERT_TRUE(rig.monitor.initDialog());
    const std::string model(p->modelName);
    Monitor& m = rig.monitor;
    test::NotifyingView& v = rig.view;
    EXPECT_TRUE(std::filesystem::is_empty(config.path()) && std::filesystem::is_empty(data.path()))
        << "start-up writes no file";
    EXPECT_EQ(m.startupFilePath(), config.path() + "/" + model + ".ini");
    EXPECT_EQ(m.settingsFilePath(),
              config.path() + "/" + model + (p->hasOutputs() ? ".dva" : ".dvb"));
    EXPECT_EQ(m.windowTitle(), model);
    EXPECT_EQ(v.text(ctl::kLogFileField), data.path() + "/" + model + ".csv");
    for (const InputRow& row : p->inputs) EXPECT_EQ(v.control(row.nameEdit).limit, 20);
    for (const OutputRow& row : p->outputs) {
      EXPECT_EQ(v.control(row.nameEdit).limit, 20);
      EXPECT_FALSE(v.control(row.button).enabled) << "ON/OFF " << row.button;
    }
    EXPECT_FALSE(v.control(ctl::kTracePane).visible);
    EXPECT_EQ(m.state().running, 0);
    EXPECT_TRUE(m.ready());
    EXPECT_FALSE(m.namesChanged());
    EXPECT_EQ(v.trace(), p->traceEnabled ? messages().traceDevelopmentOnly +
                                               "cfg : " + m.settingsFilePath() + "\r\n"
                                         : "")
        << "no settings file was looked at; DRAVIK_A traces nothing";

    std::string expected = "#$TITLEBAR=" + model + "\r\n#$PORT=10003\r\n#$PORT2=\r\n#$PORT3=\r\n" +
                           "#$PORT4=\r\n" + (p->hasOutputs() ? "#$SEND=10003\r\n" : "");
    for (int i = 1; i <= p->inputCount(); ++i)
      expected += "#$DI" + std::to_string(i) + "=DI" + std::to_string(i) + "\r\n";
    for (int i = 1; i <= p->outputCount(); ++i)
      expected += "#$DO" + std::to_string(i) + "=DO" + std::to_string(i) + "\r\n";
    expected +=
        "#$LOGGING=OFF\r\n#$SERVER=STOP\r\n#$LOGFILENAME=" + data.path() + "/" + model + ".csv\r\n";
    v.answerFileDialog(data.path() + "/saved");
    m.saveSettings();
    EXPECT_EQ(readBytes(data.path() + "/saved"), expected);
  }
}

TEST(StartUp, TheStartupFileNamesTheSettingsToApply) {
  TempDir dir;
  const std::string settings = dir.path() + "/plant.dvb";
  writeBytes(settings, "#$DI3=Pump\r\n#$PORT2=10004\r\n#$TITLEBAR=Plant\r\n");
  writeBytes(dir.path() + "/DRAVIK-B.ini", settings + "\r\nignored second line\r\n");
  Rig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  EXPECT_EQ(b.monitor.settingsFilePath(), settings);
  EXPECT_EQ(b.view.text(1006), "Pump");
  EXPECT_EQ(b.view.text(1009), "10004");
  EXPECT_EQ(b.monitor.windowTitle(), "Plant");
  EXPECT_EQ(b.view.caption(), "Plant");
  EXPECT_FALSE(b.monitor.namesChanged()) << "names applied at start-up are not edits";
  EXPECT_TRUE(b.monitor.ready());
  const std::string trace = b.view.trace();
  EXPECT_NE(trace.find(messages().settingsFound + "----------\r\n#$DI3=Pump\r\n"),
            std::string::npos);
  EXPECT_TRUE(trace.ends_with("----------\r\ncfg : " + settings + "\r\n")) << trace;
}

TEST(StartUp, EmptyStartupFilesAndEmptyFirstLines) {
  TempDir empty;
  writeBytes(empty.path() + "/DRAVIK-B.ini", "");
  Rig e(kVariantB, empty.path());
  ASSERT_TRUE(e.monitor.initDialog());
  EXPECT_EQ(e.monitor.settingsFilePath(), empty.path() + "/DRAVIK-B.dvb")
      << "an empty file holds no line";
  EXPECT_EQ(e.view.trace().find(messages().settingsMissing), std::string::npos)
      << "nothing was applied";

  TempDir blank;
  writeBytes(blank.path() + "/DRAVIK-B.ini", "\r\n" + blank.path() + "/second.dvb");
  writeBytes(blank.path() + "/second.dvb", "#$DI1=never\r\n");
  Rig b(kVariantB, blank.path());
  ASSERT_TRUE(b.monitor.initDialog());
  EXPECT_EQ(b.monitor.settingsFilePath(), "") << "an empty first line is a line";
  EXPECT_EQ(b.view.text(1004), "DI1") << "only the first line counts";
  EXPECT_TRUE(b.view.trace().ends_with(messages().settingsMissing + "cfg : \r\n"));
  b.view.answerFileDialog(std::nullopt);
  b.monitor.saveSettings();
  EXPECT_EQ(b.view.fileDialogs().at(0).initialPath, "") << "the save dialog starts unnamed";
}

TEST(StartUp, AJapaneseProgramFolderWorks) {
  TempDir dir;
  const std::string utf8Folder = dir.path() + "/監視プログラム";
  std::filesystem::create_directory(utf8Folder);
  const std::string folder = cp932::fromUtf8(utf8Folder);
  writeBytes(utf8Folder + "/DRAVIK-A.ini", cp932::fromUtf8(utf8Folder + "/設定.dva"));
  writeBytes(utf8Folder + "/設定.dva", "#$DI2=" + cp932::fromUtf8("扉") + "\r\n");
  Rig a(kVariantA, folder);
  ASSERT_TRUE(a.monitor.initDialog());
  EXPECT_EQ(a.view.text(1005), cp932::fromUtf8("扉")) << "read through a CP932 path";
  EXPECT_EQ(a.monitor.logFilePath(), folder + "/DRAVIK-A.csv");

  a.view.answerFileDialog(cp932::fromUtf8(utf8Folder + "/保存.dva"));
  a.monitor.saveSettings();
  EXPECT_TRUE(a.view.messageBoxes().empty());
  const std::optional<std::string> saved = readBytes(utf8Folder + "/保存.dva");
  ASSERT_TRUE(saved) << "the file name on disk is UTF-8";
  EXPECT_NE(saved->find("#$LOGFILENAME=" + folder + "/DRAVIK-A.csv\r\n"), std::string::npos)
      << "inside the file the path stays CP932";
  EXPECT_EQ(readBytes(utf8Folder + "/DRAVIK-A.ini"), cp932::fromUtf8(utf8Folder + "/保存.dva"));
}

TEST(StartUp, ProgramDirectoryIsTheFolderOfThisProgram) {
  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(cp932::toUtf8(dir) + "/settings_tests"))
      << dir << " should hold the running test program";
}

// A writable program folder keeps everything beside it; otherwise XDG folders, whose unset or
// relative variables fall back to the defaults under HOME.
TEST(StartUp, AnUnwritableProgramFolderSendsTheFilesToPerUserFolders) {
  struct Case {
    bool writable;
    UserEnvironment user;
    std::string config;
    std::string data;
  };
  const Case cases[] = {
      {true, {"/home/op", "/cfg", "/share"}, "/opt/dravik", "/opt/dravik"},
      {false, {"/home/op", "/cfg", "/share"}, "/cfg/dravik", "/share/dravik"},
      {false, {"/home/op", "", ""}, "/home/op/.config/dravik", "/home/op/.local/share/dravik"},
      {false, {"/home/op", "cfg", "sh"}, "/home/op/.config/dravik", "/home/op/.local/share/dravik"},
  };
  for (const Case& c : cases) {
    const FileFolders folders = chooseFileFolders("/opt/dravik", c.writable, c.user);
    EXPECT_EQ(folders.config + " " + folders.data, c.config + " " + c.data)
        << "writable " << c.writable << ", XDG '" << c.user.configHome << "'";
  }
}

TEST(StartUp, PerUserFoldersAreCreatedAtStartUpAndAWritableFolderIsUsedAsItIs) {
  TempDir dir;
  const FileFolders portable = fileFolders(dir.path());
  EXPECT_EQ(portable.config, dir.path());
  EXPECT_EQ(portable.data, dir.path());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "nothing is made beside a writable program";

  const std::string home = dir.path() + "/home";
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
  const FileFolders folders = fileFolders(dir.path() + "/missing");
  EXPECT_EQ(folders.config, home + "/.config/dravik");
  EXPECT_EQ(folders.data, home + "/.local/share/dravik");
  for (const std::string& made : {folders.config, folders.data}) {
    EXPECT_TRUE(std::filesystem::is_directory(made)) << made << " was not created";
  }
  EXPECT_EQ(std::filesystem::status(folders.data).permissions(), std::filesystem::perms::owner_all)
      << "private to its user";
}

TEST(StartUp, FifosDevicesAndOversizedFilesAreNoFilesToRead) {
  const std::string found = messages().settingsFound;
  const std::string missing = messages().settingsMissing;
  // Starts DRAVIK_B in `dir`; false when start-up waited on a FIFO.
  const auto startsIn = [](Rig& rig, const std::string& fifo) {
    return test::returnsWithoutFifoPeer(fifo, [&] { ASSERT_TRUE(rig.monitor.initDialog()); });
  };

  TempDir fifoIni;
  const std::string ini = fifoIni.path() + "/DRAVIK-B.ini";
  ASSERT_EQ(::mkfifo(ini.c_str(), 0666), 0);
  Rig a(kVariantB, fifoIni.path());
  EXPECT_TRUE(startsIn(a, ini)) << "start-up waited for a writer to the startup configuration";
  EXPECT_EQ(a.monitor.settingsFilePath(), fifoIni.path() + "/DRAVIK-B.dvb") << "the default";

  TempDir fifoSettings;
  const std::string settings = fifoSettings.path() + "/plant.dvb";
  ASSERT_EQ(::mkfifo(settings.c_str(), 0666), 0);
  writeBytes(fifoSettings.path() + "/DRAVIK-B.ini", settings);
  Rig b(kVariantB, fifoSettings.path());
  EXPECT_TRUE(startsIn(b, settings)) << "start-up waited for a writer to the settings file";
  EXPECT_NE(b.view.trace().find(missing), std::string::npos) << "a FIFO is a missing file";

  TempDir zero;
  std::filesystem::create_symlink("/dev/zero", zero.path() + "/DRAVIK-B.ini");
  Rig c(kVariantB, zero.path());
  ASSERT_TRUE(c.monitor.initDialog());
  EXPECT_EQ(c.monitor.settingsFilePath(), zero.path() + "/DRAVIK-B.dvb") << "no endless line";

  // The bounds: a first line of 64 KiB with its line end, a settings file of 1 MiB.
  TempDir sized;
  const std::string path = sized.path() + "/plant.dvb";
  const std::string longLine =
      path + std::string(textfile::kMaxFirstLineBytes - path.size() - 2, ' ');
  const std::string first = "#$DI1=Pump\r\n";
  writeBytes(path, first + std::string(textfile::kMaxFileBytes - first.size(), 'x'));
  writeBytes(sized.path() + "/DRAVIK-B.ini", longLine + "\r\n");
  Rig d(kVariantB, sized.path());
  ASSERT_TRUE(d.monitor.initDialog());
  EXPECT_EQ(d.monitor.settingsFilePath(), longLine) << "a first line at the bound is read";
  writeBytes(sized.path() + "/DRAVIK-B.ini", path + "\r\n");
  Rig e(kVariantB, sized.path());
  ASSERT_TRUE(e.monitor.initDialog());
  EXPECT_EQ(e.view.text(1004), "Pump") << "a settings file at the bound is applied";

  writeBytes(sized.path() + "/DRAVIK-B.ini", longLine + " \r\n");
  Rig f(kVariantB, sized.path());
  ASSERT_TRUE(f.monitor.initDialog());
  EXPECT_EQ(f.monitor.settingsFilePath(), sized.path() + "/DRAVIK-B.dvb")
      << "a longer first line makes the file unreadable";
  writeBytes(path, first + std::string(textfile::kMaxFileBytes - first.size() + 1, 'x'));
  writeBytes(sized.path() + "/DRAVIK-B.ini", path);
  Rig g(kVariantB, sized.path());
  ASSERT_TRUE(g.monitor.initDialog());
  EXPECT_EQ(g.view.text(1004), "DI1") << "a larger settings file is not applied";
  EXPECT_NE(g.view.trace().find(missing), std::string::npos);
  EXPECT_EQ(g.view.trace().find(found), std::string::npos);
}

bool connectsToLoopback(int port) {
  const int s = test::connectUnit(port);
  if (s >= 0) ::close(s);
  return s >= 0;
}

TEST(StartUp, AStartupFileAskingForStartListensBeforeTheWindowShows) {
  TempDir dir;
  const int port = test::freePort();
  ASSERT_NE(port, 0);
  const std::string settings = dir.path() + "/run.dva";
  writeBytes(settings, "#$PORT=" + std::to_string(port) + "\r\n#$SEND=12345\r\n#$SERVER=START\r\n");
  writeBytes(dir.path() + "/DRAVIK-A.ini", settings);
  Rig a(kVariantA, dir.path());
  a.monitor.overrideLocalAddress(htonl(INADDR_LOOPBACK));
  ASSERT_TRUE(a.monitor.initDialog());
  EXPECT_EQ(a.monitor.state().running, 1) << "the server runs when initialisation returns";
  EXPECT_TRUE(connectsToLoopback(port)) << "listening on 127.0.0.1:" << port;
  EXPECT_EQ(a.view.text(ctl::kDestinationPort), "10003")
      << "a destination port from the startup settings never survives start-up";
  a.monitor.shutdown();
}

}  // namespace
}  // namespace dravik
