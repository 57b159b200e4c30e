// The listening server: one listening socket and server thread per serving port slot, one
// receiver thread per accepted connection.
//
// Every thread waits in the kernel (poll on its socket and its slot's wake-up descriptor),
// so an idle server costs no processor time, and a stop requested through requestStop is
// seen at once. Worker threads call the View only through calls that never wait for the
// window's thread, with one exception: the access log may show a message box from a
// receiver. shutdown() joins that receiver too, so a View whose messageBox blocks on the
// window's thread must return at once once the window's modal run has ended; otherwise
// shutdown waits until the box is closed.
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "engine/connection_receiver.h"
#include "engine/monitor_state.h"
#include "engine/result.h"
#include "engine/variant_profile.h"

namespace dravik {

class View;
class Trace;
class AccessLogSink;

// A joinable POSIX thread; creation failure is a result, never an exception.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `body` on a new thread. 0, or the error number when the system refuses a thread.
  template <typename Body>
  int start(Body body) {
    auto* owned = new Body(std::move(body));
    const int error = create(&WorkerThread::trampoline<Body>, owned);
    if (error != 0) delete owned;
    return error;
  }
  // Waits for the thread to end; nothing when none runs.
  void join();
  bool running() const { return started_; }

  // What creates every worker thread: pthread_create, unless a test puts in a stand-in with
  // the same contract to make the system refuse threads. Returns the one it replaces.
  using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static CreateFunction replaceCreateFunction(CreateFunction create);

 private:
  template <typename Body>
  static void* trampoline(void* arg) {
    Body* body = static_cast<Body*>(arg);
    (*body)();
    delete body;
    return nullptr;
  }
  int create(void* (*entry)(void*), void* arg);

  pthread_t handle_{};
  bool started_ = false;
};

class ListeningServer {
 public:
  // Every accepted connection gets `keepalive`.
  ListeningServer(const VariantProfile& profile, MonitorState& state, View& view,
                  const Trace& trace, AccessLogSink& log,
                  sock::Keepalive keepalive = sock::kUnitKeepalive);
  // Stops every slot and joins every thread.
  ~ListeningServer();
  ListeningServer(const ListeningServer&) = delete;
  ListeningServer& operator=(const ListeningServer&) = delete;

  // Opens the listening sockets of every Starting slot and starts their server threads.
  // On failure shows the error, closes every socket of the attempt, returns the slots to
  // Idle and returns kFail.
  Result start();

  // Sets `slot` to Stopping and wakes its server thread and receivers.
  void requestStop(int slot);

  // Waits (without spinning) until `slot` is Idle, then until its server thread has
  // finished its end steps. Never waits for receivers, which may be in a message box.
  void waitUntilIdle(int slot);

  // Sets every slot to Stopping and joins every server and receiver thread. Safe to call on
  // every exit path and more than once.
  void shutdown();

  // Receiver threads started and not yet joined (finished ones are joined as new ones start
  // and at every stop).
  std::size_t receiverCount();

 private:
  struct Receiver {
    WorkerThread thread;
    std::atomic<bool> done{false};
  };

  void serve(int slot, std::shared_ptr<SlotRun> run, int listenSocket);
  void startReceiver(int slot, const std::shared_ptr<SlotRun>& run, int socket, std::uint32_t peer);
  void endServing(int slot, SlotRun& run, int listenSocket);
  void reapReceivers(bool all);

  EngineContext engine_;
  const sock::Keepalive keepalive_;
  // Window's thread only.
  std::array<WorkerThread, kPortSlotCount> servers_;
  std::array<std::shared_ptr<SlotRun>, kPortSlotCount> runs_;
  // Server threads add receivers; every thread may reap them.
  std::mutex receiversLock_;
  std::list<Receiver> receivers_;
};

}  // namespace dravik
