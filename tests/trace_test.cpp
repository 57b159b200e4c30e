// The trace operation (cut, literal texts, the discarding variant) and the backlog that waits
// for the window.
#include "logging/trace.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/variant_profile.h"
#include "fake_view.h"
#include "monitor/trace_backlog.h"

namespace dravik {
namespace {

TEST(Trace, WhatEachCallLeavesInThePane) {
  const std::string x300(300, 'x');
  struct Case {
    const char* what;
    bool enabled;
    std::function<void(const Trace&)> calls;
    std::string pane;
  };
  const Case cases[] = {
      {"printf rules", true,
       [](const Trace& t) { t("from:%s   Recv %02x %02x\r\n", "127.0.0.1", 0x44, 0x4f); },
       "earlier\r\nfrom:127.0.0.1   Recv 44 4f\r\n"},
      {"a formatted trace is cut at 255 bytes", true,
       [&](const Trace& t) { t("%s", x300.c_str()); }, "earlier\r\n" + std::string(255, 'x')},
      {"a literal text is cut like any trace", true, [&](const Trace& t) { t.literal(x300); },
       "earlier\r\n" + std::string(255, 'x')},
      {"a literal keeps percent signs", true,
       [](const Trace& t) { t.literal("#$DI1=100%s %d\r\n"); }, "earlier\r\n#$DI1=100%s %d\r\n"},
      {"clear empties the pane", true,
       [](const Trace& t) {
         t("server start.\r\n");
         t.clear();
         t("select.\r\n");
       },
       "select.\r\n"},
      {"DRAVIK_A writes and clears nothing", kVariantA.traceEnabled,
       [](const Trace& t) {
         t("server start.\r\n");
         t.literal("cfg line\r\n");
         t.clear();
       },
       "earlier\r\n"},
  };
  for (const Case& c : cases) {
    test::FakeView view;
    view.appendTrace("earlier\r\n");
    c.calls(Trace(view, c.enabled));
    EXPECT_EQ(view.trace(), c.pane) << c.what;
  }
}

TEST(TraceBacklog, KeepsTheNewestLinesAndSaysOnceHowManyWereDropped) {
  TraceBacklog backlog(4);
  for (int i = 0; i < 10; ++i) backlog.append("line " + std::to_string(i) + "\r\n", false);
  EXPECT_EQ(backlog.takePiece(), "trace: 7 lines dropped\r\nline 7\r\nline 8\r\nline 9\r\n")
      << "the note and the newest lines fill the bound";
  EXPECT_TRUE(backlog.empty());

  // Traces without a line end make one line; a line is dropped whole.
  backlog.append("a", false);
  backlog.append("b\r\nc", false);
  backlog.append("d\r\n", false);
  EXPECT_EQ(backlog.takePiece(), "ab\r\ncd\r\n") << "nothing dropped, no note";
  for (int i = 0; i < 5; ++i) backlog.append("x\r\n", false);
  backlog.append("half ", false);
  backlog.append("line\r\n", false);
  EXPECT_EQ(backlog.takePiece(), "trace: 3 lines dropped\r\nx\r\nx\r\nhalf line\r\n");

  for (int i = 0; i < 5; ++i) backlog.append("y\r\n", false);
  backlog.clear();
  EXPECT_TRUE(backlog.empty()) << "clearing forgets the dropped lines too";
  backlog.append("z\r\n", false);
  EXPECT_EQ(backlog.takePiece(), "z\r\n");
}

TEST(TraceBacklog, ATraceThatEndsAPieceIsTakenApartFromWhatFollows) {
  TraceBacklog backlog(8);
  backlog.append("one\r\nx\x82", true);
  backlog.append("\xA0y\r", true);
  backlog.append("\nq\r\n", false);
  backlog.append("r\r\n", false);
  EXPECT_EQ(backlog.takePiece(), "one\r\nx\x82");
  EXPECT_EQ(backlog.takePiece(), "\xA0y\r");
  EXPECT_EQ(backlog.takePiece(), "\nq\r\nr\r\n");
  EXPECT_TRUE(backlog.empty());
}

}  // namespace
}  // namespace dravik
