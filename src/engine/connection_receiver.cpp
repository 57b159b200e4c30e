#include "engine/connection_receiver.h"

#include <array>
#include <mutex>
#include <vector>

#include "engine/engine_events.h"
#include "engine/frame_codec.h"
#include "logging/trace.h"

namespace dravik {
namespace {

// At most this many bytes are taken from the kernel at once: a unit that sends frames back
// to back costs one recv per burst instead of one per byte.
constexpr std::size_t kFetchBytes = 4096;

bool slotEnded(const EngineContext& engine, int slot, const SlotRun& run) {
  const SlotState s = engine.state.slots[slot].state.load();
  return s == SlotState::Idle || s == SlotState::Stopping || run.ended.load();
}

// The outputs as they stand now, DO1 = bit 0.
unsigned outputBits(const EngineContext& engine) {
  unsigned bits = 0;
  for (int i = 0; i < engine.profile.outputCount(); ++i) {
    if (engine.state.outputs[i].load() != 0) bits |= 1u << i;
  }
  return bits;
}

// The valid frames cut from one recv, answered and reported together. Kept by the receiver
// from burst to burst, so its buffers are allocated once.
struct Burst {
  std::vector<std::uint8_t> answers;
  std::vector<FrameStates> frames;
  unsigned changedInputs = 0;

  void add(const Decoded& decoded, unsigned outputs) {
    answers.insert(answers.end(), decoded.answer.begin(), decoded.answer.end());
    frames.push_back({decoded.inputs, outputs});
    changedInputs |= decoded.repaintMask;
  }
};

// Sends the answers of `burst` in one send, then reports its frames, and empties it. The
// answers go out first, as each frame's answer always came before its log line.
void finishBurst(const EngineContext& engine, int slot, const SlotRun& run, sock::Socket socket,
                 const std::string& peerText, std::uint32_t peer, Burst& burst) {
  if (burst.frames.empty()) return;
  if (burst.changedInputs != 0) engine.events.inputsChanged(slot, burst.changedInputs);
  // A unit that has gone away is an error, never a signal that ends the process. One that reads
  // nothing gets what its buffers still take: the receiver never waits for a unit.
  sock::send(socket, burst.answers.data(), burst.answers.size());
  engine.events.framesAnswered(slot, peerText, burst.frames);
  {
    PortSlot& portSlot = engine.state.slots[slot];
    // A stop under way resets the window; a burst that raced it must not undo that.
    std::lock_guard lock(portSlot.viewLock);
    if (!slotEnded(engine, slot, run)) {
      if (engine.profile.slotKeepsUnit) portSlot.unitAddress = peer;
      engine.events.unitReporting(slot, peerText);
    }
  }
  burst.answers.clear();
  burst.frames.clear();
  burst.changedInputs = 0;
}

}  // namespace

void runReceiver(const EngineContext& engine, int slot, const std::shared_ptr<SlotRun>& run,
                 sock::Socket socket, std::uint32_t peer) {
  PortSlot& portSlot = engine.state.slots[slot];
  if (engine.profile.slotKeepsUnit) {
    std::lock_guard lock(portSlot.connectionLock);
    portSlot.connectionSocket = socket;
  }
  // A unit that sends frames back to back gets the answers of each burst as they are sent, not
  // once it has acknowledged the burst before.
  sock::sendAtOnce(socket);
  const std::string peerText = sock::addressText(peer);
  FrameBuffer frame;
  std::array<std::uint8_t, kFetchBytes> fetched;
  Burst burst;
  bool stopped = false;

  while (!stopped && !slotEnded(engine, slot, *run)) {
    const sock::Transfer got = sock::receive(socket, fetched.data(), fetched.size());
    if (got.wouldBlock) {
      // Between bursts the thread sleeps in the kernel until a byte or a stop arrives.
      sock::waitReadable(socket, run->wake, kWaitForever);
      continue;
    }
    if (got.error != 0) {
      engine.trace("recv error: %d \r\n", got.error);
      // The unit stopped answering the keepalive: it has gone, as if it had closed.
      if (sock::timedOut(got.error)) engine.events.connectionClosed(slot);
      break;
    }
    if (got.bytes == 0) {
      engine.events.connectionClosed(slot);
      break;
    }
    // The bytes are cut into frames one at a time, and the frames decoded in order, each over
    // the inputs the one before it left. The slot state is looked at before each frame: a stop
    // ends the burst there, and the frames decoded before it are still answered and reported.
    for (std::size_t k = 0; k < got.bytes; ++k) {
      if (!frame.push(fetched[k])) continue;
      if (slotEnded(engine, slot, *run)) {
        stopped = true;
        break;
      }
      const auto& bytes = frame.bytes();
      engine.trace("from:%s   Recv %02x %02x\r\n", peerText.c_str(), bytes[0], bytes[1]);
      const Decoded decoded = decodeFrame(engine.profile, bytes, engine.state.inputs);
      if (decoded.result == kOk) burst.add(decoded, outputBits(engine));
    }
    finishBurst(engine, slot, *run, socket, peerText, peer, burst);
  }

  // The output sender holds this lock while it sends on the published socket, so the
  // descriptor is never closed (and possibly reused) under its feet.
  // The slot forgets the socket before it is closed: once closed, its number may at once be
  // a new connection's, which must stay published.
  std::lock_guard lock(portSlot.connectionLock);
  if (engine.profile.slotKeepsUnit) {
    sock::Socket mine = socket;
    portSlot.connectionSocket.compare_exchange_strong(mine, kNoSocket);
  }
  sock::close(socket);
}

}  // namespace dravik
