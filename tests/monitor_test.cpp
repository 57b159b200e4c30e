// The monitor's own rules: version text, port texts, colouring, the title dialog.
#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/brush.h"
#include "monitor/controls.h"
#include "monitor/port_text.h"

namespace dravik {
namespace {

TEST(VersionText, NumbersAfterThePointAreNotSeparated) {
  const std::pair<VersionNumbers, const char*> cases[] = {
      {{1, 0, 1, 0}, "Version 1.01"},   {{1, 0, 1, 2}, "Version 1.012"},
      {{1, 2, 3, 4}, "Version 1.234"},  {{2, 0, 0, 0}, "Version 2.00"},
      {{1, 0, 10, 0}, "Version 1.010"},
  };
  for (const auto& [version, text] : cases) EXPECT_EQ(formatVersionText(version), text);
}

// A leading decimal number read the way atoi reads it, then held to 1024..65535.
TEST(PortText, ParsePortTakesTheLeadingNumberWithinTheRange) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"10003", 10003},         {"1024", 1024},
      {"65535", 65535},         {"1023", std::nullopt},
      {"65536", std::nullopt},  {"0", std::nullopt},
      {"", std::nullopt},       {"abc", std::nullopt},
      {" 2000 ", 2000},         {"\t\n3000", 3000},
      {"4000abc", 4000},        {"+5000", 5000},
      {"-5000", std::nullopt},  {"- 5000", std::nullopt},
      {"+-5000", std::nullopt}, {"99999999999999999999", std::nullopt},
      {"655350", std::nullopt}, {"00001024", 1024},
      {"1 024", std::nullopt},  {"x1024", std::nullopt},
  };
  for (const auto& [text, port] : cases) {
    EXPECT_EQ(parsePort(text), port) << "'" << text << "'";
  }
  for (const char* blank : {"", " ", " \t\r\n"})
    EXPECT_TRUE(isBlankText(blank)) << "'" << blank << "'";
  for (const char* text : {"0", " x ", "\t-"})
    EXPECT_FALSE(isBlankText(text)) << "'" << text << "'";
}

TEST(Brush, LampAndStatusColours) {
  MonitorState s;
  const auto brush = [&](int id) { return brushFor(kVariantA, s, id); };
  s.inputs[1] = 1;
  s.outputs[2] = 1;
  // Stopped: inputs gray whatever their state, outputs follow their state alone.
  EXPECT_EQ(brush(1100), Brush::Gray);
  EXPECT_EQ(brush(1101), Brush::Gray);
  EXPECT_EQ(brush(ctl::kStatusPanel), Brush::Gray);
  EXPECT_EQ(brush(1107), Brush::Red) << "DO3 on";
  EXPECT_EQ(brush(1105), Brush::Black) << "DO1 off";
  s.running = 1;
  EXPECT_EQ(brush(1100), Brush::Black);
  EXPECT_EQ(brush(1101), Brush::Red);
  EXPECT_EQ(brush(ctl::kStatusPanel), Brush::Red);
  EXPECT_EQ(brush(1018), Brush::Default) << "a source-address label";
  EXPECT_EQ(brush(1104), Brush::Default) << "1104 is no lamp in DRAVIK_A";

  MonitorState b;
  b.running = 1;
  b.inputs[6] = 1;
  EXPECT_EQ(brushFor(kVariantB, b, 1106), Brush::Red) << "1106 is the lamp of DI7 in DRAVIK_B";
  EXPECT_EQ(brushFor(kVariantB, b, 1105), Brush::Black) << "DI6 off, shown as an input lamp";
  b.running = 0;
  EXPECT_EQ(brushFor(kVariantB, b, 1106), Brush::Gray) << "input lamps of B are gray when stopped";
}

TEST(Monitor, TitleBarDialog) {
  test::FakeView view;
  test::FakeAdapters adapters;
  Monitor monitor(kVariantB, view, adapters, nullptr, "/opt/dravik", "/opt/dravik", {1, 0, 1, 0});
  view.answerTitleDialog(std::string(" Line 3 #$ "));
  monitor.changeTitleBar();
  EXPECT_EQ(monitor.windowTitle(), " Line 3 #$ ") << "taken exactly as typed";
  EXPECT_EQ(view.caption(), " Line 3 #$ ");

  view.answerTitleDialog(std::string());
  monitor.changeTitleBar();
  EXPECT_EQ(view.caption(), "") << "OK with an empty field empties the caption";
}

}  // namespace
}  // namespace dravik
