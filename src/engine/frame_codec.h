// The unit's device frames and the monitor's acknowledgements, without any I/O:
// bytes in, input-state changes and the answer bytes out.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/result.h"
#include "engine/variant_profile.h"

namespace dravik {

inline constexpr std::uint8_t kTerminator = 0xC8;
inline constexpr std::size_t kReceiveBufferSize = 32;

using InputStates = std::array<std::atomic<int>, kMaxInputs>;
using OutputStates = std::array<std::atomic<int>, kMaxOutputs>;
// An acknowledgement or an output frame: both are five bytes.
using Answer = std::array<std::uint8_t, 5>;

// Cuts one connection's byte stream into frames. The buffer is kept between frames, so a
// short frame is decoded over the bytes an earlier frame left behind.
class FrameBuffer {
 public:
  // Stores `byte` at the frame position. Returns true when it was the terminator: the frame
  // is then in bytes() for the decoder and the next byte starts a new frame at position 0.
  // Any other byte advances the position, wrapping to 0 after 32.
  bool push(std::uint8_t byte);

  const std::array<std::uint8_t, kReceiveBufferSize>& bytes() const { return buffer_; }

 private:
  std::array<std::uint8_t, kReceiveBufferSize> buffer_{};
  std::size_t position_ = 0;
};

struct Decoded {
  Result result = kFail;     // kOk for a DO or DK frame, kFail for any other kind
  Answer answer{};           // the acknowledgement to send (valid only with kOk)
  unsigned repaintMask = 0;  // bit i set: the lamp of input i must be repainted
  unsigned inputs = 0;       // bit i set: input i is on in the acknowledgement (valid with kOk)
};

// Applies the frame at offsets 0 to 5 of `frame` to `inputs` and builds the acknowledgement,
// which carries the complete input states after the update, read once: other units may change
// them at any time, and `inputs` of the result are the very bits the acknowledgement carries.
Decoded decodeFrame(const VariantProfile& profile,
                    const std::array<std::uint8_t, kReceiveBufferSize>& frame, InputStates& inputs);

// The frame that sets a unit's outputs to `outputs` (the first `count` of them), laid out as
// the unit's own DO frame: "DO", bit i of the third byte for output i, a blank, terminator.
Answer encodeOutputFrame(const OutputStates& outputs, int count);

}  // namespace dravik
