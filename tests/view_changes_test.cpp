// Worker changes waiting for the window: coalescing, flush requests, order, trace pieces, threads.
#include "monitor/view_changes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace dravik {
namespace {

using Kind = ViewChanges::Change::Kind;
using Log = std::vector<std::string>;

// Takes out every change as one readable line; a posted call runs and logs itself.
Log drain(ViewChanges& changes, Log* into = nullptr) {
  Log own;
  Log& log = into ? *into : own;
  const char* names[] = {"text", "enabled", "checked", "visible", "repaint", "clear", "trace"};
  while (std::optional<ViewChanges::Change> c = changes.next()) {
    if (c->kind == Kind::Step) {
      c->step();
      continue;
    }
    std::string line = names[static_cast<int>(c->kind)];
    if (c->kind < Kind::ClearTrace) line += " " + std::to_string(c->id);
    if (c->kind == Kind::Text || c->kind == Kind::Trace) line += " " + c->text;
    if (c->kind > Kind::Text && c->kind < Kind::Repaint) line += c->on ? " on" : " off";
    log.push_back(line);
  }
  return log;
}

TEST(ViewChanges, ManyCallsLeaveTheLatestStatePerControlAndAskForOneFlush) {
  ViewChanges changes(100);
  EXPECT_TRUE(changes.setText(7, "unit 0")) << "the first change asks for a flush";
  int requests = 0;
  for (int i = 1; i < 1000; ++i)
    requests += changes.setText(7, "unit " + std::to_string(i)) + changes.enable(7, i % 2 == 0) +
                changes.setVisible(3, i % 3 == 0) + changes.repaint(3);
  EXPECT_EQ(requests, 0) << "a flush is already asked for";
  EXPECT_EQ(changes.pendingControlCount(), 2u);
  changes.startFlush();
  EXPECT_EQ(changes.pendingControlCount(), 0u) << "the flush took the batch whole";
  EXPECT_TRUE(changes.setChecked(9, true)) << "the first change after the flush began asks again";
  EXPECT_EQ(drain(changes),
            (Log{"visible 3 on", "repaint 3", "text 7 unit 999", "enabled 7 off", "checked 9 on"}));
  EXPECT_FALSE(changes.next());
}

TEST(ViewChanges, ControlsComeByIdentifierThenTheClearedTraceThenPostedCallsInOrder) {
  ViewChanges changes(100);
  Log log;
  changes.post([&] { log.push_back("first call"); });
  changes.appendTrace("dropped\r\n");
  changes.clearTrace();
  for (const char* trace : {"kept\r\n", ""}) changes.appendTrace(trace);
  changes.repaint(5);
  changes.setVisible(5, false);
  changes.setChecked(5, true);
  changes.enable(5, true);
  changes.setText(5, "x");
  changes.setText(2, "y");
  changes.post([&] { log.push_back("second call"); });
  EXPECT_EQ(drain(changes, &log),
            (Log{"text 2 y", "text 5 x", "enabled 5 on", "checked 5 on", "visible 5 off",
                 "repaint 5", "clear", "trace kept\r\n", "first call", "second call"}));
}

TEST(ViewChanges, TraceIsCutWhereTheNextByteWouldJoin) {
  ViewChanges changes(100);
  for (const char* trace : {"x\x82", "\xA0y", "p\r", "\nq", "r\r\n"}) changes.appendTrace(trace);
  EXPECT_EQ(drain(changes), (Log{"trace x\x82", "trace \xA0yp\r", "trace \nqr\r\n"}))
      << "a lead byte or a carriage return at a trace's end ends its piece";
}

TEST(ViewChanges, ChangesRecordedWhileABatchIsTakenComeAfterIt) {
  ViewChanges changes(100);
  changes.setText(1, "a");
  changes.setText(2, "b");
  changes.startFlush();
  ASSERT_EQ(changes.next()->text, "a");
  EXPECT_TRUE(changes.setText(1, "c"));
  changes.startFlush();
  changes.setText(0, "d");
  EXPECT_EQ(drain(changes), (Log{"text 2 b", "text 0 d", "text 1 c"}));
}

TEST(ViewChanges, ManyRecordingThreadsLoseNoTraceLineAndEndOnTheirLastState) {
  constexpr int kThreads = 4, kCalls = 20000;
  ViewChanges changes(kThreads * kCalls + 1);
  std::atomic<int> requests{0}, running{kThreads}, waiting{kThreads};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (--waiting; waiting > 0;) std::this_thread::yield();  // start together, to overlap
      for (int i = 0; i < kCalls; ++i) {
        const std::string line = std::to_string(t) + " " + std::to_string(i);
        requests += changes.setText(t, line) + changes.appendTrace(line + "\r\n");
      }
      --running;
    });
  }
  // The window's thread: one flush per request, as the queued call would run it.
  Log log;
  int flushes = 0;
  const auto flush = [&] {
    for (; flushes < requests; ++flushes) {
      changes.startFlush();
      drain(changes, &log);
    }
  };
  while (running > 0) flush();
  for (std::thread& worker : workers) worker.join();
  flush();
  EXPECT_EQ(changes.pendingControlCount(), 0u) << "every change had a flush asked for it";

  std::map<int, std::string> lastText;
  std::string traced;
  for (const std::string& entry : log) {
    if (entry.starts_with("text ")) lastText[entry[5] - '0'] = entry.substr(7);
    if (entry.starts_with("trace ")) traced += entry.substr(6);
  }
  std::vector<std::string> got(kThreads), want(kThreads);
  std::istringstream lines(traced);
  for (std::string line; std::getline(lines, line);) got.at(line[0] - '0') += line + "\n";
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCalls; ++i)
      want[t] += std::to_string(t) + " " + std::to_string(i) + "\r\n";
    EXPECT_EQ(lastText[t], std::to_string(t) + " " + std::to_string(kCalls - 1)) << "thread " << t;
  }
  EXPECT_TRUE(got == want) << "a thread's trace lines were lost, cut or put out of order";
}

}  // namespace
}  // namespace dravik
