// The trace operation: cut, literal texts, the discarding variant, and concurrent callers.
#include "logging/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "engine/variant_profile.h"
#include "fake_view.h"
#include "monitor/trace_backlog.h"

namespace dravik {
namespace {

TEST(Trace, FormatsAndCutsAt255Bytes) {
  test::FakeView view;
  Trace trace(view, true);
  trace("from:%s   Recv %02x %02x\r\n", "127.0.0.1", 0x44, 0x4f);
  EXPECT_EQ(view.trace(), "from:127.0.0.1   Recv 44 4f\r\n");

  view.clearTrace();
  trace("%s", std::string(300, 'x').c_str());
  EXPECT_EQ(view.trace(), std::string(255, 'x'));
  view.clearTrace();
  trace.literal(std::string(300, 'y'));
  EXPECT_EQ(view.trace(), std::string(255, 'y')) << "a literal text is cut like any trace";
}

TEST(Trace, LiteralTextKeepsPercentSigns) {
  test::FakeView view;
  Trace trace(view, true);
  trace.literal("#$DI1=100%s %d\r\n");
  EXPECT_EQ(view.trace(), "#$DI1=100%s %d\r\n");
}

TEST(Trace, ClearEmptiesThePane) {
  test::FakeView view;
  Trace trace(view, true);
  trace("server start.\r\n");
  trace.clear();
  trace("select.\r\n");
  EXPECT_EQ(view.trace(), "select.\r\n");
}

TEST(Trace, VariantAWritesNothing) {
  test::FakeView view;
  Trace trace(view, kVariantA.traceEnabled);
  trace("server start.\r\n");
  trace.literal("cfg line\r\n");
  trace.clear();
  EXPECT_EQ(view.trace(), "");
}

TEST(Trace, ConcurrentLinesArriveWhole) {
  test::FakeView view;
  Trace trace(view, kVariantB.traceEnabled);
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) trace("thread %d line %03d ........\r\n", t, i);
    });
  }
  for (auto& th : threads) th.join();
  const std::string all = view.trace();
  std::vector<int> next(kThreads, 0);
  std::size_t pos = 0;
  int lines = 0;
  while (pos < all.size()) {
    std::size_t end = all.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "a line lost its end";
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(all.c_str() + pos, "thread %d line %d ........", &t, &i), 2)
        << "interleaved line: " << all.substr(pos, end - pos);
    ASSERT_EQ(all.substr(pos, end - pos).size(), 26u) << all.substr(pos, end - pos);
    EXPECT_EQ(i, next[t]++) << "lines of one thread out of order";
    pos = end + 2;
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
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
