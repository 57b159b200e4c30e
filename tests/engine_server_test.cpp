// The listening server, its receivers and the start/stop command, end to end on 127.0.0.1.
#ifndef _WIN32
#include <netinet/tcp.h>
#else
#include <winsock2.h>

#include <ws2tcpip.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

#include "engine/frame_codec.h"
#include "flag.h"
#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor_rig.h"
#include "temp_dir.h"

namespace dravik {
namespace {

using namespace test;

// The error number of a port in use.
#ifndef _WIN32
constexpr int kPortInUse = EADDRINUSE;
#else
constexpr int kPortInUse = 10048;
#endif
const Bytes kDo1On{0x44, 0x4F, 0x31, 0x30, 0xC8};

TEST(ListeningServer, UnitSendsOneFrameAndCloses) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(p->modelName);
    TempDir dir;
    MonitorRig rig(*p);
    const std::string log = dir.path() + "/log.csv";
    rig.useLog(log);
    ASSERT_TRUE(rig.start(1));
    rig.monitor.state().outputs[1] = 7;  // any non-zero state is on
    for (const OutputRow& row : windowProfile(*p).outputs) rig.view.enable(row.button, false);
    const int unit = connectUnit(rig.listening[0]);
    ASSERT_TRUE(sendBytes(unit, kDo1On));
    EXPECT_EQ(receive(unit, 5), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8}));
    const int label = kSlotControls[0].sourceLabel;
    char shown[64];
    std::snprintf(shown, sizeof shown, messages().sourceAddressFormat.c_str(), "127.0.0.1");
    EXPECT_TRUE(eventually([&] { return rig.view.text(label) == shown; })) << rig.view.text(label);
    EXPECT_TRUE(eventually([&] { return lineCount(log) == 2u; })) << fileText(log);
    EXPECT_TRUE(fileText(log).ends_with(p->hasOutputs() ? ",127.0.0.1,1,0,0,0,0,1,0,0\r\n"
                                                        : ",127.0.0.1,1,0,0,0,0,0,0,0\r\n"))
        << "the frame's inputs and the outputs as it was answered: " << fileText(log);
    PortSlot& slot = rig.monitor.state().slots[0];
    if (p->slotKeepsUnit) {
      // The buttons are the frame's last window update.
      EXPECT_TRUE(eventually(
          [&] { return rig.view.control(windowProfile(*p).outputs[2].button).enabled; }));
      int atOnce = 0;
      socklen_t size = sizeof atOnce;
      ::getsockopt(slot.connectionSocket, IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<char*>(&atOnce), &size);
      EXPECT_TRUE(slot.unitAddress == kLoopback && atOnce != 0)
          << "the unit and its connection (answers sent at once) are not published";
    }
    hangUp(unit);
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
  auto repaints = [&](int i) { return rig.view.control(kWindowProfileB.inputs[i].lamp).repaints; };
  const std::pair before{repaints(0), repaints(1) + 1};
  const int other = connectUnit(portB);
  ASSERT_TRUE(sendBytes(other, {0x44, 0x4B, 0x32, 0x32, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(other, 5), (Bytes{0x64, 0x6B, 0x22, 0x21, 0xC8}));
  EXPECT_EQ(std::pair(repaints(0), repaints(1)), before) << "only DI2, of the mask, repaints";
  EXPECT_EQ(rig.monitor.server().receiverCount(), 3u) << "one receiver per connection";
  for (int fd : {first, second, other}) hangUp(fd);
  EXPECT_TRUE(eventually([&] { return rig.monitor.server().receiverCount() == 0; }))
      << "finished receivers are not joined";
}

// The input bits, DI1 = bit 0, that each answer of `answers` carried.
std::vector<unsigned> answerBits(const Bytes& answers) {
  std::vector<unsigned> bits;
  for (std::size_t a = 0; a + 5 <= answers.size(); a += 5)
    bits.push_back((answers[a + 2] & 0x0Fu) | (answers[a + 3] & 0x0Fu) << 4);
  return bits;
}

// The bits of the last `signals` columns of every line of a log after its first.
std::vector<unsigned> loggedBits(const std::string& path, std::size_t signals) {
  std::vector<unsigned> bits;
  std::istringstream in(fileText(path));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    // Each column is a comma and a digit; the line ends in CR.
    unsigned b = 0;
    for (std::size_t s = 0; s < signals; ++s)
      b |= (line[line.size() - 2 * (signals - s)] == '1' ? 1u : 0u) << s;
    bits.push_back(b);
  }
  return bits;
}

// How many of `merged`, from the first, are `a` and `b` interleaved, each kept in its order.
std::size_t mergedPrefix(const std::vector<unsigned>& merged, const std::vector<unsigned>& a,
                         const std::vector<unsigned>& b) {
  // reach[i]: the first k lines can be the first i of `a` and the first k - i of `b`.
  std::vector<char> reach(a.size() + 1), next(a.size() + 1);
  reach[0] = 1;
  for (std::size_t k = 0; k < merged.size(); ++k) {
    std::ranges::fill(next, 0);
    bool any = false;
    for (std::size_t i = 0; i <= std::min(k, a.size()); ++i) {
      if (!reach[i]) continue;
      if (i < a.size() && a[i] == merged[k]) any = (next[i + 1] = 1);
      if (k - i < b.size() && b[k - i] == merged[k]) any = (next[i] = 1);
    }
    if (!any) return k;
    reach.swap(next);
  }
  return merged.size();
}

TEST(ListeningServer, TheLinesOfUnitsReportingAtOnceCarryTheirOwnAnswers) {
  TempDir dir;
  MonitorRig rig(kVariantB);
  const std::string log = dir.path() + "/log.csv";
  rig.useLog(log);
  ASSERT_TRUE(rig.start(2));
  // Unit u owns four inputs, which its DK frames set to a pattern of its own; its answers also
  // carry the other unit's four as they stood at that moment.
  constexpr int kFrames = 3000;
  std::vector<unsigned> answered[2];
  {
    std::vector<std::jthread> units;
    for (int u = 0; u < 2; ++u) {
      units.emplace_back([&, u] {
        Bytes frames;
        for (int i = 0; i < kFrames; ++i) {
          const std::uint8_t v = 0x30 | ((i * (5 + 2 * u) + u) & 0x0F);
          const Bytes dk = u == 0 ? Bytes{0x44, 0x4B, v, 0x3F, 0x30, 0x30, 0xC8}
                                  : Bytes{0x44, 0x4B, 0x30, 0x30, v, 0x3F, 0xC8};
          frames.insert(frames.end(), dk.begin(), dk.end());
        }
        const int fd = connectUnit(rig.listening[u]);
        std::jthread writer([&] { sendBytes(fd, frames); });
        answered[u] = answerBits(receive(fd, kFrames * 5, 60s));
        writer.join();
        hangUp(fd);
      });
    }
  }
  ASSERT_EQ(answered[0].size() + answered[1].size(), 2u * kFrames) << "unanswered frames";
  ASSERT_TRUE(eventually([&] { return lineCount(log) == 1 + 2u * kFrames; }))
      << lineCount(log) << " lines for " << 2 * kFrames << " frames";
  const std::vector<unsigned> logged = loggedBits(log, 8);
  EXPECT_EQ(mergedPrefix(logged, answered[0], answered[1]), logged.size())
      << "the lines are not each unit's answers in its order, from this line on";
}

// The frame codec applied one frame at a time to `segments` in turn, from every input off: per
// segment the answers and the lamps to repaint.
std::pair<std::vector<Bytes>, std::vector<unsigned>> oneByOne(const VariantProfile& p,
                                                              const std::vector<Bytes>& segments) {
  InputStates inputs{};
  FrameBuffer buffer;
  std::pair<std::vector<Bytes>, std::vector<unsigned>> out;
  auto& [answers, repaints] = out;
  for (const Bytes& segment : segments) {
    answers.emplace_back();
    repaints.push_back(0);
    for (std::uint8_t byte : segment) {
      if (!buffer.push(byte)) continue;
      const Decoded d = decodeFrame(p, buffer.bytes(), inputs);
      if (d.result != kOk) continue;
      answers.back().insert(answers.back().end(), d.answer.begin(), d.answer.end());
      repaints.back() |= d.repaintMask;
    }
  }
  return out;
}

TEST(ListeningServer, BurstsAreAnsweredAsFrameByFrameAndShownOnceEach) {
  // DO and DK frames, a foreign frame, a short DK over what the frame before left, a DK cut
  // across the two segments; the second segment sets DI1 to DI5 only.
  const std::vector<Bytes> segments{
      {0x44, 0x4F, 0x35, 0x3A, 0xC8, 0x41, 0x42, 0xC8, 0x44, 0x4B, 0x30,
       0x33, 0x3F, 0x30, 0xC8, 0x44, 0x4B, 0xC8, 0x44, 0x4B, 0x3F},
      {0x3F, 0x30, 0x30, 0xC8, 0x44, 0x4B, 0x30, 0x30, 0x31, 0x31, 0xC8}};
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(p->modelName);
    TempDir dir;
    MonitorRig rig(*p);
    const std::string log = dir.path() + "/log.csv";
    rig.useLog(log);
    ASSERT_TRUE(rig.start(1));
    rig.monitor.state().outputs[0] = rig.monitor.state().outputs[2] = 1;
    const auto [answers, repaints] = oneByOne(*p, segments);
    const auto lamps = [&] {
      std::vector<int> counts;
      for (const InputRow& row : windowProfile(*p).inputs)
        counts.push_back(rig.view.control(row.lamp).repaints);
      return counts;
    };
    std::vector<int> lampsAfter = lamps();
    Bytes allAnswers;
    const int unit = connectUnit(rig.listening[0]);
    for (std::size_t s = 0; s < segments.size(); ++s) {
      ASSERT_TRUE(sendBytes(unit, segments[s]));
      EXPECT_EQ(receive(unit, answers[s].size()), answers[s]) << "the answers of segment " << s;
      allAnswers.insert(allAnswers.end(), answers[s].begin(), answers[s].end());
      for (int i = 0; i < p->inputCount(); ++i) lampsAfter[i] += repaints[s] >> i & 1;
    }
    hangUp(unit);
    const int label = kSlotControls[0].sourceLabel;
    ASSERT_TRUE(eventually([&] { return rig.view.control(label).writes == 2; }))
        << "set for the unit, cleared when it closed";
    EXPECT_EQ(lamps(), lampsAfter) << "a lamp repaints once per burst that changed its input";
    for (const OutputRow& row : windowProfile(*p).outputs)
      EXPECT_EQ(rig.view.control(row.button).writes, 1) << "ON/OFF enabled once";
    std::vector<unsigned> lines = answerBits(allAnswers);
    for (unsigned& line : lines) line |= p->hasOutputs() ? 0x5u << p->inputCount() : 0;
    EXPECT_EQ(loggedBits(log, 8), lines) << "a line per answered frame with its own states";
  }
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
  const std::size_t fds = openHandles();
  rig.ports({std::to_string(p0), std::to_string(p1), std::to_string(p2)});
  rig.monitor.startStop();
  char expected[128];
  std::snprintf(expected, sizeof expected, messages().bindErrorFormat.c_str(), kPortInUse);
  EXPECT_EQ(rig.view.messageBoxes(),
            (std::vector<std::string>{messages().duplicatePorts, expected}));
  EXPECT_EQ(rig.monitor.state().running, 0);
  for (int s = 0; s < kPortSlotCount; ++s) EXPECT_EQ(rig.slot(s), SlotState::Idle) << s;
  EXPECT_TRUE(connectUnit(p0) < 0 && connectUnit(p1) < 0) << "sockets of slots 0 and 1 left open";
  EXPECT_EQ(openHandles(), fds) << "a descriptor left behind";
  hangUp(blocker);
  rig.monitor.startStop();
  EXPECT_EQ(rig.slot(2), SlotState::Serving) << "a later start fails";
}

TEST(StartStop, AFailedStartReturnsItsStepAndTheMonitorShowsItsBox) {
  MonitorRig rig(kVariantB);
  ListeningServer& server = rig.monitor.server();
  int held = 0;
  const int blocker = listener(held);
  const int p0 = freePort();
  EXPECT_EQ(server.start(kLoopback, {p0, std::nullopt, held}),
            (StartError{StartFailure::Bind, kPortInUse}));
  EXPECT_TRUE(rig.slot(0) == SlotState::Idle && rig.slot(2) == SlotState::Idle &&
              connectUnit(p0) < 0)
      << "the failed attempt left a slot starting or a socket open";
  EXPECT_TRUE(rig.view.messageBoxes().empty()) << "the engine showed a box itself";
  hangUp(blocker);
  EXPECT_EQ(server.start(kLoopback, {std::nullopt, held}), std::nullopt);
  EXPECT_EQ(std::tuple(rig.slot(0), rig.slot(1), rig.monitor.state().slots[1].port),
            std::tuple(SlotState::Idle, SlotState::Serving, held))
      << "only the slots given a port start, on that port";

  const Messages& m = messages();
  const std::pair<StartFailure, std::string> boxes[] = {
      {StartFailure::Socket, m.socketErrorFormat},
      {StartFailure::Bind, m.bindErrorFormat},
      {StartFailure::Listen, m.listenErrorFormat},
      {StartFailure::Thread, m.threadErrorFormat}};
  std::vector<std::string> expected;
  for (int i = 0; i < 4; ++i) {
    rig.monitor.showStartFailure({boxes[i].first, 10 + i});
    char text[128];
    std::snprintf(text, sizeof text, boxes[i].second.c_str(), 10 + i);
    expected.push_back(text);
  }
  EXPECT_EQ(rig.view.messageBoxes(), expected) << "each step shows its own text and number";
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
    for (int fd : units) hangUp(fd);
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
  Flag parked, released;
  std::atomic<bool> parkedOnce{false};
  rig.view.onSetText([&](int id, const std::string& text) {
    if (id != kSlotControls[0].sourceLabel || text.empty() || parkedOnce.exchange(true)) return;
    parked.raise();
    released.wait();
  });
  ASSERT_TRUE(sendBytes(unit, kDo1On) && parked.waitFor(10s)) << "no frame was shown";
  auto stop = std::async(std::launch::async, [&] { rig.monitor.stop(); });
  EXPECT_EQ(stop.wait_for(300ms), std::future_status::timeout)
      << "the stop reset the look while a frame that saw the slot serving was still showing";
  released.raise();
  stop.get();
  rig.view.onSetText(nullptr);
  EXPECT_EQ(rig.view.text(kSlotControls[0].sourceLabel), "") << "the address outlived the stop";
  for (const OutputRow& row : kWindowProfileA.outputs)
    EXPECT_FALSE(rig.view.control(row.button).enabled) << "ON/OFF enabled after the stop";
  hangUp(unit);
}

TEST(StartStop, AStopInTheMiddleOfABurstLogsEveryFrameAnsweredAndNoOther) {
  TempDir dir;
  MonitorRig rig(kVariantB);  // traces each frame as it is cut
  const std::string log = dir.path() + "/log.csv";
  rig.useLog(log);
  ASSERT_TRUE(rig.start(1));
  // DO frames set every input: each answer carries its own frame's bits, a stop or not.
  constexpr int kFrames = 800, kBeforeStop = 300;
  Bytes frames;
  for (int i = 0; i < kFrames; ++i) {
    frames.insert(frames.end(), {0x44, 0x4F, std::uint8_t(0x30 | (i & 0x0F)),
                                 std::uint8_t(0x30 | (i >> 4 & 0x0F)), 0xC8});
  }
  std::future<void> stop;
  int cut = 0;
  rig.view.onTrace([&](const std::string& text) {
    if (!text.starts_with("from:") || ++cut != kBeforeStop) return;
    stop = std::async(std::launch::async, [&] { rig.monitor.stop(); });
    eventually([&] { return rig.slot(0) != SlotState::Serving; });
  });
  const int unit = connectUnit(rig.listening[0]);
  ASSERT_TRUE(sendBytes(unit, frames));
  const Bytes answers = receive(unit, frames.size());
  EXPECT_TRUE(seesEof(unit)) << "the connection outlived the stop";
  hangUp(unit);
  // Joined: what the receiver did is seen here.
  ASSERT_TRUE(eventually([&] { return rig.monitor.server().receiverCount() == 0; }));
  ASSERT_TRUE(stop.valid()) << "the stop never came";
  stop.get();
  std::vector<unsigned> sent(kBeforeStop);
  for (int i = 0; i < kBeforeStop; ++i) sent[i] = i & 0xFF;
  EXPECT_EQ(answerBits(answers), sent) << "answered up to the frame the stop came in";
  EXPECT_TRUE(fileText(log).ends_with("\r\n")) << "a line left half-written";
  EXPECT_EQ(loggedBits(log, 8), sent) << "every frame answered is logged, no other";
}

// A window whose first message box waits until the test lets it go, as the operator would.
struct ParkingView : FakeView {
  void messageBox(const std::string& text) override {
    FakeView::messageBox(text);
    if (once.exchange(true)) return;
    parked.raise();
    released.wait();
  }
  Flag parked, released;
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
  ASSERT_TRUE(view.parked.waitFor(10s)) << "the log that cannot open showed no box";
  // The box is still up while the slot stops and serves again in a new run.
  monitor.stop();
  monitor.start();
  ASSERT_EQ(monitor.state().slots[0].state, SlotState::Serving);
  view.released.raise();
  EXPECT_TRUE(seesEof(unit, 5s)) << "the old run's receiver went on serving the new run";
  EXPECT_EQ(view.text(kSlotControls[0].sourceLabel), "") << "the old run's frame was shown";
  monitor.shutdown();
  hangUp(unit);
}

}  // namespace
}  // namespace dravik
