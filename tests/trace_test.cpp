// The trace operation and the backlog that waits for the window.
#include "logging/trace.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "engine/variant_profile.h"
#include "fake_view.h"
#include "monitor/trace_backlog.h"

namespace dravik {
namespace {

TEST(Trace, WhatEachCallLeavesInThePane) {
  const std::string x300(300, 'x'), earlierAndCut = "earlier\r\n" + std::string(255, 'x');
  const auto lines = [](const Trace& t) {
    t("server start.\r\n");
    t.literal("cfg line\r\n");
    t.clear();
    t("select.\r\n");
  };
  const std::tuple<const char*, bool, std::function<void(const Trace&)>, std::string> cases[] = {
      {"printf rules", true,
       [](const Trace& t) { t("from:%s   Recv %02x %02x\r\n", "127.0.0.1", 0x44, 0x4f); },
       "earlier\r\nfrom:127.0.0.1   Recv 44 4f\r\n"},
      {"a formatted trace is cut at 255 bytes", true,
       [&](const Trace& t) { t("%s", x300.c_str()); }, earlierAndCut},
      {"a literal text is cut like any trace", true, [&](const Trace& t) { t.literal(x300); },
       earlierAndCut},
      {"a literal keeps percent signs", true,
       [](const Trace& t) { t.literal("#$DI1=100%s %d\r\n"); }, "earlier\r\n#$DI1=100%s %d\r\n"},
      {"clear empties the pane", true, lines, "select.\r\n"},
      {"DRAVIK_A writes and clears nothing", kVariantA.traceEnabled, lines, "earlier\r\n"},
  };
  for (const auto& [what, enabled, calls, pane] : cases) {
    test::FakeView view;
    view.appendTrace("earlier\r\n");
    calls(Trace(view, enabled));
    EXPECT_EQ(view.trace(), pane) << what;
  }
}

TEST(TraceBacklog, KeepsTheNewestLinesAndSaysOnceHowManyWereDropped) {
  TraceBacklog backlog(4);
  const auto append = [&](const std::string& text, int times = 1) {
    for (int i = 0; i < times; ++i) backlog.append(text, false);
  };
  for (int i = 0; i < 10; ++i) append("line " + std::to_string(i) + "\r\n");
  EXPECT_EQ(backlog.takePiece(), "trace: 7 lines dropped\r\nline 7\r\nline 8\r\nline 9\r\n")
      << "the note and the newest lines fill the bound";
  EXPECT_TRUE(backlog.empty());

  // Traces without a line end make one line; a line is dropped whole.
  for (const char* text : {"a", "b\r\nc", "d\r\n"}) append(text);
  EXPECT_EQ(backlog.takePiece(), "ab\r\ncd\r\n") << "nothing dropped, no note";
  append("x\r\n", 5);
  for (const char* text : {"half ", "line\r\n"}) append(text);
  EXPECT_EQ(backlog.takePiece(), "trace: 3 lines dropped\r\nx\r\nx\r\nhalf line\r\n");

  append("y\r\n", 5);
  backlog.clear();
  EXPECT_TRUE(backlog.empty()) << "clearing forgets the dropped lines too";
  append("z\r\n");
  EXPECT_EQ(backlog.takePiece(), "z\r\n");
}

TEST(TraceBacklog, ATraceThatEndsAPieceIsTakenApartFromWhatFollows) {
  TraceBacklog backlog(8);
  const std::pair<const char*, bool> traces[] = {
      {"one\r\nx\x82", true}, {"\xA0y\r", true}, {"\nq\r\n", false}, {"", true}, {"r\r\n", false}};
  for (const auto& [text, endsPiece] : traces) backlog.append(text, endsPiece);
  for (const char* piece : {"one\r\nx\x82", "\xA0y\r", "\nq\r\nr\r\n"})
    EXPECT_EQ(backlog.takePiece(), piece) << "an empty trace ends no piece";
  EXPECT_TRUE(backlog.empty());
  // The slots of taken and of dropped lines come round again, and must not end a piece.
  backlog.append("k0\r\n", true);
  backlog.append("k1\r\nk2\r\nk3\r\nk4\r\nk5\r\nk6\r\nk7\r\nk8\r\nk9\r\n", false);
  EXPECT_EQ(backlog.takePiece(),
            "trace: 3 lines dropped\r\nk3\r\nk4\r\nk5\r\nk6\r\nk7\r\nk8\r\nk9\r\n");
}

}  // namespace
}  // namespace dravik
