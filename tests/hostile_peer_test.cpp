// The listening server against peers that misbehave, on 127.0.0.1 or in namespaces of its own.
#ifndef _WIN32
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#else
#include <winsock2.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "loopback_peer.h"
#include "monitor/messages.h"
#include "monitor_rig.h"
#include "platform/worker_thread.h"
#include "temp_dir.h"

namespace dravik {
namespace {

using namespace test;
const Bytes kDo1On{0x44, 0x4F, 0x31, 0x30, 0xC8};
const Bytes kDo1OnAnswer{0x64, 0x6F, 0x21, 0x20, 0xC8};

Bytes roundTrip(int fd, const Bytes& frame = kDo1On) {
  return sendBytes(fd, frame) ? receive(fd, 5) : Bytes{};
}

// Later counts must come back to at most these; one taken now may hold a thread just ending.
struct Counts {
  std::size_t threads = threadCount(), descriptors = openHandles();
  void expectBack() const {
    EXPECT_TRUE(eventually([&] { return threadCount() <= threads; })) << "a thread left";
    EXPECT_TRUE(eventually([&] { return openHandles() <= descriptors; })) << "an fd";
  }
};

// DRAVIK_B (the variant that traces every frame) logging to a file of its own.
struct Rig : MonitorRig {
  explicit Rig(bool log = true) : MonitorRig(kVariantB) { useLog(logPath, log); }
  std::size_t receivers() { return monitor.server().receiverCount(); }
  std::size_t logLines() const { return lineCount(logPath); }
  bool traced(const char* text) const { return view.trace().find(text) != std::string::npos; }
  TempDir folder;
  std::string logPath = folder.path() + "/access.csv";
};

TEST(HostilePeers, TwoThousandIdleConnectionsLeaveARealUnitServed) {
  constexpr int kIdle = 2000;
#ifndef _WIN32
  // Both ends of every connection live in this process.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 2 * kIdle + 256);
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) GTEST_SKIP() << "the descriptor limit is too low";
#endif
  Rig rig;
  ASSERT_TRUE(rig.start(1));
  const int unit = connectUnit(rig.listening[0]);
  ASSERT_EQ(roundTrip(unit), kDo1OnAnswer);
  // Counted with the log open: its first line is written just after the answer.
  ASSERT_TRUE(eventually([&] { return rig.logLines() == 2u; }));
  const Counts before;
  std::vector<int> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(connectUnit(rig.listening[0]));
    ASSERT_TRUE(idle.back() >= 0 && eventually([&] { return rig.receivers() + 4 > idle.size(); }))
        << "the server stopped accepting at " << i;
    ASSERT_TRUE(i % 250 != 0 || roundTrip(unit) == kDo1OnAnswer) << "unanswered at " << i;
  }
  EXPECT_TRUE(eventually([&] { return rig.receivers() == kIdle + 1u; })) << rig.receivers();
  for (int fd : idle) hangUp(fd);
  before.expectBack();
  EXPECT_EQ(roundTrip(unit), kDo1OnAnswer);
  hangUp(unit);
}

#ifndef _WIN32
TEST(HostilePeers, CrowdsFloodsTricklesAndResetsLeaveTheSlotServing) {
  Rig rig;
  ASSERT_TRUE(rig.start(1));
  tcp_info info{};
  socklen_t size = sizeof info;
  ::getsockopt(rig.monitor.state().slots[0].listenSocket, IPPROTO_TCP, TCP_INFO, &info, &size);
  int systemMaximum = SOMAXCONN;
  std::ifstream("/proc/sys/net/core/somaxconn") >> systemMaximum;
  // A listening socket shows its backlog as the count of selective acknowledgements.
  EXPECT_EQ(info.tcpi_sacked, std::min(systemMaximum, SOMAXCONN)) << "a short backlog";
  // 1 MB, no terminator, a whole number of 32-byte turns: the next frame starts at 0 again.
  const int flooder = connectUnit(rig.listening[0]);
  ASSERT_EQ(roundTrip(flooder), kDo1OnAnswer);
  const long rssBefore = statusValue("VmRSS");
  ASSERT_TRUE(sendBytes(flooder, Bytes(1 << 20, 0x41))) << "the monitor stopped reading it";
  EXPECT_EQ(roundTrip(flooder), kDo1OnAnswer) << "the flooded connection still answers";
  EXPECT_LT(statusValue("VmRSS") - rssBefore, 2048) << "memory grew for bytes that are never kept";

  const int trickler = connectUnit(rig.listening[0]);
  for (std::uint8_t byte : Bytes{0x44, 0x4B, 0x30, 0x31, 0x30, 0x30, 0xC8}) {
    ASSERT_TRUE(sendBytes(trickler, {byte}));
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(receive(trickler, 5), (Bytes{0x64, 0x6B, 0x20, 0x20, 0xC8})) << "trickled DI1 off";

  const int resetter = connectUnit(rig.listening[0]);
  ASSERT_TRUE(sendBytes(resetter, {0x44, 0x4F}));
  const linger abort{1, 0};
  ::setsockopt(resetter, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  hangUp(resetter);
  EXPECT_TRUE(eventually([&] { return rig.traced("recv error: 104 \r\n"); })) << rig.view.trace();
  for (int fd : {flooder, trickler})
    EXPECT_EQ(roundTrip(fd), kDo1OnAnswer) << "the slot serves the others after the reset";
  EXPECT_TRUE(eventually([&] { return rig.logLines() == 1u + 5; }))
      << "a header and one line per answered frame: " << fileText(rig.logPath);
  for (int fd : {flooder, trickler}) hangUp(fd);
}
#else
TEST(HostilePeers, CrowdsFloodsTricklesAndResetsLeaveTheSlotServing) {
  GTEST_SKIP() << "the backlog read through TCP_INFO and the memory from /proc are Linux's";
}
#endif

TEST(HostilePeers, APeerThatNeverReadsHoldsUpNoOtherUnit) {
  Rig rig(false);
  ASSERT_TRUE(rig.start(2));
  const int deaf = connectUnit(rig.listening[0], 4096), sameSlot = connectUnit(rig.listening[0]),
            otherSlot = connectUnit(rig.listening[1]);
  // DI2 goes on with the flood's last frame; the others ask with DK frames of mask 0.
  constexpr int kFrames = 100000;
  Bytes stream;
  for (int i = 0; i < kFrames - 1; ++i) stream.insert(stream.end(), kDo1On.begin(), kDo1On.end());
  stream.insert(stream.end(), {0x44, 0x4F, 0x33, 0x30, 0xC8});
#ifndef _WIN32
  const timeval bound{30, 0};
#else
  const DWORD bound = 30000;
#endif
  ::setsockopt(deaf, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
  std::thread flood([&] { sendBytes(deaf, stream); });
  int afterFlood = 0;
  for (auto end = std::chrono::steady_clock::now() + 30s;
       afterFlood < 20 && std::chrono::steady_clock::now() < end;) {
    for (int fd : {sameSlot, otherSlot}) {
      const Bytes a = roundTrip(fd, {0x44, 0x4B, 0x30, 0x30, 0x30, 0x30, 0xC8});
      ASSERT_TRUE(a.size() == 5 && a[1] == 0x6B) << "unanswered after " << afterFlood;
    }
    if (rig.monitor.state().inputs[1] != 0) ++afterFlood;
  }
  flood.join();
  EXPECT_EQ(afterFlood, 20) << "the monitor did not read the whole flood in 30 s";
#ifndef _WIN32
  int waiting = 0;
  ::ioctl(deaf, FIONREAD, &waiting);
#else
  u_long pending = 0;
  ::ioctlsocket(deaf, FIONREAD, &pending);
  const int waiting = static_cast<int>(pending);
#endif
  EXPECT_LT(waiting, kFrames * 5) << "the answers never filled the deaf peer's buffers";
  for (int fd : {deaf, sameSlot, otherSlot}) hangUp(fd);
}

TEST(HostilePeers, ConnectAndCloseStormsDuringStopsLeaveNothingBehind) {
  Rig rig(false);  // the log's open file would count as a descriptor left behind
  const Counts before;
  std::atomic<bool> storming{true};
  std::atomic<int> ports[2] = {0, 0};
  std::vector<std::thread> storms;
  for (int t = 0; t < 4; ++t) {
    storms.emplace_back([&, t] {
      while (storming) {
        const int fd = connectUnit(ports[t % 2]);
        if (t == 0) sendBytes(fd, kDo1On);
        hangUp(fd);
      }
    });
  }
  for (int cycle = 0; cycle < 20; ++cycle) {
    rig.start(2);
    for (int s : {0, 1}) ports[s] = rig.listening[s];
    std::this_thread::sleep_for(20ms);
    rig.monitor.stop();
  }
  storming = false;
  for (std::thread& s : storms) s.join();
  before.expectBack();
  EXPECT_EQ(rig.receivers(), 0u);
}

std::atomic<bool> refuse{false};
WorkerThread::CreateFunction systemCreate = nullptr;
int refusingCreate(WorkerThread::Handle* thread, WorkerThread::Start* start) {
  return refuse ? EAGAIN : systemCreate(thread, start);
}

TEST(HostilePeers, ARefusedThreadCostsOnlyItsConnection) {
  systemCreate = WorkerThread::replaceCreateFunction(&refusingCreate);
  const std::shared_ptr<void> restore(
      nullptr, [&](void*) { WorkerThread::replaceCreateFunction(systemCreate); });
  Rig rig;
  refuse = true;
  EXPECT_FALSE(rig.start(1) || rig.slot(0) != SlotState::Idle) << "no server thread: a failure";
  EXPECT_LT(connectUnit(rig.listening[0]), 0) << "the listening socket was closed";
  char box[64];
  std::snprintf(box, sizeof box, messages().threadErrorFormat.c_str(), EAGAIN);
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{box});
  EXPECT_EQ(rig.view.trace(), "server start.\r\nthread error: 11 \r\n");
  refuse = false;

  ASSERT_TRUE(rig.start(1));
  const int served = connectUnit(rig.listening[0]);
  ASSERT_EQ(roundTrip(served), kDo1OnAnswer);
  refuse = true;
  const int refused = connectUnit(rig.listening[0]);
  EXPECT_TRUE(seesEof(refused)) << "a connection without a receiver is closed";
  EXPECT_TRUE(rig.traced("thread error: 11 \r\n")) << rig.view.trace();
  EXPECT_EQ(roundTrip(served), kDo1OnAnswer) << "the connected unit goes on";
  refuse = false;
  const int later = connectUnit(rig.listening[0]);
  EXPECT_EQ(roundTrip(later), kDo1OnAnswer) << "threads again: new units are served";
  EXPECT_TRUE(eventually([&] { return rig.logLines() == 4u; }))
      << "a header and three lines: " << fileText(rig.logPath);
  for (int fd : {served, refused, later}) hangUp(fd);
}

#ifndef _WIN32
TEST(HostilePeers, LogsThatTakeNoLinesHoldUpNoUnit) {
  Rig rig;
  ASSERT_TRUE(rig.start(1));
  const int unit = connectUnit(rig.listening[0]);
  const std::string fifo = rig.folder.path() + "/log.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  rig.useLog(fifo, true);
  EXPECT_TRUE(returnsWithoutFifoPeer(fifo, [&] {
    for (int i = 0; i < 2; ++i) EXPECT_EQ(roundTrip(unit), kDo1OnAnswer) << "frame " << i;
  })) << "the receiver waited for a reader of the log";
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(roundTrip(unit), kDo1OnAnswer);
  EXPECT_TRUE(eventually([&] { return rig.view.messageBoxes().size() == 3; }));
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>(3, messages().logCannotOpen))
      << "one box per frame, a FIFO with a reader included";
  char written = 0;
  EXPECT_LT(::read(reader, &written, 1), 1) << "something was written into the FIFO";
  ::close(reader);

  // A character device is a log: /dev/null takes every line.
  rig.useLog("/dev/null", true);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(roundTrip(unit), kDo1OnAnswer);
  EXPECT_EQ(rig.view.messageBoxes().size(), 3u) << "/dev/null was refused";
  // /dev/full takes none: a burst fails with one box (one per piece, should TCP hand it over in
  // pieces), not one per frame. A frame is logged after it is answered, so an answer shows that
  // the frames before it are logged: the burst before the next DI1 frame's answer, that frame
  // before the DI1+DI2 frame's, whose own line then reaches a file. The last /dev/null frame
  // may be logged after the switch: its box counts with the burst's.
  rig.useLog("/dev/full", true);
  constexpr int kBurst = 20;
  Bytes burst;
  for (int i = 0; i < kBurst; ++i) burst.insert(burst.end(), kDo1On.begin(), kDo1On.end());
  ASSERT_TRUE(sendBytes(unit, burst));
  EXPECT_EQ(receive(unit, burst.size()).size(), burst.size());
  EXPECT_EQ(roundTrip(unit), kDo1OnAnswer);
  rig.useLog(rig.logPath, true);
  EXPECT_EQ(roundTrip(unit, {0x44, 0x4F, 0x33, 0x30, 0xC8}), (Bytes{0x64, 0x6F, 0x23, 0x20, 0xC8}));
  ASSERT_TRUE(eventually([&] {
    return fileText(rig.logPath).find(",1,1,0,0,0,0,0,0\r\n") != std::string::npos;
  })) << fileText(rig.logPath);
  const std::vector<std::string> boxes = rig.view.messageBoxes();
  const std::vector<std::string> full(boxes.begin() + 3, boxes.end());
  EXPECT_EQ(full, std::vector<std::string>(full.size(), messages().logWriteFailed));
  EXPECT_TRUE(!full.empty() && full.size() <= kBurst) << full.size() << " boxes for /dev/full";
  // The FIFO's box for the next frame comes last and alone.
  rig.useLog(fifo, true);
  EXPECT_EQ(roundTrip(unit), kDo1OnAnswer);
  EXPECT_TRUE(eventually([&] { return rig.view.messageBoxes().size() == boxes.size() + 1; }));
  EXPECT_EQ(rig.view.messageBoxes().back(), messages().logCannotOpen);
  rig.view.clearMessageBoxes();

  const std::string tiny = rig.folder.path() + "/tiny";
  std::filesystem::create_directory(tiny);
  if (::mount("tmpfs", tiny.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") != 0)
    GTEST_SKIP() << "mounting a tmpfs for a full disk is not permitted here";
  const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(tiny.c_str(), MNT_DETACH); });
  rig.useLog(tiny + "/full.csv", true);
  for (int n = 0; rig.view.messageBoxes().empty() && n < 2000; ++n)
    ASSERT_EQ(roundTrip(unit), kDo1OnAnswer) << "frame " << n;
  EXPECT_EQ(rig.view.messageBoxes().back(), messages().logWriteFailed) << "the tmpfs never filled";
  EXPECT_TRUE(fileText(tiny + "/full.csv").ends_with("\r\n")) << "a half line on a full disk";
  EXPECT_EQ(roundTrip(unit), kDo1OnAnswer) << "still answering on a full disk";
  hangUp(unit);
}

// A network namespace of the test's own, which its threads enter one at a time.
struct NetworkNamespace {
  NetworkNamespace() {
    std::thread([this] {
      if (::unshare(CLONE_NEWNET) == 0) fd = ::open("/proc/thread-self/ns/net", O_RDONLY);
    }).join();
  }
  ~NetworkNamespace() { hangUp(fd); }
  template <typename Work>
  auto run(Work work) const {
    decltype(work()) result{};
    std::thread([&] {
      if (::setns(fd, CLONE_NEWNET) == 0) result = work();
    }).join();
    return result;
  }
  bool sh(const std::string& line) const {
    return run([&] { return std::system(line.c_str()) == 0; });
  }
  int connect(const char* address, int port) const {
    sockaddr_in to = loopback(port);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    const int socket = run([] { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    ::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return socket;
  }
  int fd = -1;
};

TEST(HostilePeers, UnitsThatVanishAreDroppedWithinTheKeepaliveAndGiveBackTheirMemory) {
  const NetworkNamespace monitorSide, unitSide;
  if (monitorSide.fd < 0 || unitSide.fd < 0) GTEST_SKIP() << "no network namespaces here";
  const bool linked =
      monitorSide.sh("ip link set lo up && ip link add dk0 type veth peer name dk1 netns /proc/" +
                     std::to_string(::getpid()) + "/fd/" + std::to_string(unitSide.fd) +
                     " && ip addr add 10.200.0.1/24 dev dk0 && ip link set dk0 up") &&
      unitSide.sh("ip addr add 10.200.0.2/24 dev dk1 && ip link set dk1 up");
  if (!linked) GTEST_SKIP() << "no veth pairs here (is ip installed?)";

  // Asked after 1 s of silence, every second, gone after 2 unanswered: 3 s.
  Rig rig(false);
  MonitorState& state = rig.monitor.state();
  const Trace trace(rig.view, true);
  ListeningServer server(kVariantB, state, rig.monitor, trace, {1, 1, 2});
  const int port = freePort();
  ASSERT_FALSE(monitorSide.run([&] { return server.start(INADDR_ANY, {port}).has_value(); }));
  const int label = kSlotControls[0].sourceLabel;
  // The silent unit's system answers the keepalive: it is the monitor's own loopback.
  const int silent = monitorSide.connect("127.0.0.1", port);
  ASSERT_EQ(roundTrip(silent), kDo1OnAnswer);
  // Its receiver shows its address after the answer: a late label would hide the next unit's.
  ASSERT_TRUE(eventually([&] { return rig.view.text(label).ends_with(" 127.0.0.1"); }));
  const Counts before;
  const long rssBefore = statusValue("VmRSS");

  std::vector<int> vanishing;
  for (int i = 0; i < 300; ++i) {
    vanishing.push_back(unitSide.connect("10.200.0.1", port));
    ASSERT_EQ(roundTrip(vanishing.back()), kDo1OnAnswer) << "unit " << i;
  }
  ASSERT_TRUE(eventually([&] { return rig.view.text(label).ends_with(" 10.200.0.2"); }));
  const long rssServing = statusValue("VmRSS");
  ASSERT_TRUE(unitSide.sh("ip link set dk1 down"));
  // Nothing connects after them: their threads must be joined as they end.
  EXPECT_TRUE(eventually([&] {
    return statusValue("Threads") <= static_cast<long>(before.threads) &&
           statusValue("VmRSS") < rssBefore + (rssServing - rssBefore) * 2 / 3;
  })) << "the ended receivers still hold "
      << statusValue("VmRSS") - rssBefore << " kB of the " << rssServing - rssBefore
      << " kB they took";
  EXPECT_EQ(server.receiverCount(), 1u) << "a vanished unit's receiver still runs";
  EXPECT_EQ(rig.view.text(label), "") << "the label is cleared as when a unit closes";
  for (const int unit : vanishing) hangUp(unit);
  before.expectBack();
  EXPECT_EQ(roundTrip(silent), kDo1OnAnswer) << "a silent unit whose system answers is kept";
  hangUp(silent);
}
#else
TEST(HostilePeers, LogsThatTakeNoLinesHoldUpNoUnit) {
  GTEST_SKIP() << "FIFOs, /dev/full and a tmpfs mount are Linux's";
}

TEST(HostilePeers, UnitsThatVanishAreDroppedWithinTheKeepaliveAndGiveBackTheirMemory) {
  GTEST_SKIP() << "network namespaces and veth pairs are Linux's";
}
#endif

}  // namespace
}  // namespace dravik
