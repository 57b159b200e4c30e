// Any byte stream through one connection's framing and decoding; the first byte picks the variant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/frame_codec.h"

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravik;
  if (size == 0) return 0;
  const VariantProfile& profile = (data[0] & 1) ? kVariantB : kVariantA;
  FrameBuffer buffer;
  InputStates inputs{};
  for (std::size_t i = 1; i < size; ++i) {
    if (!buffer.push(data[i])) continue;
    const Decoded d = decodeFrame(profile, buffer.bytes(), inputs);
    for (int c = 0; c < kMaxInputs; ++c)
      require(inputs[c] == 0 || (inputs[c] == 1 && c < profile.inputCount()),
              "states are 0, or 1 within the variant");
    if (d.result != kOk) {
      require(d.result == kFail && d.repaintMask == 0, "a refused frame fails, repaints nothing");
      continue;
    }
    const Answer& a = d.answer;
    require(a[0] == 'd' && (a[1] == 'o' || a[1] == 'k') && (a[2] & 0xF0) == 0x20 &&
                (a[3] & 0xF0) == 0x20 && a[4] == kTerminator,
            "an answer is d, o or k, two states with 0x2 high, the terminator");
    for (int c = 0; c < profile.inputCount(); ++c) {
      require(((a[2 + c / 4] >> (c % 4)) & 1) == inputs[c], "answer mirrors the inputs");
      require(((d.inputs >> c) & 1) == static_cast<unsigned>(inputs[c]),
              "the states logged are those answered");
    }
    require(d.inputs >> profile.inputCount() == 0, "no state past the variant's inputs");
    if (profile.inputCount() == 4) require(a[3] == 0x20, "DRAVIK-A reports no DI5..DI8");
  }
  return 0;
}
