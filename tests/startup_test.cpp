// Start-up: the defaults, the folders, and the startup configuration naming the settings file.
#include <gtest/gtest.h>

#include <tuple>

#include "loopback_peer.h"
#include "platform/program_directory.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using namespace test;

TEST(StartUp, WithoutAStartupFileEverySettingHasItsDefault) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(std::string(p->modelName));
    TempDir config, data;
    MonitorRig rig(*p, config.path(), data.path());
    ASSERT_TRUE(rig.monitor.initDialog());
    const std::string model(p->modelName), ext(p->settingsExtension);
    const std::string sep(1, pathSeparator());
    const std::string settings = config.path() + sep + model + "." + ext;
    NotifyingView& v = rig.view;
    EXPECT_TRUE(std::filesystem::is_empty(config.path()) && std::filesystem::is_empty(data.path()))
        << "start-up writes no file";
    EXPECT_EQ(rig.monitor.windowTitle() + "|" + v.text(ctl::kLogFileField),
              model + "|" + data.path() + sep + model + ".csv");
    for (const InputRow& row : windowProfile(*p).inputs)
      EXPECT_EQ(v.control(row.nameEdit).limit, 20);
    for (const OutputRow& row : windowProfile(*p).outputs)
      EXPECT_TRUE(v.control(row.nameEdit).limit == 20 && !v.control(row.button).enabled)
          << row.button;
    EXPECT_EQ(std::tuple(rig.monitor.state().running.load(), rig.monitor.ready(),
                         rig.monitor.namesChanged(), v.control(ctl::kTracePane).visible),
              std::tuple(0, true, false, false));
    EXPECT_EQ(v.trace(),
              p->traceEnabled ? messages().traceDevelopmentOnly + "cfg : " + settings + "\r\n" : "")
        << "no settings file was looked at; DRAVIK_A traces nothing";

    std::string expected = "#$TITLEBAR=" + model + "\r\n#$PORT=10003\r\n#$PORT2=\r\n#$PORT3=\r\n" +
                           "#$PORT4=\r\n" + (p->hasOutputs() ? "#$SEND=10003\r\n" : "");
    for (const auto& [kind, count] : {std::pair("DI", p->inputCount()), {"DO", p->outputCount()}})
      for (int i = 1; i <= count; ++i)
        expected += "#$" + (kind + std::to_string(i)) + "=" + kind + std::to_string(i) + "\r\n";
    expected +=
        "#$LOGGING=OFF\r\n#$SERVER=STOP\r\n#$LOGFILENAME=" + data.path() + sep + model + ".csv\r\n";
    const std::string saved = data.path() + "/saved." + ext;
    choose(rig, saved, &Monitor::saveSettings);
    EXPECT_EQ(readBytes(saved), expected);
    const View::FileDialog shown = v.fileDialogs().at(0);
    EXPECT_TRUE(shown.save && shown.defaultExtension == ext && shown.initialPath == settings &&
                shown.filter == windowProfile(*p).settingsFilter);
    EXPECT_EQ(rig.monitor.settingsFilePath() + "|" + fileText(config.path() + sep + model + ".ini"),
              saved + "|" + saved)
        << "the startup file names the saved file: the path alone, no line end";
    EXPECT_TRUE(v.messageBoxes().empty());
  }
}

TEST(StartUp, TheStartupFileNamesTheSettingsToApplyAndMayStartTheServer) {
  TempDir dir;
  const int port = freePort();
  const std::string settings = dir.path() + "/run.dva";
  writeBytes(settings, "#$DI3=Pump\r\n#$PORT=" + std::to_string(port) +
                           "\r\n#$SEND=12345\r\n#$TITLEBAR=Plant\r\n#$SERVER=START\r\n");
  writeBytes(dir.path() + "/DRAVIK-A.ini", settings + "\r\nignored second line\r\n");
  MonitorRig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  EXPECT_EQ(a.monitor.settingsFilePath() + "|" + a.view.text(1006) + "|" + a.view.caption() + "|" +
                a.view.text(ctl::kDestinationPort),
            settings + "|Pump|Plant|10003")
      << "a destination port from the startup settings never survives start-up";
  EXPECT_FALSE(a.monitor.namesChanged()) << "names applied at start-up are not edits";
  EXPECT_EQ(a.monitor.state().running, 1) << "the server runs when initialisation returns";
  const int unit = connectUnit(port);
  EXPECT_GE(unit, 0) << "listening on 127.0.0.1:" << port;
  hangUp(unit);

  // An empty first line names no file.
  writeBytes(dir.path() + "/DRAVIK-B.ini", "\r\n" + dir.path() + "/second.dvb");
  writeBytes(dir.path() + "/second.dvb", "#$DI1=never\r\n");
  MonitorRig b(kVariantB, dir.path());
  ASSERT_TRUE(b.monitor.initDialog());
  EXPECT_EQ(b.view.text(1004), "DI1") << "only the first line counts";
  EXPECT_TRUE(b.view.trace().ends_with(messages().settingsMissing + "cfg : \r\n"))
      << b.view.trace();
  choose(b, std::nullopt, &Monitor::saveSettings);
  EXPECT_EQ(b.view.fileDialogs().at(0).initialPath, "") << "the save dialog starts unnamed";
}

#ifndef _WIN32
// The program's folder holds this program. A writable one keeps everything beside it;
// otherwise XDG folders, whose unset or relative variables fall back to the defaults under HOME.
TEST(StartUp, AnUnwritableProgramFolderSendsTheFilesToPerUserFolders) {
  const std::string program = programDirectory();
  EXPECT_TRUE(!program.empty() && program.back() != '/') << program;
  EXPECT_TRUE(std::filesystem::exists(cp932::toUtf8(program) + "/settings_tests")) << program;
  const auto both = [](const FileFolders& f) { return f.config + " " + f.data; };
  const std::tuple<bool, UserEnvironment, std::string> cases[] = {
      {true, {"/home/op", "/cfg", "/share"}, "/opt/dravik /opt/dravik"},
      {false, {"/home/op", "/cfg", "/share"}, "/cfg/dravik /share/dravik"},
      {false, {"/home/op", "", ""}, "/home/op/.config/dravik /home/op/.local/share/dravik"},
      {false, {"/home/op", "cfg", "sh"}, "/home/op/.config/dravik /home/op/.local/share/dravik"},
  };
  for (const auto& [writable, user, want] : cases) {
    EXPECT_EQ(both(chooseFileFolders("/opt/dravik", writable, user)), want)
        << "writable " << writable << ", XDG '" << user.configHome << "'";
  }

  TempDir dir;
  EXPECT_EQ(both(fileFolders(dir.path())), dir.path() + " " + dir.path());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "nothing is made beside a writable program";
  const std::string home = dir.path() + "/home";
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
  const FileFolders folders = fileFolders(dir.path() + "/missing");
  EXPECT_EQ(both(folders), home + "/.config/dravik " + home + "/.local/share/dravik");
  EXPECT_TRUE(std::filesystem::is_directory(folders.config)) << "made at start-up";
  EXPECT_EQ(std::filesystem::status(folders.data).permissions(), std::filesystem::perms::owner_all)
      << "made at start-up, private to its user";
}

#else
TEST(StartUp, AnUnwritableProgramFolderSendsTheFilesToPerUserFolders) {
  GTEST_SKIP() << "HOME and the XDG folders are Linux's; WindowsProgramFolder tests the AppData "
                  "folders";
}
#endif

}  // namespace
}  // namespace dravik
