// The listening server: one listening socket and server thread per serving port slot, one
// receiver thread per accepted connection.
//
// Every thread waits in the kernel (poll on its socket and its slot's wake-up descriptor),
// so an idle server costs no processor time, and a stop requested through requestStop is
// seen at once. Every thread reports what happens through EngineEvents. shutdown() joins
// every receiver, also one still in framesAnswered, so an EngineEvents that waits there for
// the operator must let go once the window's modal run has ended; otherwise shutdown waits
// until it does.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/connection_receiver.h"
#include "engine/monitor_state.h"
#include "engine/variant_profile.h"
#include "platform/socket.h"
#include "platform/worker_thread.h"

namespace dravik {

class EngineEvents;
class Trace;

// The step of a start that failed.
enum class StartFailure { Socket, Bind, Listen, Thread };

// What made a start fail: the step and the system's error number.
struct StartError {
  StartFailure step;
  int error;
  bool operator==(const StartError&) const = default;
};

// The listening port of each slot; a slot without one is not started.
using SlotPorts = std::array<std::optional<int>, kPortSlotCount>;

class ListeningServer {
 public:
  // Every accepted connection gets `keepalive`.
  ListeningServer(const VariantProfile& profile, MonitorState& state, EngineEvents& events,
                  const Trace& trace, sock::Keepalive keepalive = sock::kUnitKeepalive);
  // Stops every slot and joins every thread.
  ~ListeningServer();
  ListeningServer(const ListeningServer&) = delete;
  ListeningServer& operator=(const ListeningServer&) = delete;

  // Opens a listening socket on `address` (network byte order) for every slot with a port in
  // `ports` and starts their server threads; nothing when at least one slot serves, or when
  // no slot has a port. On failure (also when no server thread could start) closes every
  // socket of the attempt, returns the slots to Idle and returns what failed, showing nothing.
  std::optional<StartError> start(std::uint32_t address, const SlotPorts& ports);

  // Sets `slot` to Stopping, under its view lock, and wakes its server thread and receivers.
  void requestStop(int slot);

  // Waits (without spinning) until `slot` is Idle, then until its server thread has
  // finished its end steps. Never waits for receivers, which may be in a message box.
  void waitUntilIdle(int slot);

  // Sets every slot to Stopping and joins every server and receiver thread. Safe to call on
  // every exit path and more than once.
  void shutdown();

  // Receiver threads started and not yet joined (a server thread joins each as it ends; one
  // that ends with no server thread running is joined by the next start or stop).
  std::size_t receiverCount();

 private:
  struct Receiver {
    WorkerThread thread;
    std::atomic<bool> done{false};
  };

  void serve(int slot, std::shared_ptr<SlotRun> run, sock::Socket listenSocket);
  void startReceiver(int slot, const std::shared_ptr<SlotRun>& run, sock::Socket socket,
                     std::uint32_t peer);
  void endServing(int slot, SlotRun& run, sock::Socket listenSocket);
  void reapReceivers(bool all);
  // A server thread's slot leaves Starting (Serving) or ends (Idle): wakes the window's thread.
  void announce(int slot, SlotState state);
  void waitUntil(int slot, bool (*reached)(SlotState));

  EngineContext engine_;
  const sock::Keepalive keepalive_;
  // Window's thread only.
  std::array<WorkerThread, kPortSlotCount> servers_;
  std::array<std::shared_ptr<SlotRun>, kPortSlotCount> runs_;
  // Server threads add receivers; every thread may reap them.
  std::mutex receiversLock_;
  std::list<Receiver> receivers_;
  // Signalled by every receiver that ends, after it marked itself done; wakes the server
  // threads to join it.
  sock::WakeEvent receiverEnded_;
  // The hand-off of a slot's state between its server thread and the window's thread. Not
  // std::atomic::wait: MinGW-w64's GCC 12 library can lose its wake-up, and start then hangs.
  std::mutex stateLock_;
  std::condition_variable stateChanged_;
};

}  // namespace dravik
