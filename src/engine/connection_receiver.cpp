#include "engine/connection_receiver.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <mutex>

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

void acceptFrame(const EngineContext& engine, int slot, const SlotRun& run,
                 const std::string& peerText, std::uint32_t peer, FrameStates states) {
  engine.events.frameAccepted(slot, peerText, states);
  PortSlot& portSlot = engine.state.slots[slot];
  // A stop under way resets the window; a frame that raced it must not undo that.
  std::lock_guard lock(portSlot.viewLock);
  if (slotEnded(engine, slot, run)) return;
  if (engine.profile.slotKeepsUnit) portSlot.unitAddress = peer;
  engine.events.unitReporting(slot, peerText);
}

}  // namespace

void runReceiver(const EngineContext& engine, int slot, const std::shared_ptr<SlotRun>& run,
                 int socket, std::uint32_t peer) {
  PortSlot& portSlot = engine.state.slots[slot];
  if (engine.profile.slotKeepsUnit) {
    std::lock_guard lock(portSlot.connectionLock);
    portSlot.connectionSocket = socket;
  }
  const std::string peerText = sock::addressText(peer);
  FrameBuffer frame;
  // Bytes fetched from the kernel and not yet cut into frames. They are fed to the frame
  // buffer one at a time with the slot state looked at before each, so frames are cut, and
  // each answered before the next is decoded, exactly as with one recv per byte.
  std::array<std::uint8_t, kFetchBytes> fetched;
  std::size_t fetchedCount = 0;
  std::size_t next = 0;

  while (!slotEnded(engine, slot, *run)) {
    if (next == fetchedCount) {
      const ssize_t n = ::recv(socket, fetched.data(), fetched.size(), 0);
      if (n == 0) {
        engine.events.connectionClosed(slot);
        break;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          // Between frames the thread sleeps in the kernel until a byte or a stop arrives.
          sock::waitReadable(socket, run->wake.fd(), kWaitForever);
          continue;
        }
        const int error = errno;
        engine.trace("recv error: %d \r\n", error);
        // The unit stopped answering the keepalive: it has gone, as if it had closed.
        if (error == ETIMEDOUT) engine.events.connectionClosed(slot);
        break;
      }
      fetchedCount = static_cast<std::size_t>(n);
      next = 0;
    }
    if (!frame.push(fetched[next++])) continue;

    const auto& bytes = frame.bytes();
    engine.trace("from:%s   Recv %02x %02x\r\n", peerText.c_str(), bytes[0], bytes[1]);
    const Decoded decoded = decodeFrame(engine.profile, bytes, engine.state.inputs);
    if (decoded.result != kOk) continue;
    if (decoded.repaintMask != 0) engine.events.inputsChanged(slot, decoded.repaintMask);
    const FrameStates states{decoded.inputs, outputBits(engine)};
    // A unit that has gone away must not take the process down with SIGPIPE.
    [[maybe_unused]] ssize_t sent =
        ::send(socket, decoded.answer.data(), decoded.answer.size(), MSG_NOSIGNAL);
    acceptFrame(engine, slot, *run, peerText, peer, states);
  }

  // The output sender holds this lock while it sends on the published socket, so the
  // descriptor is never closed (and possibly reused) under its feet.
  // The slot forgets the socket before it is closed: once closed, its number may at once be
  // a new connection's, which must stay published.
  std::lock_guard lock(portSlot.connectionLock);
  if (engine.profile.slotKeepsUnit) {
    int mine = socket;
    portSlot.connectionSocket.compare_exchange_strong(mine, kNoSocket);
  }
  sock::closeFd(socket);
}

}  // namespace dravik
