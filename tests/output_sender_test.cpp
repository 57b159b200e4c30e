// The ON/OFF switch and the output sender of DRAVIK_A, end to end on 127.0.0.1.
#ifndef _WIN32
#include <sched.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor_rig.h"
#include "output/output_sender.h"
#include "platform/worker_thread.h"

namespace dravik {
namespace {

using namespace test;

// One report and its answer, so the slot knows its unit.
void report(int unit) {
  ASSERT_TRUE(sendBytes(unit, {0x44, 0x4F, 0x30, 0x30, 0xC8}) && receive(unit, 5).size() == 5u);
}

// A unit reports on `slot` and hangs up: the slot keeps its address alone.
void reportAndLeave(MonitorRig& rig, int slot) {
  const int unit = connectUnit(rig.listening[slot]);
  report(unit);
  hangUp(unit);
  ASSERT_TRUE(
      eventually([&] { return rig.monitor.state().slots[slot].connectionSocket == kNoSocket; }));
}

// What arrives on a new connection to `destination`, and from where; the sender must close it.
std::pair<Bytes, std::uint32_t> acceptFrame(int destination) {
  if (!readable(destination, 5s)) return {};
  const sock::Accepted taken = sock::acceptFrom(socketOf(destination));
  const int fd = fdOf(taken.socket);
  const Bytes frame = receive(fd, 5);
  if (!seesEof(fd, 5s)) ADD_FAILURE() << "the sender left its output connection open";
  hangUp(fd);
  return {frame, taken.peer};
}

TEST(OutputSender, FrameGoesToEveryServingUnitInSlotOrder) {
  MonitorRig rig(kVariantA);
  ASSERT_TRUE(rig.start(2));
  int destinationPort = 0;
  const int destination = listener(destinationPort);
  rig.view.setText(ctl::kDestinationPort, std::to_string(destinationPort));
  // Slot 0's unit reports and hangs up; slot 1's unit keeps its connection.
  reportAndLeave(rig, 0);
  const int unit1 = connectUnit(rig.listening[1]);
  report(unit1);

  rig.monitor.state().outputs[0] = 1;
  rig.monitor.toggleDigitalOut(2);
  EXPECT_EQ(rig.monitor.state().outputs[2], 1);
  EXPECT_GT(rig.view.control(kWindowProfileA.outputs[2].lamp).repaints, 0) << "DO3 lamp unpainted";
  const Bytes kDo1And3{0x44, 0x4F, 0x25, 0x20, 0xC8};
  EXPECT_EQ(acceptFrame(destination), std::pair(kDo1And3, kLoopback)) << "slot 0, a new connection";
  EXPECT_EQ(receive(unit1, 5), kDo1And3) << "slot 1's unit on its reporting connection";
  EXPECT_FALSE(readable(destination, 100ms)) << "a new connection for the reporting unit";
  report(unit1);

  // A unit that refuses: the output still flips, no box, and the next slot is still served.
  hangUp(destination);
  rig.monitor.toggleDigitalOut(0);
  EXPECT_TRUE(rig.monitor.state().outputs[0] == 0 && rig.view.messageBoxes().empty());
  EXPECT_EQ(receive(unit1, 5), (Bytes{0x44, 0x4F, 0x24, 0x20, 0xC8}));

  rig.view.setText(ctl::kDestinationPort, "1023");
  rig.monitor.toggleDigitalOut(1);
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{messages().destinationPortRefused});
  EXPECT_EQ(rig.monitor.state().outputs[1], 0);
  EXPECT_FALSE(readable(unit1, 100ms)) << "sent for a refused port";

  rig.monitor.stop();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.monitor.state().outputs[k], 0) << "kept at the stop";
  hangUp(unit1);
}

std::atomic<bool> refuseThreads{false};
WorkerThread::CreateFunction systemCreate = nullptr;
int refusingCreate(WorkerThread::Handle* thread, WorkerThread::Start* start) {
  return refuseThreads ? EAGAIN : systemCreate(thread, start);
}

// A unit that has gone leaves a connection attempt unanswered: neither the clicks, nor the
// other slot's unit, nor the stop waits for it, and each unit gets its frames in click order.
TEST(OutputSender, AUnitThatDoesNotAnswerHoldsUpNeitherTheClicksNorAnotherUnitNorAStop) {
  MonitorRig rig(kVariantA);
  const std::size_t threads = threadCount();
  ASSERT_TRUE(rig.start(2));
  const SilentPort silent;
  rig.view.setText(ctl::kDestinationPort, std::to_string(silent.port));
  reportAndLeave(rig, 0);
  const int unit1 = connectUnit(rig.listening[1]);
  report(unit1);

  for (int channel : {0, 1, 2}) rig.monitor.toggleDigitalOut(channel);
  const std::vector<Bytes> clicks{{0x44, 0x4F, 0x21, 0x20, 0xC8},
                                  {0x44, 0x4F, 0x23, 0x20, 0xC8},
                                  {0x44, 0x4F, 0x27, 0x20, 0xC8}};
  for (const Bytes& frame : clicks)
    EXPECT_EQ(receive(unit1, 5), frame) << "slot 1's unit waited for slot 0's";
  silent.answer();
  for (const Bytes& frame : clicks)
    EXPECT_EQ(acceptFrame(silent.listening).first, frame) << "slot 0's unit, once it answers";

  // No thread, no frame: the click costs its own frame alone.
  systemCreate = WorkerThread::replaceCreateFunction(&refusingCreate);
  const std::shared_ptr<void> restore(
      nullptr, [&](void*) { WorkerThread::replaceCreateFunction(systemCreate); });
  for (bool refuse : {true, false}) {
    refuseThreads = refuse;
    rig.monitor.toggleDigitalOut(3);
  }
  EXPECT_EQ(receive(unit1, 10, 1s), (Bytes{0x44, 0x4F, 0x27, 0x20, 0xC8}));

  const SilentPort goneAgain;
  rig.view.setText(ctl::kDestinationPort, std::to_string(goneAgain.port));
  for (int channel : {0, 1}) rig.monitor.toggleDigitalOut(channel);
  EXPECT_EQ(receive(unit1, 10).size(), 10u);
  rig.monitor.stop();
  EXPECT_TRUE(eventually([&] { return threadCount() <= threads; }, 5s))
      << "the stop left a connection attempt or a queued frame to a unit that does not answer";
  hangUp(unit1);
  ASSERT_TRUE(rig.start(1));
  goneAgain.answer();
  reportAndLeave(rig, 0);
  rig.monitor.toggleDigitalOut(0);
  EXPECT_EQ(acceptFrame(goneAgain.listening).first, (Bytes{0x44, 0x4F, 0x21, 0x20, 0xC8}))
      << "the stop cancelled the frames after it too";
}

// In a namespace of its own, 127.0.0.2 is local too: the connection must leave from it.
TEST(OutputSender, NewConnectionsAreTracedClosedAndLeaveFromTheSelectedAddress) {
  std::thread([] {
#ifndef _WIN32
    const bool isolated = ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
    // A refused connection and one a stop ended.
    const std::string refused = "111", cancelled = "125";
#else
    // Windows has no network namespace to make 127.0.0.2 local in.
    const bool isolated = false;
    const std::string refused = "10061", cancelled = "10103";
#endif
    MonitorState state;
    FakeView view;
    Trace trace(view, true);
    OutputSender sender(state, trace);
    const std::uint8_t frame[5] = {0x44, 0x4F, 0x28, 0x20, 0xC8};
    const std::size_t descriptors = openHandles();
    int port = 0;
    const int destination = listener(port);
    EXPECT_EQ(sender.sendDigitalOut(3, port, frame, 5), kFail);
    EXPECT_FALSE(readable(destination, 100ms)) << "no unit known: a connection to 0.0.0.0";
    state.slots[3].unitAddress = kLoopback;
    EXPECT_EQ(sender.sendDigitalOut(3, port, frame, 5), kOk);
    EXPECT_EQ(acceptFrame(destination), std::pair(Bytes(frame, frame + 5), kLoopback));
    if (isolated) {
      state.selectedLocalAddress = sock::ipv4(127, 0, 0, 2);
      EXPECT_EQ(sender.sendDigitalOut(3, port, frame, 5), kOk);
      EXPECT_EQ(acceptFrame(destination),
                std::pair(Bytes(frame, frame + 5), sock::ipv4(127, 0, 0, 2)))
          << "not bound to the selected local address";
    }
    hangUp(destination);
    EXPECT_EQ(sender.sendDigitalOut(3, port, frame, 5), kFail);
    const auto sent = [](int to) {
      return "newsocket\r\nconnect:127.0.0.1:" + std::to_string(to) + "\r\n";
    };
    std::string stopped;
    {
      // A stop wakes an attempt that the unit leaves unanswered.
      const SilentPort silent;
      sock::WakeEvent stop;
      stop.signal();
      EXPECT_EQ(sender.sendDigitalOut(3, silent.port, frame, 5, &stop), kFail);
      stopped = sent(silent.port) + "err:sendDigitalOut:connect:" + cancelled + "\r\n";
    }
    EXPECT_EQ(view.trace(), sent(port) + "send:\r\n" + (isolated ? sent(port) + "send:\r\n" : "") +
                                sent(port) + "err:sendDigitalOut:connect:" + refused + "\r\n" +
                                stopped);
    EXPECT_EQ(openHandles(), descriptors) << "a descriptor of the sender left open";
  }).join();
}

}  // namespace
}  // namespace dravik
