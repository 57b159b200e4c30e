// The platform room as both systems must behave: sockets on 127.0.0.1, waits that a wake-up
// ends at once, and worker threads with their refusal seam.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/socket.h"
#include "platform/worker_thread.h"

namespace dravik {
namespace {

using namespace std::chrono_literals;
using sock::Socket;

// A wait that has not ended within this long is not going to end by itself.
constexpr auto kHung = 10s;

std::string text(const char* bytes, std::size_t length) {
  return std::string(bytes, length);
}

TEST(Sockets, ListenConnectAcceptTransferAndClose) {
  EXPECT_EQ(sock::startUp(), 0);
  EXPECT_EQ(std::tuple(sock::resolve("127.0.0.1"), sock::resolve("192.0.2.1"),
                       sock::addressText(sock::ipv4(192, 0, 2, 254))),
            std::tuple(sock::kLoopback, sock::ipv4(192, 0, 2, 1), "192.0.2.254"));
  const sock::WakeEvent stop;
  const sock::Listening listener = sock::listenOn(sock::kLoopback, 0);
  ASSERT_NE(listener.socket, sock::kNone) << listener.error;
  const int port = sock::localPort(listener.socket);
  ASSERT_GT(port, 0);
  const sock::Accepted none = sock::acceptFrom(listener.socket);
  EXPECT_EQ(std::pair(none.socket, none.error), std::pair(sock::kNone, 0)) << "nothing waits";

  const Socket client = sock::openStream(sock::kLoopback).socket;
  const sock::Connected connected = sock::connectWithin(client, sock::kLoopback, port, 5000, stop);
  EXPECT_EQ(std::pair(connected.error, connected.woken), std::pair(0, false));
  ASSERT_EQ(sock::waitReadable(listener.socket, stop, 5000), sock::Wait::Ready);
  const sock::Accepted unit = sock::acceptFrom(listener.socket);
  ASSERT_NE(unit.socket, sock::kNone) << unit.error;
  EXPECT_EQ(unit.peer, sock::kLoopback);

  char buffer[8];
  const sock::Transfer idle = sock::receive(unit.socket, buffer, sizeof buffer);
  EXPECT_EQ(std::tuple(idle.bytes, idle.error, idle.wouldBlock), std::tuple(0u, 0, true))
      << "an accepted socket never blocks";
  EXPECT_EQ(sock::send(client, "frame", 5).bytes, 5u);
  ASSERT_EQ(sock::waitReadable(unit.socket, stop, 5000), sock::Wait::Ready);
  const sock::Transfer got = sock::receive(unit.socket, buffer, sizeof buffer);
  EXPECT_EQ(text(buffer, got.bytes), "frame");

  sock::close(client);
  ASSERT_EQ(sock::waitReadable(unit.socket, stop, 5000), sock::Wait::Ready) << "a close is news";
  const sock::Transfer closed = sock::receive(unit.socket, buffer, sizeof buffer);
  EXPECT_EQ(std::tuple(closed.bytes, closed.error, closed.wouldBlock), std::tuple(0u, 0, false))
      << "the peer closed";
  // The first bytes to a closed peer are answered with a reset; a send after it fails with a
  // number, where a signal would have ended this program.
  int error = 0;
  for (auto until = std::chrono::steady_clock::now() + 5s;
       error == 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms)) {
    error = sock::send(unit.socket, "late", 4).error;
  }
  EXPECT_NE(error, 0) << "sends to a closed peer kept succeeding";
  sock::close(unit.socket);

  const sock::Listening taken = sock::listenOn(sock::kLoopback, port);
  EXPECT_EQ(std::pair(taken.socket, taken.failed), std::pair(sock::kNone, sock::Step::Bind));
  EXPECT_NE(taken.error, 0);
  EXPECT_FALSE(sock::errorText(taken.error).empty());
  sock::close(listener.socket);

  const Socket refused = sock::openStream(0).socket;
  const sock::Connected nobody = sock::connectWithin(refused, sock::kLoopback, port, 5000, stop);
  EXPECT_TRUE(nobody.error != 0 && !nobody.woken) << "nobody listens any more";
  sock::close(refused);
}

TEST(Sockets, AWakeEventEndsEveryWaitAtOnceAndForGood) {
  sock::WakeEvent wake;
  ASSERT_TRUE(wake.valid()) << wake.error();
  const sock::Listening listener = sock::listenOn(sock::kLoopback, 0);
  EXPECT_EQ(sock::waitReadable(listener.socket, wake, 20), sock::Wait::TimedOut);
  EXPECT_EQ(sock::waitReadable(sock::kNone, wake, 20), sock::Wait::TimedOut);

  // Two threads wait without a time limit, one on a socket and one on the wake-up alone.
  auto onSocket =
      std::async(std::launch::async, [&] { return sock::waitReadable(listener.socket, wake, -1); });
  auto alone =
      std::async(std::launch::async, [&] { return sock::waitReadable(sock::kNone, wake, -1); });
  EXPECT_EQ(onSocket.wait_for(50ms), std::future_status::timeout) << "ended before the signal";
  wake.signal();
  ASSERT_EQ(onSocket.wait_for(kHung), std::future_status::ready) << "the signal did not wake it";
  ASSERT_EQ(alone.wait_for(kHung), std::future_status::ready);
  EXPECT_EQ(std::pair(onSocket.get(), alone.get()),
            std::pair(sock::Wait::Woken, sock::Wait::Woken));

  // Later waits, also over several sockets and on a readable one, are woken too.
  const Socket client = sock::openStream(0).socket;
  const sock::Connected stopped =
      sock::connectWithin(client, sock::kLoopback, sock::localPort(listener.socket), 5000, wake);
  EXPECT_TRUE(stopped.woken && stopped.error != 0) << "a stop ends a connection attempt, failed";
  std::vector<bool> ready;
  EXPECT_EQ(sock::waitReadable({listener.socket, client}, wake, -1, ready), sock::Wait::Woken);
  EXPECT_TRUE(ready.empty()) << "nothing is ready when woken";
  sock::close(client);
  sock::close(listener.socket);
}

TEST(Sockets, ARecurringSignalWakesUntilClearedAndAStopComesFirst) {
  sock::WakeEvent stop;
  sock::WakeEvent ended;
  const sock::Listening listener = sock::listenOn(sock::kLoopback, 0);
  const auto wait = [&](Socket s) { return sock::waitReadable(s, stop, ended, 500); };
  std::vector<sock::Wait> seen{wait(listener.socket)};
  ended.signal();
  seen.push_back(wait(listener.socket));
  seen.push_back(wait(sock::kNone));
  ended.clear();
  seen.push_back(wait(sock::kNone));
  const Socket client = sock::openStream(0).socket;
  sock::connectWithin(client, sock::kLoopback, sock::localPort(listener.socket), 5000, stop);
  seen.push_back(wait(listener.socket));
  ended.signal();
  ended.signal();
  ended.clear();
  seen.push_back(wait(listener.socket));
  ended.signal();
  stop.signal();
  seen.push_back(wait(listener.socket));
  using W = sock::Wait;
  EXPECT_EQ(seen, (std::vector{W::TimedOut, W::Signalled, W::Signalled, W::TimedOut, W::Ready,
                               W::Ready, W::Woken}))
      << "signalled until cleared, one clear takes every signal, the stop before the rest";
  sock::close(client);
  sock::close(listener.socket);
}

TEST(Sockets, SeveralSocketsSayWhichIsReady) {
  const sock::WakeEvent stop;
  const sock::Listening first = sock::listenOn(sock::kLoopback, 0);
  const sock::Listening second = sock::listenOn(sock::kLoopback, 0);
  const Socket client = sock::openStream(0).socket;
  ASSERT_EQ(sock::connectWithin(client, sock::kLoopback, sock::localPort(second.socket), 5000, stop)
                .error,
            0);
  std::vector<bool> ready;
  ASSERT_EQ(sock::waitReadable({first.socket, second.socket}, stop, 5000, ready),
            sock::Wait::Ready);
  EXPECT_EQ(ready, (std::vector<bool>{false, true}));
  for (Socket s : {client, first.socket, second.socket}) sock::close(s);
}

std::atomic<int> refusal{0};
WorkerThread::CreateFunction systemCreate = nullptr;
int refusingCreate(WorkerThread::Handle* thread, WorkerThread::Start* start) {
  return refusal != 0 ? refusal.load() : systemCreate(thread, start);
}

TEST(WorkerThreads, RunOnceAndAreJoinedOrRefusedWithTheSystemsNumber) {
  systemCreate = WorkerThread::replaceCreateFunction(&refusingCreate);
  const std::shared_ptr<void> restore(
      nullptr, [](void*) { WorkerThread::replaceCreateFunction(systemCreate); });
  const auto owned = std::make_shared<int>(0);
  std::atomic<int> runs{0};
  WorkerThread thread;
  EXPECT_FALSE(thread.running());
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(thread.start([owned, &runs] { ++runs; }), 0);
    EXPECT_TRUE(thread.running());
    thread.join();
    EXPECT_EQ(std::tuple(thread.running(), runs.load(), owned.use_count()),
              std::tuple(false, round + 1, 1L))
        << "joined, ran once, and let go of what it was given";
  }
  refusal = 11;
  EXPECT_EQ(thread.start([owned, &runs] { ++runs; }), 11) << "the system's number comes back";
  refusal = 0;
  EXPECT_EQ(std::tuple(thread.running(), runs.load(), owned.use_count()), std::tuple(false, 2, 1L))
      << "a refused body never runs and is freed";
  thread.join();
}

}  // namespace
}  // namespace dravik
