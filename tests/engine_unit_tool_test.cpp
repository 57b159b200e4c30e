// dravik-unit driven as a subprocess against the running engine.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <utility>

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor_rig.h"

namespace dravik {
namespace {

using namespace test;

#ifndef _WIN32
// The status the shell's wait gives for an exit code.
int exitStatus(int code) {
  return code << 8;
}
#else
#define popen _popen
#define pclose _pclose
int exitStatus(int code) {
  return code;
}
#endif

// The exit status and the output, stderr included, of `tool` once it ends.
std::pair<int, std::string> runTool(const std::string& tool, const std::string& arguments) {
  FILE* pipe = ::popen((tool + " " + arguments + " 2>&1").c_str(), "r");
  std::string output;
  for (char line[512]; std::fgets(line, sizeof line, pipe) != nullptr;) output += line;
  return {::pclose(pipe), output};
}

std::pair<int, std::string> run(const std::string& arguments) {
  return runTool(DRAVIK_UNIT_PATH, arguments);
}

TEST(DravikUnit, ReportsAndPrintsTheAcknowledgement) {
  MonitorRig rig(kVariantB);
  ASSERT_TRUE(rig.start(1));
  const std::string port = "--port " + std::to_string(rig.listening[0]);
  const std::string once = "sent: 44 4F 35 38 C8\nack: 64 6F 25 28 C8  inputs on: DI1 DI3 DI8\n";
  EXPECT_EQ(run(port + " --do 10100001 --count 2 --interval 10"), std::pair(0, once + once));
  EXPECT_EQ(run(port + " --dk 02/03"),
            std::pair(0, std::string("sent: 44 4B 32 33 30 30 C8\n"
                                     "ack: 64 6B 26 28 C8  inputs on: DI2 DI3 DI8\n")));
}

TEST(DravikUnit, RefusesCommandLinesItCannotCarryOut) {
  const std::pair<const char*, int> cases[] = {
      {"--port 1 --do 1 --count 1000000000", 1},  // valid, but nothing listens on port 1
      {"--port 0 --do 1", 2},
      {"--port 1 --do 2", 2},
      {"--port 1 --dk 100/1", 2},
      {"--port 1 --do 1 --dk 1/1", 2},
      {"--do 1", 2},
      {"--port 1", 2},
  };
  for (const auto& [arguments, status] : cases) {
    const auto [got, output] = run(arguments);
    EXPECT_EQ(got, exitStatus(status)) << arguments << ": " << output;
  }
}

TEST(DravikUnit, ListensForOutputFrames) {
  MonitorRig rig(kVariantA);
  ASSERT_TRUE(rig.start(1));
  const int destination = freePort();
  rig.view.setText(ctl::kDestinationPort, std::to_string(destination));
  auto tool = std::async(std::launch::async, run,
                         "--port " + std::to_string(rig.listening[0]) +
                             " --raw \"44 4F 31 30 C8\" --listen " + std::to_string(destination) +
                             " --bind 127.0.0.1 --hold 3000");
  // The frame goes over a new connection once the tool has reported and hung up.
  const PortSlot& slot = rig.monitor.state().slots[0];
  ASSERT_TRUE(eventually(
      [&] { return slot.unitAddress == kLoopback && slot.connectionSocket == kNoSocket; }));
  rig.monitor.toggleDigitalOut(1);
  EXPECT_EQ(
      tool.get(),
      std::pair(0, "listening on 127.0.0.1:" + std::to_string(destination) +
                       "\nsent: 44 4F 31 30 C8\nack: 64 6F 21 20 C8  inputs on: DI1\noutput: "
                       "44 4F 22 20 C8  DO1=OFF DO2=ON DO3=OFF DO4=OFF  (output connection)\n"));
}

// The same tool built for Windows, under Wine, reporting to the engine built here.
TEST(DravikUnit, TheWindowsBuildReportsToLinuxUnderWine) {
#ifdef _WIN32
  GTEST_SKIP() << "the Linux build runs this one, with the engine built for Linux";
#endif
  if (!std::filesystem::exists(DRAVIK_WINDOWS_UNIT)) {
    GTEST_SKIP() << "no Windows build of the tool at " DRAVIK_WINDOWS_UNIT " (make windows)";
  }
  MonitorRig rig(kVariantB);
  ASSERT_TRUE(rig.start(1));
  EXPECT_EQ(runTool(DRAVIK_WINE " " DRAVIK_WINDOWS_UNIT,
                    "--port " + std::to_string(rig.listening[0]) + " --dk 81/81"),
            std::pair(0, std::string("sent: 44 4B 31 31 38 38 C8\n"
                                     "ack: 64 6B 21 28 C8  inputs on: DI1 DI8\n")));
}

}  // namespace
}  // namespace dravik
