#include <csignal>

#include "gui_test_support.h"
#include "ui/termination_signals.h"

namespace dravik::test {
namespace {

TEST(GuiSession, EscapeCloseBoxAndSignalFromAnOpenDialogEndTheRunWithUnitsConnected) {
  GuiRig(kVariantA).session->start();  // Qt keeps the helpers it starts with the first window
  QApplication::processEvents();
  const int baseline = threadsBesidesQtPool();
  for (int round = 0; round < 21; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    enum { kEscape, kCloseBox, kSignal } const how = static_cast<decltype(kEscape)>(round % 3);
    ui::TerminationSignals termination;
    GuiRig rig(how == kEscape ? kVariantA : kVariantB);
    QObject::connect(&termination, &ui::TerminationSignals::received, &rig.view(),
                     [&rig] { rig.session->close(); });
    ASSERT_TRUE(rig.session->start());
    const int port = startOnLoopback(rig);
    // Each unit has a receiver thread serving it while the window closes.
    const std::vector<int> units{connectUnit(port), connectUnit(port)};
    for (const int unit : units)
      ASSERT_TRUE(sendBytes(unit, {0x44, 0x4F, 0x31, 0x30, 0xC8}) && receive(unit, 5).size() == 5);
    const auto begin = std::chrono::steady_clock::now();
    if (how == kEscape) QTest::keyClick(rig.view().control(1004), Qt::Key_Escape);
    if (how == kCloseBox) rig.view().window().close();
    if (how == kSignal) {
      rig.view().titleDialogHook = nullptr;
      QTimer::singleShot(0, [] {
        QApplication::activeModalWidget()->findChild<QLineEdit*>()->setText(u("typed"));
        std::raise(SIGTERM);
      });
      rig.monitor().changeTitleBar();
      EXPECT_EQ(rig.monitor().windowTitle(), "DRAVIK-B")
          << "the open dialog was cancelled, not accepted";
    }
    EXPECT_GE(std::chrono::steady_clock::now() - begin, how == kEscape ? 0ms : 400ms)
        << "four stops, 100 ms after each";
    EXPECT_EQ(rig.view().modalResult(), how == kEscape ? ui::kCancelResult : 0);
    EXPECT_FALSE(rig.view().window().isVisible());
    std::string states;
    for (const auto& slot : rig.monitor().state().slots)
      states += std::to_string(int(slot.state.load()));
    EXPECT_EQ(states, how == kEscape ? "2000" : "0333") << "Escape stops no slot";
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler == SIG_DFL, how == kSignal) << "a second signal kills";
    rig.session->finish();
    EXPECT_EQ(threadsBesidesQtPool(), baseline) << "no monitor thread outlives the session";
    for (const int unit : units) ::close(unit);
  }
}

TEST(GuiSession, AUnitThatDoesNotAnswerNeitherFreezesTheWindowNorHoldsUpTheClose) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  QApplication::processEvents();
  const int baseline = threadsBesidesQtPool();
  const SilentPort gone;
  rig.widget<QLineEdit>(ctl::kDestinationPort)->setText(QString::number(gone.port));
  const int ports[] = {freePort(), freePort()};
  for (int s : {0, 1})
    rig.widget<QLineEdit>(kSlotControls[s].portEdit)->setText(QString::number(ports[s]));
  rig.widget<QPushButton>(ctl::kStartStop)->click();
  // Slot 0's unit reports and goes; slot 1's keeps its connection.
  const int units[] = {connectUnit(ports[0]), connectUnit(ports[1])};
  for (const int unit : units)
    ASSERT_TRUE(sendBytes(unit, {0x44, 0x4F, 0x30, 0x30, 0xC8}) && receive(unit, 5).size() == 5);
  ::close(units[0]);
  auto* on = rig.widget<QPushButton>(kWindowProfileA.outputs[0].button);
  ASSERT_TRUE(processUntil([&] {
    return on->isEnabled() && rig.monitor().state().slots[0].connectionSocket == kNoSocket;
  }));

  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout,
                   [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  ticks.start(10);
  sinceTick.start();
  on->click();
  processUntil([] { return false; }, 300ms);
  EXPECT_LT(longestGap, 100) << "the window's thread stopped for the unit that does not answer";
  EXPECT_EQ(receive(units[1], 5), (Bytes{0x44, 0x4F, 0x21, 0x20, 0xC8})) << "the live unit";

  const auto closing = std::chrono::steady_clock::now();
  rig.view().window().close();
  rig.session->finish();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, 1s) << "the close waited for the send";
  EXPECT_EQ(threadsBesidesQtPool(), baseline) << "a sender thread outlives the session";
  ::close(units[1]);
}

TEST(GuiSession, WithoutAdapterOnlyAMessageShowsAndAWorkersBoxWaitsForOkOrClosing) {
  GuiRig bare(kVariantA);
  bare.adapters.tables = HostAdapters{};
  EXPECT_FALSE(bare.session->start());
  EXPECT_EQ(bare.boxes, QStringList{u("DRAVIK_A: ネットワークデバイスが見つかりませんでした。")});
  EXPECT_EQ(bare.session->run(), -1) << "run returns at once";
  EXPECT_FALSE(bare.view().window().windowHandle()) << "the window was never shown";

  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  QMessageBox* box = nullptr;
  const auto fromWorker = [&](const char* text) {
    auto answer = std::async(std::launch::async, [&rig, text] { rig.view().messageBox(text); });
    processUntil(
        [&] { return box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); });
    return answer;
  };
  auto answered = fromWorker("first");
  ASSERT_TRUE(box) << "the box appears";
  EXPECT_EQ(std::tuple(box->windowTitle(), box->text(), box->icon(), box->buttons().size()),
            std::tuple(u("DRAVIK_B"), u("first"), QMessageBox::NoIcon, 1));
  EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout) << "the worker waits for OK";
  box->button(QMessageBox::Ok)->click();
  EXPECT_EQ(answered.wait_for(5s), std::future_status::ready) << "OK releases the worker";

  auto pending = fromWorker("second");
  rig.view().window().close();
  EXPECT_EQ(pending.wait_for(5s), std::future_status::ready) << "closing releases the worker";
  EXPECT_TRUE(processUntil([] { return !QApplication::activeModalWidget(); }))
      << "and takes the box away";
}

}  // namespace
}  // namespace dravik::test
