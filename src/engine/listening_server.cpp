#include "engine/listening_server.h"

#include "engine/engine_events.h"
#include "logging/trace.h"

namespace dravik {

namespace {

// Pause after an accept that failed for want of descriptors or memory, while the connection
// is still pending: long enough not to spin, short enough to serve it soon after.
constexpr int kAcceptRetryMs = 100;

// Opens one listening socket; kNoSocket after setting `failure` to the failed step.
sock::Socket openListener(std::optional<StartError>& failure, std::uint32_t address, int port) {
  // Non-blocking, so a connection that vanished between the wait and the accept never blocks
  // the server thread where a stop cannot reach it. Units that come back together after a
  // network outage all connect at once: a short backlog would drop their handshakes and hold
  // them up for a retry a second later.
  const sock::Listening listening = sock::listenOn(address, port);
  if (listening.socket == sock::kNone) {
    static constexpr StartFailure kStep[] = {StartFailure::Socket, StartFailure::Bind,
                                             StartFailure::Listen};
    failure = StartError{kStep[static_cast<int>(listening.failed)], listening.error};
    return kNoSocket;
  }
  return listening.socket;
}

}  // namespace

ListeningServer::ListeningServer(const VariantProfile& profile, MonitorState& state,
                                 EngineEvents& events, const Trace& trace,
                                 sock::Keepalive keepalive)
    : engine_{profile, state, events, trace}, keepalive_(keepalive) {}

ListeningServer::~ListeningServer() {
  shutdown();
}

std::optional<StartError> ListeningServer::start(std::uint32_t address, const SlotPorts& ports) {
  MonitorState& state = engine_.state;
  for (int s = 0; s < kPortSlotCount; ++s) {
    servers_[s].join();
    runs_[s].reset();
    if (!ports[s]) continue;
    state.slots[s].port = *ports[s];
    state.slots[s].state = SlotState::Starting;
  }
  reapReceivers(false);

  std::optional<StartError> failed;
  for (PortSlot& slot : state.slots) {
    if (slot.state != SlotState::Starting) continue;
    slot.listenSocket = openListener(failed, address, slot.port);
    if (slot.listenSocket == kNoSocket) break;
  }
  for (int s = 0; s < kPortSlotCount && !failed; ++s) {
    if (state.slots[s].state != SlotState::Starting) continue;
    runs_[s] = std::make_shared<SlotRun>();
    if (!runs_[s]->wake.valid()) failed = StartError{StartFailure::Socket, runs_[s]->wake.error()};
  }
  if (failed) {
    for (int s = 0; s < kPortSlotCount; ++s) {
      PortSlot& slot = state.slots[s];
      runs_[s].reset();
      if (slot.state != SlotState::Starting) continue;
      sock::close(slot.listenSocket);
      slot.listenSocket = kNoSocket;
      slot.state = SlotState::Idle;
    }
    return failed;
  }

  bool anyStarting = false;
  bool anyServing = false;
  int threadError = 0;
  for (int s = 0; s < kPortSlotCount; ++s) {
    PortSlot& slot = state.slots[s];
    if (slot.state != SlotState::Starting) continue;
    anyStarting = true;
    engine_.trace("server start.\r\n");
    const sock::Socket listenSocket = slot.listenSocket;
    std::shared_ptr<SlotRun> run = runs_[s];
    const int error =
        servers_[s].start([this, s, run, listenSocket] { serve(s, run, listenSocket); });
    if (error != 0) {
      // The system is out of threads: this slot does not listen, the others still do.
      engine_.trace("thread error: %d \r\n", error);
      threadError = error;
      sock::close(listenSocket);
      slot.listenSocket = kNoSocket;
      runs_[s].reset();
      slot.state = SlotState::Idle;
      continue;
    }
    waitUntil(s, [](SlotState now) { return now != SlotState::Starting; });
    anyServing = true;
  }
  if (anyStarting && !anyServing) {
    // Nothing listens: a start that reported success here would show "listening" to nobody.
    return StartError{StartFailure::Thread, threadError};
  }
  return std::nullopt;
}

void ListeningServer::requestStop(int slot) {
  {
    PortSlot& portSlot = engine_.state.slots[slot];
    std::lock_guard lock(portSlot.viewLock);
    portSlot.state = SlotState::Stopping;
  }
  if (runs_[slot]) runs_[slot]->stop();
}

void ListeningServer::waitUntilIdle(int slot) {
  waitUntil(slot, [](SlotState now) { return now == SlotState::Idle; });
  servers_[slot].join();
  runs_[slot].reset();
  reapReceivers(false);
}

void ListeningServer::shutdown() {
  for (int s = 0; s < kPortSlotCount; ++s) requestStop(s);
  for (int s = 0; s < kPortSlotCount; ++s) {
    servers_[s].join();
    runs_[s].reset();
  }
  reapReceivers(true);
}

void ListeningServer::announce(int slot, SlotState state) {
  {
    std::lock_guard lock(stateLock_);
    engine_.state.slots[slot].state = state;
  }
  stateChanged_.notify_all();
}

void ListeningServer::waitUntil(int slot, bool (*reached)(SlotState)) {
  std::unique_lock lock(stateLock_);
  stateChanged_.wait(lock, [&] { return reached(engine_.state.slots[slot].state); });
}

std::size_t ListeningServer::receiverCount() {
  reapReceivers(false);
  std::lock_guard lock(receiversLock_);
  return receivers_.size();
}

void ListeningServer::serve(int slot, std::shared_ptr<SlotRun> run, sock::Socket listenSocket) {
  std::atomic<SlotState>& state = engine_.state.slots[slot].state;
  announce(slot, SlotState::Serving);

  while (state != SlotState::Stopping && state != SlotState::Idle) {
    const sock::Wait wait =
        sock::waitReadable(listenSocket, run->wake, receiverEnded_, kWaitForever);
    if (wait == sock::Wait::Signalled) {
      // A receiver has ended: its thread gives back its stack now, not at the next accept,
      // which may never come once many units have gone together.
      receiverEnded_.clear();
      reapReceivers(false);
      continue;
    }
    if (wait != sock::Wait::Ready) continue;
    engine_.trace("select.\r\n");
    if (state == SlotState::Stopping) break;
    const sock::Accepted accepted = sock::acceptFrom(listenSocket);
    if (accepted.socket == sock::kNone) {
      // Nothing waited any more, or the connection vanished before it was taken.
      if (accepted.error == 0) continue;
      // Out of descriptors or memory: the connection stays pending, so pause instead of
      // finding the listening socket readable again at once.
      engine_.trace("accept error: %d \r\n", accepted.error);
      sock::waitReadable(sock::kNone, run->wake, kAcceptRetryMs);
      continue;
    }
    // A unit that loses power or cable never closes: the system must find out that it went.
    sock::keepAlive(accepted.socket, keepalive_);
    startReceiver(slot, run, accepted.socket, accepted.peer);
  }
  endServing(slot, *run, listenSocket);
}

void ListeningServer::startReceiver(int slot, const std::shared_ptr<SlotRun>& run,
                                    sock::Socket socket, std::uint32_t peer) {
  reapReceivers(false);
  std::lock_guard lock(receiversLock_);
  Receiver& receiver = receivers_.emplace_back();
  const int error = receiver.thread.start([this, slot, run, socket, peer, &receiver] {
    runReceiver(engine_, slot, run, socket, peer);
    receiver.done = true;
    receiverEnded_.signal();
  });
  if (error != 0) {
    // Costs this one connection: the unit sees it closed and may connect again.
    engine_.trace("thread error: %d \r\n", error);
    sock::close(socket);
    receivers_.pop_back();
  }
}

void ListeningServer::endServing(int slot, SlotRun& run, sock::Socket listenSocket) {
  PortSlot& portSlot = engine_.state.slots[slot];
  announce(slot, SlotState::Idle);
  run.ended = true;
  run.stop();
  sock::close(listenSocket);
  portSlot.listenSocket = kNoSocket;
  for (int i = 0; i < engine_.profile.inputCount(); ++i) engine_.state.inputs[i] = 0;
  engine_.trace("server stop.\r\n");
  engine_.events.slotEnded(slot);
}

void ListeningServer::reapReceivers(bool all) {
  std::list<Receiver> finished;
  {
    std::lock_guard lock(receiversLock_);
    for (auto it = receivers_.begin(); it != receivers_.end();) {
      auto next = std::next(it);
      if (all || it->done) finished.splice(finished.end(), receivers_, it);
      it = next;
    }
  }
  for (Receiver& receiver : finished) receiver.thread.join();
}

}  // namespace dravik
