// The monitor's own rules: version text, port texts, colouring, the title dialog.
#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <utility>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/brush.h"
#include "monitor/controls.h"
#include "monitor/port_text.h"
#include "monitor/typing_rules.h"

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

TEST(PortText, ParsePortTakesTheLeadingNumberWithinTheRange) {
  const std::pair<const char*, int> cases[] = {
      {"10003", 10003}, {"1024", 1024},     {"65535", 65535},  {"1023", -1},
      {"65536", -1},    {"0", -1},          {"", -1},          {"abc", -1},
      {" 2000 ", 2000}, {"\t\n3000", 3000}, {"4000abc", 4000}, {"+5000", 5000},
      {"-5000", -1},    {"- 5000", -1},     {"+-5000", -1},    {"99999999999999999999", -1},
      {"655350", -1},   {"00001024", 1024}, {"1 024", -1},     {"x1024", -1},
  };
  for (const auto& [text, port] : cases)
    EXPECT_EQ(parsePort(text).value_or(-1), port) << "'" << text << "' (-1: refused)";
  for (const char* blank : {"", " ", " \t\r\n"})
    EXPECT_TRUE(isBlankText(blank)) << "'" << blank << "'";
  for (const char* text : {"0", " x ", "\t-"})
    EXPECT_FALSE(isBlankText(text)) << "'" << text << "'";
}

// A port edit refuses every change that puts in a non-digit, however it came (typed, pasted,
// over a selection) and whatever the edit held; it takes any removal. Names hold their bytes.
TEST(TypingRules, PortEditsTakeDigitsOnlyAndNamesHoldTheirBytes) {
  const std::tuple<const char*, const char*, bool> ports[] = {
      {"10003", "100031", true}, {"10003", "10003x", false}, {"10003", "x", false},
      {"10003", "11y33", false}, {"10003", "11233", true},   {"12a45", "12a4", true},
      {"12a45", "2a45", true},   {"12a45", "12a45x", false}, {"12a45", "12745", true},
      {"12a45", "12b45", false}, {"1a", "1aa", false},       {"a1", "aa1", false},
      {"1", "1\x82\x4F", false}, {"", "-1", false},
  };
  for (const auto& [before, after, taken] : ports) {
    EXPECT_EQ(portEditTaken(before, after), taken) << "'" << before << "' -> '" << after << "'";
  }
  const std::string kanji2 = "\x8a\xbf\x8e\x9a";  // two double-byte characters
  const std::tuple<std::string, std::string, bool> names[] = {
      {"abc", "abcd", true},         {"abcd", "abcde", false}, {"abcdefg", "abcdeX", true},
      {"abcdefg", "abcdefX", false}, {"", kanji2, true},       {kanji2, kanji2 + "a", false},
  };
  for (const auto& [before, after, taken] : names) {
    EXPECT_EQ(limitedEditTaken(before, after, 4), taken)
        << "'" << before << "' -> '" << after << "'";
  }
}

TEST(Brush, LampAndStatusColours) {
  MonitorState s;
  s.inputs[1] = s.inputs[6] = s.outputs[2] = 1;
  // One letter per control: Default, Gray, Red, Black.
  const auto colours = [&](const VariantProfile& p, int running, std::initializer_list<int> ids) {
    s.running = running;
    std::string out;
    for (int id : ids) out += "DGRB"[static_cast<int>(brushFor(p, s, id))];
    return out;
  };
  const int panel = ctl::kStatusPanel;
  EXPECT_EQ(colours(kVariantA, 0, {1100, 1101, panel, 1107, 1105}), "GGGRB")
      << "stopped: inputs gray whatever their state, outputs (DO3 on) follow their state alone";
  EXPECT_EQ(colours(kVariantA, 1, {1100, 1101, panel, 1107, 1105, 1018, 1104}), "BRRRBDD")
      << "running; 1018 is a source-address label, 1104 no lamp in DRAVIK_A";
  EXPECT_EQ(colours(kVariantB, 1, {1105, 1106, 1107}), "BRB") << "1105..1107 are DI6..DI8 in B";
  EXPECT_EQ(colours(kVariantB, 0, {1106, panel}), "GG");
}

TEST(Monitor, TitleBarDialog) {
  test::FakeView view;
  test::FakeAdapters adapters;
  Monitor monitor(kVariantB, view, adapters, nullptr, "/opt/dravik", "/opt/dravik", {1, 0, 1, 0});
  for (const std::string typed : {" Line 3 #$ ", ""}) {
    view.answerTitleDialog(typed);
    monitor.changeTitleBar();
    EXPECT_EQ(std::pair(monitor.windowTitle(), view.caption()), std::pair(typed, typed))
        << "taken exactly as typed; OK with an empty field empties the caption";
  }
}

}  // namespace
}  // namespace dravik
