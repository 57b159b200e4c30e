// The listening server, its receivers and the start/stop command, end to end on 127.0.0.1.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <mutex>
#include <semaphore>
#include <tuple>

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor_rig.h"
#include "temp_dir.h"

namespace dravik {
namespace {

using namespace test;
const Bytes kDo1On{0x44, 0x4F, 0x31, 0x30, 0xC8};

TEST(ListeningServer, UnitSendsOneFrameAndCloses) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(p->programName);
    TempDir dir;
    MonitorRig rig(*p);
    const std::string log = dir.path() + "/log.csv";
    rig.useLog(log);
    ASSERT_TRUE(rig.start(1));
    for (const OutputRow& row : p->outputs) rig.view.enable(row.button, false);
    const int unit = connectUnit(rig.listening[0]);
    ASSERT_TRUE(sendBytes(unit, kDo1On));
    EXPECT_EQ(receive(unit, 5), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8}));
    const int label = kSlotControls[0].sourceLabel;
    char shown[64];
    std::snprintf(shown, sizeof shown, messages().sourceAddressFormat.c_str(), "127.0.0.1");
    EXPECT_TRUE(eventually([&] { return rig.view.text(label) == shown; })) << rig.view.text(label);
    EXPECT_TRUE(eventually([&] { return lineCount(log) == 2u; })) << fileText(log);
    EXPECT_NE(fileText(log).find(",127.0.0.1,1,0"), std::string::npos) << fileText(log);
    PortSlot& slot = rig.monitor.state().slots[0];
    if (p->slotKeepsUnit) {
      // The buttons are the frame's last window update.
      EXPECT_TRUE(eventually([&] { return rig.view.control(p->outputs[2].button).enabled; }));
      EXPECT_TRUE(slot.unitAddress == kLoopback && slot.connectionSocket != kNoSocket)
          << "the unit and its connection are not published";
    }
    ::close(unit);
    EXPECT_TRUE(eventually([&] {
      return rig.view.text(label).empty() && slot.connectionSocket == kNoSocket;
    })) << "label or connection kept after the unit closed";
    const auto cpu = processCpuTime();
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(processCpuTime() - cpu, 50ms) << "a thread spins once the unit has gone";
    EXPECT_EQ(rig.view.trace(),
              p->traceEnabled ? "server start.\r\nselect.\r\nfrom:127.0.0.1   Recv 44 4f\r\n" : "");
  }
}

TEST(ListeningServer, FramesOnPendingConnectionsOfSlotsSharingTheInputs) {
  TempDir dir;
  MonitorRig rig(kVariantB);
  const std::string log = dir.path() + "/log.csv";
  rig.useLog(log);
  const int portA = freePort(), portB = freePort();
  rig.ports({std::to_string(portA), "", "", std::to_string(portB)});
  rig.monitor.start();
  const int first = connectUnit(portA), second = connectUnit(portA);
  ASSERT_TRUE(sendBytes(
      second, {0x41, 0x42, 0xC8, 0x44, 0x4F, 0x31, 0x30, 0xC8, 0x44, 0x4F, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(second, 10),
            (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8, 0x64, 0x6F, 0x20, 0x20, 0xC8}))
      << "the foreign frame gets no answer, both DO frames do, in order";
  EXPECT_TRUE(eventually([&] { return lineCount(log) == 3u; }))
      << "a header and one line per valid frame: " << fileText(log);
  EXPECT_NE(rig.view.trace().find("Recv 41 42"), std::string::npos) << "foreign frame untraced";
  ASSERT_TRUE(sendBytes(first, {0x44, 0x4B, 0x30, 0x30, 0x31, 0x31, 0xC8}));
  EXPECT_EQ(receive(first, 5), (Bytes{0x64, 0x6B, 0x20, 0x21, 0xC8})) << "DI5 on by mask";
  // A unit of the other slot sees DI5, and its DK frame repaints only the lamp of its mask.
  auto repaints = [&](int i) { return rig.view.control(kVariantB.inputs[i].lamp).repaints; };
  const std::pair before{repaints(0), repaints(1) + 1};
  const int other = connectUnit(portB);
  ASSERT_TRUE(sendBytes(other, {0x44, 0x4B, 0x32, 0x32, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(other, 5), (Bytes{0x64, 0x6B, 0x22, 0x21, 0xC8}));
  EXPECT_EQ(std::pair(repaints(0), repaints(1)), before) << "only DI2, of the mask, repaints";
  EXPECT_EQ(rig.monitor.server().receiverCount(), 3u) << "one receiver per connection";
  for (int fd : {first, second, other}) ::close(fd);
  EXPECT_TRUE(eventually([&] { return rig.monitor.server().receiverCount() == 0; }))
      << "finished receivers are not joined";
}

TEST(StartStop, PortTextsAreValidatedPerSlotAndDuplicatesOrABindFailureOpenNothing) {
  const Messages& m = messages();
  MonitorRig rig(kVariantB);
  const int p0 = freePort();
  rig.ports({" " + std::to_string(p0) + " ", "1023", ""});
  rig.view.appendTrace("old");
  rig.monitor.startStop();
  const MonitorState& state = rig.monitor.state();
  const auto text = [&](int id) { return rig.view.text(id); };
  const auto on = [&](int id) { return rig.view.control(id).enabled; };
  const int edit = kSlotControls[0].portEdit, error = kSlotControls[1].sourceLabel;
  EXPECT_EQ(std::tuple(state.running.load(), rig.slot(0), state.slots[0].port, rig.slot(1)),
            std::tuple(1, SlotState::Serving, p0, SlotState::Idle));
  EXPECT_EQ(text(error) + "|" + text(kSlotControls[2].sourceLabel) + "|" + rig.view.trace(),
            m.portNumberError + "||server start.\r\n")
      << "slot 2's empty text is passed over; the trace is cleared at the attempt";
  EXPECT_EQ(text(ctl::kStartStop) + text(ctl::kStatusPanel),
            m.stopServerCaption + m.statusListening);
  EXPECT_FALSE(on(edit) || on(ctl::kAdapterCombo));
  rig.monitor.startStop();
  EXPECT_EQ(std::pair(state.running.load(), rig.slot(0)), std::pair(0, SlotState::Idle));
  EXPECT_TRUE(on(edit) && on(ctl::kAdapterCombo));
  EXPECT_EQ(text(ctl::kStartStop), m.startServerCaption);
  EXPECT_TRUE(connectUnit(p0) < 0) << "listening socket open after the stop";
  EXPECT_EQ(text(error), "") << "the port error outlived the stop";

  // No valid port: the start opens nothing, and the stop still writes the stopped texts.
  rig.ports({"65536"});
  rig.monitor.startStop();
  EXPECT_EQ(text(ctl::kStatusPanel), m.statusListening);
  rig.monitor.startStop();
  EXPECT_EQ(text(ctl::kStatusPanel), m.statusStopped);
  EXPECT_TRUE(rig.view.messageBoxes().empty()) << "invalid ports show no message box";

  const int p1 = freePort();
  rig.ports({std::to_string(p0), std::to_string(p0)});
  rig.monitor.startStop();
  EXPECT_TRUE(rig.slot(0) == SlotState::Idle && connectUnit(p0) < 0)
      << "opened for duplicate ports";

  int p2 = 0;
  const int blocker = listener(p2);
  const std::size_t fds = entries("/proc/self/fd");
  rig.ports({std::to_string(p0), std::to_string(p1), std::to_string(p2)});
  rig.monitor.startStop();
  char expected[128];
  std::snprintf(expected, sizeof expected, messages().bindErrorFormat.c_str(), EADDRINUSE);
  EXPECT_EQ(rig.view.messageBoxes(),
            (std::vector<std::string>{messages().duplicatePorts, expected}));
  EXPECT_EQ(rig.monitor.state().running, 0);
  for (int s = 0; s < kPortSlotCount; ++s) EXPECT_EQ(rig.slot(s), SlotState::Idle) << s;
  EXPECT_TRUE(connectUnit(p0) < 0 && connectUnit(p1) < 0) << "sockets of slots 0 and 1 left open";
  EXPECT_EQ(entries("/proc/self/fd"), fds) << "a descriptor left behind";
  ::close(blocker);
  rig.monitor.startStop();
  EXPECT_EQ(rig.slot(2), SlotState::Serving) << "a later start fails";
}

TEST(StartStop, StopWithConnectedUnitsLeavesNothingBehind) {
  MonitorRig rig(kVariantA);
  MonitorState& state = rig.monitor.state();
  const int p0 = freePort(), p1 = freePort();
  rig.ports({std::to_string(p0), std::to_string(p1)});
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE(cycle);
    rig.monitor.startStop();
    std::vector<int> units;
    for (int port : {p0, p0, p1, p1}) {
      units.push_back(connectUnit(port));
      ASSERT_TRUE(sendBytes(units.back(), kDo1On) && receive(units.back(), 5).size() == 5u)
          << "unit on " << port << " unanswered";
    }
    // The window updates of a frame follow its answer; the last one lands first.
    EXPECT_TRUE(eventually([&] { return !rig.view.text(kSlotControls[1].sourceLabel).empty(); }));
    for (int i = 0; i < kVariantA.inputCount(); ++i) state.inputs[i] = 1;
    rig.monitor.startStop();
    for (int fd : units) EXPECT_TRUE(seesEof(fd, 2s)) << "a unit connection outlived the stop";
    for (int fd : units) ::close(fd);
    for (int i = 0; i < kVariantA.inputCount(); ++i)
      EXPECT_EQ(state.inputs[i], 0) << "DI" << i + 1 << " kept at the end";
    EXPECT_EQ(std::pair(state.slots[0].listenSocket, state.slots[1].listenSocket),
              std::pair(kNoSocket, kNoSocket))
        << "a closed socket kept";
  }
}

TEST(StartStop, AConnectionIsUsedUnderItsLockAndAFrameRacingTheStopCannotUndoTheStoppedLook) {
  MonitorRig rig(kVariantA);
  ASSERT_TRUE(rig.start(1));
  rig.view.setText(ctl::kDestinationPort, std::to_string(freePort()));
  PortSlot& slot = rig.monitor.state().slots[0];
  // Held while a receiver closes its connection, whose number a new one may carry.
  std::unique_lock hold(slot.connectionLock);
  const int unit = connectUnit(rig.listening[0]);
  EXPECT_FALSE(eventually([&] { return slot.connectionSocket != kNoSocket; }, 300ms))
      << "published while the connection lock was held";
  hold.unlock();
  ASSERT_TRUE(eventually([&] { return slot.connectionSocket != kNoSocket; }));
  hold.lock();
  rig.monitor.toggleDigitalOut(0);
  EXPECT_EQ(receive(unit, 5, 300ms), Bytes{}) << "sent under a held lock";
  hold.unlock();
  EXPECT_EQ(receive(unit, 5), (Bytes{0x44, 0x4F, 0x21, 0x20, 0xC8})) << "DO1 on its connection";

  // The receiver is parked after it decided to show its frame, before the label changes.
  std::binary_semaphore parked{0}, released{0};
  std::atomic<bool> parkedOnce{false};
  rig.view.onSetText([&](int id, const std::string& text) {
    if (id != kSlotControls[0].sourceLabel || text.empty() || parkedOnce.exchange(true)) return;
    parked.release();
    released.acquire();
  });
  ASSERT_TRUE(sendBytes(unit, kDo1On) && parked.try_acquire_for(10s)) << "no frame was shown";
  auto stop = std::async(std::launch::async, [&] { rig.monitor.stop(); });
  EXPECT_EQ(stop.wait_for(300ms), std::future_status::timeout)
      << "the stop reset the look while a frame that saw the slot serving was still showing";
  released.release();
  stop.get();
  rig.view.onSetText(nullptr);
  EXPECT_EQ(rig.view.text(kSlotControls[0].sourceLabel), "") << "the address outlived the stop";
  for (const OutputRow& row : kVariantA.outputs)
    EXPECT_FALSE(rig.view.control(row.button).enabled) << "ON/OFF enabled after the stop";
  ::close(unit);
}

// A window whose first message box waits until the test lets it go, as the operator would.
struct ParkingView : FakeView {
  void messageBox(const std::string& text) override {
    FakeView::messageBox(text);
    if (once.exchange(true)) return;
    parked.release();
    released.acquire();
  }
  std::binary_semaphore parked{0}, released{0};
  std::atomic<bool> once{false};
};

TEST(StartStop, AReceiverLeftFromAnEarlierRunEndsWithIt) {
  ParkingView view;
  FakeAdapters adapters;
  Monitor monitor(kVariantB, view, adapters, nullptr, "/nonexistent-dravik", "/nonexistent-dravik",
                  {1, 0, 1, 0});
  monitor.overrideLocalAddress(kLoopback);
  monitor.accessLog().update({true, "/nonexistent-dravik/log.csv", {}, {}});
  view.setText(kSlotControls[0].portEdit, std::to_string(freePort()));
  monitor.start();
  const int unit = connectUnit(monitor.state().slots[0].port);
  ASSERT_TRUE(sendBytes(unit, kDo1On) && receive(unit, 5).size() == 5u);
  ASSERT_TRUE(view.parked.try_acquire_for(10s)) << "the log that cannot open showed no box";
  // The box is still up while the slot stops and serves again in a new run.
  monitor.stop();
  monitor.start();
  ASSERT_EQ(monitor.state().slots[0].state, SlotState::Serving);
  view.released.release();
  EXPECT_TRUE(seesEof(unit, 5s)) << "the old run's receiver went on serving the new run";
  EXPECT_EQ(view.text(kSlotControls[0].sourceLabel), "") << "the old run's frame was shown";
  monitor.shutdown();
  ::close(unit);
}

}  // namespace
}  // namespace dravik
