// The ON/OFF switch and the output sender of DRAVIK_A, end to end on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_adapters.h"
#include "fake_view.h"
#include "loopback_peer.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "output/output_sender.h"

namespace dravik {
namespace {

using namespace test;

// A listening socket on a free loopback port.
int listener(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 5);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  port = ntohs(a.sin_port);
  return fd;
}

bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

// One report 44 4F 30 30 C8 and its answer, so the slot knows its unit.
void report(int unit) {
  const Bytes frame{0x44, 0x4F, 0x30, 0x30, 0xC8};
  ASSERT_EQ(::send(unit, frame.data(), frame.size(), MSG_NOSIGNAL), 5);
  ASSERT_EQ(receive(unit, 5).size(), 5u);
}

// The frame that arrives on a new connection to `destination`.
Bytes acceptFrame(int destination) {
  if (!readable(destination, 5000)) return {};
  const int fd = ::accept(destination, nullptr, nullptr);
  Bytes frame = receive(fd, 5);
  ::close(fd);
  return frame;
}

struct Rig {
  Rig()
      : monitor(kVariantA, view, adapters, &makeOutputSender, "/nonexistent-dravik",
                "/nonexistent-dravik", {1, 0, 1, 0}) {
    monitor.overrideLocalAddress(kLoopback);
  }
  void press(int channel) { monitor.toggleDigitalOut(channel); }
  test::FakeView view;
  test::FakeAdapters adapters;
  Monitor monitor;
};

TEST(OutputSender, FrameGoesToEveryServingUnitInSlotOrder) {
  Rig rig;
  const int p0 = freePort();
  const int p1 = freePort();
  rig.view.setText(kSlotControls[0].portEdit, std::to_string(p0));
  rig.view.setText(kSlotControls[1].portEdit, std::to_string(p1));
  rig.monitor.startStop();
  ASSERT_EQ(rig.monitor.state().running, 1);

  int destinationPort = 0;
  const int destination = listener(destinationPort);
  rig.view.setText(ctl::kDestinationPort, std::to_string(destinationPort));
  // Slot 0's unit reports and hangs up; slot 1's unit keeps reporting on its connection.
  const int unit0 = connectUnit(p0);
  report(unit0);
  ::close(unit0);
  const int unit1 = connectUnit(p1);
  report(unit1);
  // The slot takes its unit's address just after the answer goes out.
  ASSERT_TRUE(eventually([&] { return rig.monitor.state().slots[0].unitAddress == kLoopback; }));

  rig.monitor.state().outputs[0] = 1;
  rig.press(2);
  EXPECT_EQ(rig.monitor.state().outputs[2], 1);
  EXPECT_GT(rig.view.control(kVariantA.outputs[2].lamp).repaints, 0) << "DO3 lamp repainted";
  EXPECT_EQ(acceptFrame(destination), (Bytes{0x44, 0x4F, 0x25, 0x20, 0xC8}))
      << "slot 0's unit gets DO1+DO3 over a new connection";
  EXPECT_EQ(receive(unit1, 5), (Bytes{0x44, 0x4F, 0x25, 0x20, 0xC8}))
      << "slot 1's unit gets it on its reporting connection";
  EXPECT_FALSE(readable(destination, 100)) << "no new connection for the reporting unit";

  rig.press(0);
  EXPECT_EQ(acceptFrame(destination), (Bytes{0x44, 0x4F, 0x24, 0x20, 0xC8}));
  EXPECT_EQ(receive(unit1, 5), (Bytes{0x44, 0x4F, 0x24, 0x20, 0xC8}));
  // The reporting connection goes on reporting.
  report(unit1);

  // A unit that refuses: the output still flips, no box, and the next slot is still served.
  ::close(destination);
  rig.press(3);
  EXPECT_EQ(rig.monitor.state().outputs[3], 1);
  EXPECT_TRUE(rig.view.messageBoxes().empty());
  EXPECT_EQ(receive(unit1, 5), (Bytes{0x44, 0x4F, 0x2C, 0x20, 0xC8}));

  rig.monitor.startStop();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.monitor.state().outputs[k], 0) << "reset at stop";
  EXPECT_FALSE(rig.view.control(kVariantA.outputs[0].button).enabled);
  ::close(unit1);
}

TEST(OutputSender, DestinationPortText) {
  Rig rig;
  // No slot serves, so accepted texts flip the output without sending anything.
  for (const char* refused : {"1023", "0", "abc", "65536", "", "-2000"}) {
    rig.view.clearMessageBoxes();
    rig.view.setText(ctl::kDestinationPort, refused);
    rig.press(1);
    EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{messages().destinationPortRefused})
        << "'" << refused << "'";
    EXPECT_EQ(rig.monitor.state().outputs[1], 0) << "'" << refused << "' changes nothing";
  }
  rig.view.clearMessageBoxes();
  int expected = 0;
  for (const char* accepted : {"1024", "65535", " 5000", "5000abc"}) {
    rig.view.setText(ctl::kDestinationPort, accepted);
    rig.press(1);
    expected ^= 1;
    EXPECT_EQ(rig.monitor.state().outputs[1], expected) << "'" << accepted << "' accepted";
  }
  EXPECT_TRUE(rig.view.messageBoxes().empty());
}

TEST(OutputSender, SlotWithoutUnitIsPassedOver) {
  MonitorState state;
  test::FakeView view;
  Trace trace(view, true);
  OutputSender sender(state, trace);
  const std::uint8_t frame[5] = {0x44, 0x4F, 0x21, 0x20, 0xC8};
  int port = 0;
  const int destination = listener(port);
  EXPECT_EQ(sender.sendDigitalOut(0, port, frame, 5), kFail);
  EXPECT_FALSE(readable(destination, 100)) << "no connection to 0.0.0.0";
  state.slots[0].unitAddress = kLoopback;
  EXPECT_EQ(sender.sendDigitalOut(0, port, frame, 5), kOk);
  EXPECT_EQ(acceptFrame(destination), Bytes(frame, frame + 5));
  char line[64];
  std::snprintf(line, sizeof line, "newsocket\r\nconnect:127.0.0.1:%d\r\nsend:\r\n", port);
  EXPECT_EQ(view.trace(), line);
  ::close(destination);
  view.clearTrace();
  EXPECT_EQ(sender.sendDigitalOut(0, port, frame, 5), kFail);
  EXPECT_NE(view.trace().find("err:sendDigitalOut:connect:111\r\n"), std::string::npos)
      << view.trace();
}

}  // namespace
}  // namespace dravik
