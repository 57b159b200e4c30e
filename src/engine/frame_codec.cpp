#include "engine/frame_codec.h"

namespace dravik {

bool FrameBuffer::push(std::uint8_t byte) {
  buffer_[position_] = byte;
  if (byte == kTerminator) {
    position_ = 0;
    return true;
  }
  position_ = (position_ + 1) % kReceiveBufferSize;
  return false;
}

Decoded decodeFrame(const VariantProfile& profile,
                    const std::array<std::uint8_t, kReceiveBufferSize>& frame,
                    InputStates& inputs) {
  Decoded out;
  if (frame[0] != 'D' || (frame[1] != 'O' && frame[1] != 'K')) return out;

  const bool full = frame[1] == 'O';
  auto low = [&](int offset) { return static_cast<unsigned>(frame[offset] & 0x0F); };
  const unsigned value = full ? low(2) | (low(3) << 4) : low(2) | (low(4) << 4);
  const unsigned mask = full ? 0xFFu : low(3) | (low(5) << 4);

  const int n = profile.inputCount();
  for (int i = 0; i < n; ++i) {
    if (mask & (1u << i)) {
      inputs[i].store((value >> i) & 1u);
      out.repaintMask |= 1u << i;
    }
  }

  for (int i = 0; i < n; ++i) {
    if (inputs[i].load() != 0) out.inputs |= 1u << i;
  }
  out.answer = {'d', full ? std::uint8_t{'o'} : std::uint8_t{'k'}, 0x20, 0x20, kTerminator};
  for (int i = 0; i < n && i / 4 < profile.ackStateBytes; ++i) {
    if (out.inputs & (1u << i)) out.answer[2 + i / 4] |= static_cast<std::uint8_t>(1u << (i % 4));
  }
  out.result = kOk;
  return out;
}

Answer encodeOutputFrame(const OutputStates& outputs, int count) {
  Answer frame{'D', 'O', 0x20, 0x20, kTerminator};
  for (int i = 0; i < count; ++i) {
    if (outputs[i].load() != 0) frame[2] |= static_cast<std::uint8_t>(1u << i);
  }
  return frame;
}

}  // namespace dravik
