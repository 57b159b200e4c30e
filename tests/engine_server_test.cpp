// The listening server, its receivers and the start/stop command, end to end on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/controls.h"
#include "engine/listening_server.h"
#include "engine/messages.h"
#include "fake_adapters.h"
#include "fake_view.h"
#include "logging/access_log_sink.h"
#include "logging/trace.h"
#include "loopback_peer.h"
#include "monitor/monitor.h"
#include "output/output_sender.h"

namespace dravik {
namespace {

using namespace test;

class FakeSink : public AccessLogSink {
 public:
  void appendAccessLog(const std::string& address) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(address);
  }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// True when a socket can be bound to the port now (nobody holds it).
bool portFree(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  // Connections of the port still closing do not count; a listening socket does.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = loopback(port);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

std::string sourceLabel(const char* address) {
  char text[128];
  std::snprintf(text, sizeof text, messages().sourceAddressFormat.c_str(), address);
  return text;
}

const Bytes kDo1On{0x44, 0x4F, 0x31, 0x30, 0xC8};

// The server alone, with a recording access-log sink.
struct ServerRig {
  explicit ServerRig(const VariantProfile& p) : profile(p), trace(view, p.traceEnabled) {
    state.selectedLocalAddress = kLoopback;
  }
  void listenOn(int slot, int port) {
    state.slots[slot].port = port;
    state.slots[slot].state = SlotState::Starting;
  }
  const VariantProfile& profile;
  test::FakeView view;
  MonitorState state;
  Trace trace;
  FakeSink sink;
  ListeningServer server{profile, state, view, trace, sink};
};

TEST(ListeningServer, UnitSendsOneFrameAndCloses) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    SCOPED_TRACE(p->programName);
    ServerRig rig(*p);
    const int port = freePort();
    rig.listenOn(0, port);
    ASSERT_EQ(rig.server.start(), kOk);
    EXPECT_EQ(rig.state.slots[0].state, SlotState::Serving) << "start returns once serving";

    const int unit = connectUnit(port);
    ASSERT_GE(unit, 0);
    ASSERT_TRUE(sendBytes(unit, kDo1On));
    EXPECT_EQ(receive(unit, 5), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8}));
    const int label = kSlotControls[0].sourceLabel;
    EXPECT_TRUE(eventually([&] { return rig.view.text(label) == sourceLabel("127.0.0.1"); }))
        << "label after a valid frame: " << rig.view.text(label);
    EXPECT_EQ(rig.sink.calls(), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(rig.state.inputs[0], 1);
    if (p->slotKeepsUnit) {
      EXPECT_EQ(rig.state.slots[0].unitAddress, kLoopback);
      EXPECT_NE(rig.state.slots[0].connectionSocket, kNoSocket) << "open connection published";
      EXPECT_TRUE(rig.view.control(kVariantA.outputs[2].button).enabled);
    }
    ::close(unit);
    EXPECT_TRUE(eventually([&] { return rig.view.text(label).empty(); }))
        << "label cleared when the unit closes";
    EXPECT_TRUE(eventually([&] { return rig.state.slots[0].connectionSocket == kNoSocket; }));
    if (p->traceEnabled) {
      EXPECT_NE(
          rig.view.trace().find("server start.\r\nselect.\r\nfrom:127.0.0.1   Recv 44 4f\r\n"),
          std::string::npos)
          << rig.view.trace();
    } else {
      EXPECT_EQ(rig.view.trace(), "") << "DRAVIK_A traces nothing";
    }
  }
}

TEST(ListeningServer, FramingOnOneConnection) {
  ServerRig rig(kVariantB);
  const int port = freePort();
  rig.listenOn(1, port);
  ASSERT_EQ(rig.server.start(), kOk);
  const int unit = connectUnit(port);
  ASSERT_GE(unit, 0);
  // Another kind first, then two frames in one segment.
  ASSERT_TRUE(sendBytes(
      unit, {0x41, 0x42, 0xC8, 0x44, 0x4F, 0x31, 0x30, 0xC8, 0x44, 0x4F, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(unit, 10), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8, 0x64, 0x6F, 0x20, 0x20, 0xC8}))
      << "the foreign frame gets no answer, both DO frames do, in order";
  EXPECT_EQ(rig.state.inputs[0], 0) << "the last frame wins";
  EXPECT_TRUE(eventually([&] { return rig.sink.calls().size() == 2u; }))
      << "one log call per valid frame, not " << rig.sink.calls().size();
  EXPECT_NE(rig.view.trace().find("Recv 41 42"), std::string::npos) << "foreign frame traced";
  // A DK frame repaints only the lamps of its mask: DI2.
  const int before = rig.view.control(kVariantB.inputs[0].lamp).repaints;
  ASSERT_TRUE(sendBytes(unit, {0x44, 0x4B, 0x32, 0x32, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(unit, 5), (Bytes{0x64, 0x6B, 0x22, 0x20, 0xC8}));
  EXPECT_EQ(rig.view.control(kVariantB.inputs[0].lamp).repaints, before) << "DI1 not in mask";
  EXPECT_GT(rig.view.control(kVariantB.inputs[1].lamp).repaints, 0);
  ::close(unit);
}

TEST(ListeningServer, PendingConnectionsAndSharedInputs) {
  ServerRig rig(kVariantB);
  const int portA = freePort();
  const int portB = freePort();
  rig.listenOn(0, portA);
  rig.listenOn(3, portB);
  ASSERT_EQ(rig.server.start(), kOk);
  // Both connections are pending before either says anything.
  const int first = connectUnit(portA);
  const int second = connectUnit(portA);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ASSERT_TRUE(sendBytes(second, {0x44, 0x4B, 0x31, 0x31, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(second, 5), (Bytes{0x64, 0x6B, 0x21, 0x20, 0xC8})) << "second unit served";
  ASSERT_TRUE(sendBytes(first, {0x44, 0x4B, 0x30, 0x30, 0x31, 0x31, 0xC8}));
  EXPECT_EQ(receive(first, 5), (Bytes{0x64, 0x6B, 0x21, 0x21, 0xC8})) << "first unit served";
  // A unit on the other port sees the inputs the first port's units set.
  const int other = connectUnit(portB);
  ASSERT_GE(other, 0);
  ASSERT_TRUE(sendBytes(other, {0x44, 0x4B, 0x32, 0x32, 0x30, 0x30, 0xC8}));
  EXPECT_EQ(receive(other, 5), (Bytes{0x64, 0x6B, 0x23, 0x21, 0xC8}));
  EXPECT_EQ(rig.server.receiverCount(), 3u) << "one receiver per connection";
  for (int fd : {first, second, other}) ::close(fd);
  EXPECT_TRUE(eventually([&] { return rig.server.receiverCount() == 0; }))
      << "finished receivers are joined";
}

TEST(ListeningServer, ShutdownClosesEveryConnection) {
  auto rig = std::make_unique<ServerRig>(kVariantA);
  const int port = freePort();
  rig->listenOn(2, port);
  ASSERT_EQ(rig->server.start(), kOk);
  const int unit = connectUnit(port);
  ASSERT_TRUE(sendBytes(unit, kDo1On));
  ASSERT_EQ(receive(unit, 5).size(), 5u);
  rig.reset();
  EXPECT_TRUE(seesEof(unit)) << "destroying the server closes the unit's connection";
  EXPECT_TRUE(portFree(port)) << "and its listening socket";
  ::close(unit);
}

// The monitor's start/stop command over the real server.
struct MonitorRig {
  explicit MonitorRig(const VariantProfile& p)
      : monitor(p, view, adapters, p.hasOutputs() ? &makeOutputSender : nullptr,
                "/nonexistent-dravik", "/nonexistent-dravik", {1, 0, 1, 0}) {
    monitor.overrideLocalAddress(kLoopback);
  }
  void ports(const std::vector<std::string>& texts) {
    for (int s = 0; s < kPortSlotCount; ++s) {
      view.setText(kSlotControls[s].portEdit, s < static_cast<int>(texts.size()) ? texts[s] : "");
    }
  }
  SlotState slot(int s) const { return monitor.state().slots[s].state; }

  test::FakeView view;
  test::FakeAdapters adapters;
  Monitor monitor;
};

TEST(StartStop, PortTextsAreValidatedPerSlot) {
  const Messages& m = messages();
  MonitorRig rig(kVariantB);
  const int p1 = freePort();
  const int p2 = freePort();
  rig.ports({" " + std::to_string(p1) + " ", std::to_string(p2) + "abc", "1023", ""});
  rig.view.appendTrace("old");
  rig.monitor.startStop();
  EXPECT_EQ(rig.monitor.state().running, 1);
  EXPECT_EQ(rig.slot(0), SlotState::Serving) << "blanks around the number are stripped";
  EXPECT_EQ(rig.monitor.state().slots[0].port, p1);
  EXPECT_EQ(rig.slot(1), SlotState::Serving) << "characters after the digits are ignored";
  EXPECT_EQ(rig.monitor.state().slots[1].port, p2);
  EXPECT_EQ(rig.slot(2), SlotState::Idle);
  EXPECT_EQ(rig.view.text(kSlotControls[2].sourceLabel), m.portNumberError);
  EXPECT_EQ(rig.view.text(kSlotControls[3].sourceLabel), "") << "empty text passed over";
  EXPECT_EQ(rig.view.trace(), "server start.\r\nserver start.\r\n")
      << "trace cleared at the attempt, then one line per started slot";
  EXPECT_EQ(rig.view.text(ctl::kStartStop), m.stopServerCaption);
  EXPECT_EQ(rig.view.text(ctl::kStatusPanel), m.statusListening);
  EXPECT_FALSE(rig.view.control(kSlotControls[0].portEdit).enabled);
  EXPECT_FALSE(rig.view.control(ctl::kAdapterCombo).enabled);
  for (int port : {p1, p2}) {
    const int unit = connectUnit(port);
    EXPECT_GE(unit, 0) << "listening on " << port;
    ::close(unit);
  }
  rig.monitor.startStop();
  EXPECT_EQ(rig.monitor.state().running, 0);
  EXPECT_EQ(rig.slot(0), SlotState::Idle);
  EXPECT_TRUE(rig.view.control(ctl::kAdapterCombo).enabled);
  EXPECT_EQ(rig.view.text(ctl::kStartStop), m.startServerCaption);
  EXPECT_TRUE(portFree(p1) && portFree(p2)) << "listening sockets closed at the stop";

  // No valid port: the start opens nothing, and the stop still writes the stopped texts.
  rig.ports({"65536", "0", "abc", ""});
  rig.monitor.startStop();
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(rig.view.text(kSlotControls[s].sourceLabel), m.portNumberError) << "slot " << s;
    EXPECT_EQ(rig.slot(s), SlotState::Idle);
  }
  EXPECT_EQ(rig.view.text(ctl::kStatusPanel), m.statusListening);
  rig.monitor.startStop();
  EXPECT_EQ(rig.view.text(ctl::kStartStop), m.startServerCaption);
  EXPECT_EQ(rig.view.text(ctl::kStatusPanel), m.statusStopped);
  EXPECT_TRUE(rig.view.messageBoxes().empty()) << "invalid ports show no message box";
}

TEST(StartStop, DuplicatePortsOpenNothing) {
  MonitorRig rig(kVariantB);
  const int port = freePort();
  rig.ports({std::to_string(port), std::to_string(port)});
  rig.monitor.startStop();
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{messages().duplicatePorts});
  EXPECT_EQ(rig.monitor.state().running, 0);
  EXPECT_EQ(rig.slot(0), SlotState::Idle);
  EXPECT_EQ(rig.slot(1), SlotState::Idle);
  EXPECT_LT(connectUnit(port), 0) << "no socket was opened";
  rig.view.setText(kSlotControls[1].portEdit, "");
  rig.monitor.startStop();
  EXPECT_EQ(rig.monitor.state().running, 1) << "clearing one field lets the start succeed";
  EXPECT_EQ(rig.slot(0), SlotState::Serving);
}

TEST(StartStop, BindFailureClosesTheWholeAttempt) {
  MonitorRig rig(kVariantB);
  const int p0 = freePort();
  const int p1 = freePort();
  // The test holds slot 2's port.
  const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(0);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  socklen_t n = sizeof a;
  ::getsockname(blocker, reinterpret_cast<sockaddr*>(&a), &n);
  const int p2 = ntohs(a.sin_port);
  const std::size_t fds = entries("/proc/self/fd");

  rig.ports({std::to_string(p0), std::to_string(p1), std::to_string(p2)});
  rig.monitor.startStop();
  char expected[128];
  std::snprintf(expected, sizeof expected, messages().bindErrorFormat.c_str(), EADDRINUSE);
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{expected});
  EXPECT_NE(std::string(expected).find(" 98\r\n"), std::string::npos);
  EXPECT_EQ(rig.monitor.state().running, 0);
  for (int s = 0; s < kPortSlotCount; ++s) EXPECT_EQ(rig.slot(s), SlotState::Idle) << s;
  EXPECT_TRUE(portFree(p0) && portFree(p1)) << "sockets of slots 0 and 1 closed";
  EXPECT_EQ(entries("/proc/self/fd"), fds) << "no descriptor left behind";

  ::close(blocker);
  rig.monitor.startStop();
  EXPECT_EQ(rig.monitor.state().running, 1) << "a later start succeeds";
  EXPECT_EQ(rig.slot(2), SlotState::Serving);
}

TEST(StartStop, StopWithConnectedUnitsLeavesNothingBehind) {
  MonitorRig rig(kVariantA);
  const int p0 = freePort();
  const int p1 = freePort();
  rig.ports({std::to_string(p0), std::to_string(p1)});
  const std::size_t fds = entries("/proc/self/fd");
  const std::size_t tasks = threadCount();
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE(cycle);
    rig.monitor.startStop();
    ASSERT_EQ(rig.monitor.state().running, 1);
    std::vector<int> units;
    for (int port : {p0, p0, p1, p1}) {
      units.push_back(connectUnit(port));
      ASSERT_TRUE(sendBytes(units.back(), kDo1On));
      ASSERT_EQ(receive(units.back(), 5).size(), 5u) << "unit on " << port << " answered";
    }
    // The window updates of a frame follow its answer; let the last one land first.
    EXPECT_TRUE(eventually([&] { return !rig.view.text(kSlotControls[1].sourceLabel).empty(); }));
    const auto begin = std::chrono::steady_clock::now();
    rig.monitor.startStop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s) << "stop returns promptly";
    EXPECT_EQ(rig.monitor.state().running, 0);
    for (int fd : units) {
      EXPECT_TRUE(seesEof(fd)) << "monitor closed every unit connection";
      ::close(fd);
    }
    EXPECT_EQ(rig.monitor.state().inputs[0], 0) << "inputs reset at the end of serving";
    EXPECT_FALSE(rig.view.control(kVariantA.outputs[0].button).enabled);
  }
  EXPECT_TRUE(eventually([&] { return threadCount() == tasks; }))
      << "threads left: " << threadCount() << " of " << tasks;
  EXPECT_TRUE(eventually([&] { return entries("/proc/self/fd") == fds; }))
      << "descriptors left: " << entries("/proc/self/fd") << " of " << fds;
}

}  // namespace
}  // namespace dravik
