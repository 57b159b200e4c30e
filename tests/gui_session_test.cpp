// A whole program run in the offscreen window: start on loopback, units reporting, the close
// box, shutdown with units still sending, the no-adapter path and worker message boxes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <future>

#include "gui_test_support.h"
#include "monitor/controls.h"
#include "ui/termination_signals.h"

namespace dravik::test {
namespace {

using namespace std::chrono_literals;

// Threads of the process once Qt has started the helpers it keeps for the whole run (they
// appear with the first window shown).
int threadBaseline() {
  {
    GuiRig warmUp(kVariantA);
    warmUp.session->start();
    QApplication::processEvents();
  }
  QApplication::processEvents();
  return threadsBesidesQtPool();
}

// A unit that keeps reporting DI1 on and off until told to stop or the monitor goes.
class ChattyUnit {
 public:
  explicit ChattyUnit(int port) : fd_(connectUnit(port)) {
    thread_ = std::thread([this] {
      const std::uint8_t frames[2][5] = {{0x44, 0x4F, 0x31, 0x30, 0xC8},
                                         {0x44, 0x4F, 0x30, 0x30, 0xC8}};
      for (int i = 0; !stop_ && fd_ >= 0; ++i) {
        if (::send(fd_, frames[i % 2], 5, MSG_NOSIGNAL) != 5) break;
        std::uint8_t ack[16];
        ::recv(fd_, ack, sizeof ack, MSG_DONTWAIT);
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  ~ChattyUnit() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(GuiSession, CloseBoxStopsEverySlotWithItsPausesAndLeavesNoThread) {
  const int baseline = threadBaseline();
  {
    GuiRig rig(kVariantB, true);
    ASSERT_TRUE(rig.session->start());
    const auto begin = std::chrono::steady_clock::now();
    rig.view().window().close();
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 400ms) << "four stop requests, 100 ms after each";
    EXPECT_EQ(rig.view().modalResult(), 0);
    EXPECT_FALSE(rig.view().window().isVisible());
    for (const PortSlot& slot : rig.monitor().state().slots) {
      EXPECT_EQ(slot.state, SlotState::Stopping) << "idle slots are asked to stop too";
    }
  }
  EXPECT_EQ(threadsBesidesQtPool(), baseline);
}

TEST(GuiSession, ATerminationSignalClosesLikeTheCloseBoxEvenFromAnOpenDialog) {
  ui::TerminationSignals termination;
  GuiRig rig(kVariantB);
  QObject::connect(&termination, &ui::TerminationSignals::received, &rig.view(),
                   [&rig] { rig.session->close(); });
  ASSERT_TRUE(rig.session->start());
  rig.view().titleDialogHook = nullptr;
  QTimer::singleShot(0, [] { std::raise(SIGTERM); });
  rig.monitor().changeTitleBar();
  EXPECT_EQ(rig.monitor().windowTitle(), "DRAVIK-B") << "the open dialog was cancelled";
  EXPECT_EQ(rig.view().modalResult(), 0) << "the close box's result";
  for (const PortSlot& slot : rig.monitor().state().slots) {
    EXPECT_EQ(slot.state, SlotState::Stopping) << "every slot is asked to stop";
  }
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "a second signal must end the process at once";
}

TEST(GuiSession, ClosingWhileUnitsReportNeitherHangsNorCrashes) {
  const int baseline = threadBaseline();
  for (int round = 0; round < 20; ++round) {
    GuiRig rig(round % 2 ? kVariantB : kVariantA, true);
    ASSERT_TRUE(rig.session->start());
    const int port = startOnLoopback(rig);
    ASSERT_TRUE(processUntil([&] { return rig.monitor().state().running == 1; }))
        << "round " << round;
    {
      ChattyUnit first(port);
      ChattyUnit second(port);
      processUntil([] { return false; }, 20ms);
      if (round % 2) {
        rig.view().window().close();
      } else {
        QTest::keyClick(rig.view().control(1004), Qt::Key_Escape);
      }
      EXPECT_TRUE(rig.view().modalEnded()) << "round " << round;
      rig.session->finish();
      EXPECT_LE(threadsBesidesQtPool(), baseline + 2)
          << "no monitor thread outlives the session, round " << round;
    }
    EXPECT_EQ(threadsBesidesQtPool(), baseline) << "round " << round;
  }
  EXPECT_EQ(threadsBesidesQtPool(), baseline);
}

TEST(GuiSession, WithoutAdapterTheMessageIsShownAndTheWindowNever) {
  GuiRig rig(kVariantA);
  rig.adapters.tables = HostAdapters{};
  const int baseline = threadsBesidesQtPool();  // no window shown yet, and none will be

  EXPECT_FALSE(rig.session->start());
  EXPECT_EQ(rig.boxes, QStringList{u("ネットワークデバイスが見つかりませんでした。")});
  EXPECT_EQ(rig.captions, QStringList{u("DRAVIK_A")}) << "captioned with the program's name";
  EXPECT_EQ(rig.view().modalResult(), -1);
  EXPECT_EQ(rig.session->run(), -1) << "run returns at once";
  EXPECT_FALSE(rig.view().window().windowHandle()) << "the window was never shown";
  EXPECT_EQ(threadsBesidesQtPool(), baseline);
}

TEST(GuiSession, WorkerMessageBoxWaitsForOkAndIsReleasedByClosing) {
  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  const auto workerBox = [&]() -> QMessageBox* {
    for (QMessageBox* box : rig.view().window().findChildren<QMessageBox*>()) {
      if (box->isVisible()) return box;
    }
    return nullptr;
  };

  auto answered = std::async(std::launch::async, [&] { rig.view().messageBox("first"); });
  ASSERT_TRUE(processUntil([&] { return workerBox() != nullptr; })) << "the box appears";
  QMessageBox* box = workerBox();
  EXPECT_EQ(box->text(), u("first"));
  EXPECT_EQ(box->windowTitle(), u("DRAVIK_B"));
  EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout) << "the worker waits for OK";
  box->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(processUntil([&] { return answered.wait_for(0ms) == std::future_status::ready; }))
      << "OK releases the worker";

  auto pending = std::async(std::launch::async, [&] { rig.view().messageBox("second"); });
  ASSERT_TRUE(processUntil([&] { return workerBox() != nullptr; }));
  rig.view().window().close();
  EXPECT_EQ(pending.wait_for(5s), std::future_status::ready) << "closing releases the worker";
  EXPECT_TRUE(processUntil([&] { return workerBox() == nullptr; })) << "and takes the box away";
  rig.view().messageBox("after");  // on the window's thread: shown through the hook
  auto late = std::async(std::launch::async, [&] { rig.view().messageBox("late"); });
  EXPECT_EQ(late.wait_for(5s), std::future_status::ready) << "no worker waits once closed";
}

}  // namespace
}  // namespace dravik::test
