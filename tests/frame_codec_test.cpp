// The device frames, their acknowledgements and the output frame. "11x32": 32 bytes of 0x11.
#include "engine/frame_codec.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

namespace dravik {
namespace {

using Bytes = std::vector<std::uint8_t>;
// The answers, the states after ('0'/'1' per input) and the last repaint mask.
using Fed = std::tuple<Bytes, std::string, unsigned>;

Bytes bytes(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    const std::size_t x = t.find('x');
    out.insert(out.end(), x == t.npos ? 1 : std::stoul(t.substr(x + 1)),
               std::stoul(t, nullptr, 16));
  }
  return out;
}

// Feeds a stream through one connection's frame buffer as the receiver does.
Fed feed(const VariantProfile& profile, const std::string& before, const std::string& stream) {
  InputStates inputs{};
  for (std::size_t i = 0; i < before.size(); ++i) inputs[i] = before[i] - '0';
  FrameBuffer buffer;
  Fed fed;
  auto& [answers, states, repaint] = fed;
  for (std::uint8_t b : bytes(stream)) {
    if (!buffer.push(b)) continue;
    const Decoded d = decodeFrame(profile, buffer.bytes(), inputs);
    EXPECT_TRUE(d.result == kOk || d.repaintMask == 0) << "a refused frame repaints nothing";
    if (d.result != kOk) continue;
    answers.insert(answers.end(), d.answer.begin(), d.answer.end());
    repaint = d.repaintMask;
  }
  for (int i = 0; i < profile.inputCount(); ++i) states += char('0' + inputs[i].load());
  return fed;
}

TEST(FrameCodec, StreamsOfBothVariants) {
  // Variant, states before, stream, answers, states after, last repaint mask.
  using Case = std::tuple<const VariantProfile&, const char*, const char*, const char*, const char*,
                          unsigned>;
  const Case cases[] = {
      // The worked examples.
      {kVariantA, "0101", "44 4F 35 30 C8", "64 6F 25 20 C8", "1010", 0x0F},
      {kVariantA, "1010", "44 4B 32 36 30 30 C8", "64 6B 23 20 C8", "1100", 0x06},
      {kVariantB, "11111111", "44 4F 3A 36 C8", "64 6F 2A 26 C8", "01010110", 0xFF},
      {kVariantB, "01010110", "44 4B 30 30 3F 31 C8", "64 6B 2A 27 C8", "01011110", 0x10},
      // A DO cut short: the terminator's low nibble 8 turns DI4 on.
      {kVariantA, "", "44 4F C8", "64 6F 28 20 C8", "0001", 0x0F},
      {kVariantA, "", "44 4F F5 00 C8", "64 6F 25 20 C8", "1010", 0x0F},  // high nibbles ignored
      {kVariantA, "", "44 4F 30 3F C8", "64 6F 20 20 C8", "0000", 0x0F},  // A has no DI5..DI8
      // A DK with mask 0 changes nothing and is answered; a DK repaints its masked channels only.
      {kVariantB, "10000001", "44 4B 3F 30 3F 30 C8", "64 6B 21 28 C8", "10000001", 0x00},
      {kVariantB, "", "44 4B 30 35 30 32 C8", "64 6B 20 20 C8", "00000000", 0x25},
      {kVariantA, "7000", "44 4B 30 30 30 30 C8", "64 6B 21 20 C8", "7000", 0x00},  // 7 is on
      {kVariantA, "", "C8", "", "0000", 0},
      // After a refused frame the next is cut from 0; of frames back to back the later wins.
      {kVariantA, "", "41 42 C8 44 4F 31 30 C8", "64 6F 21 20 C8", "1000", 0x0F},
      {kVariantA, "", "44 4F 31 30 C8 44 4F 30 30 C8", "64 6F 21 20 C8 64 6F 20 20 C8", "0000",
       0x0F},
      // After 32 bytes the buffer wraps to offset 0: with 31 'D' lands at 31, with 33 filler at 0.
      {kVariantA, "", "11x32 44 4F 33 30 C8", "64 6F 23 20 C8", "1100", 0x0F},
      {kVariantA, "", "11x31 44 4F 33 30 C8", "", "0000", 0},
      {kVariantA, "", "11x33 44 4F 33 30 C8", "", "0000", 0},
      // A short DK reads what the DO before it left at 3..5.
      {kVariantA, "", "44 4F 33 30 C8 44 4B C8", "64 6F 23 20 C8 64 6B 23 20 C8", "1100", 0x00},
  };
  for (const auto& [profile, before, stream, answers, after, repaint] : cases)
    EXPECT_EQ(feed(profile, before, stream), Fed(bytes(answers), after, repaint))
        << profile.modelName << ": " << stream;
}

// Any other first or second byte, however close, is refused, changes nothing, is not answered.
TEST(FrameCodec, OtherKindsAreRefused) {
  for (const char* kind :
       {"44 41", "44 4E", "44 50", "44 4A", "44 4C", "44 6F", "44 6B", "44 44", "44 00", "43 4F",
        "45 4F", "64 4F", "43 4B", "45 4B", "4F 44", "00 4B"}) {
    for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
      const std::string ones(static_cast<std::size_t>(p->inputCount()), '1');
      EXPECT_EQ(feed(*p, ones, std::string(kind) + " 30 3F 30 3F C8"), Fed({}, ones, 0))
          << kind << " in " << p->modelName;
    }
  }
}

TEST(FrameCodec, OutputFrameCarriesOneBitPerOutput) {
  for (const auto& [states, frame] : {std::pair{"0000", "44 4F 20 20 C8"},
                                      {"1010", "44 4F 25 20 C8"},
                                      {"0001", "44 4F 28 20 C8"},
                                      {"1111", "44 4F 2F 20 C8"},
                                      {"11", "44 4F 23 20 C8"}}) {
    OutputStates outputs{};
    const int count = static_cast<int>(std::string_view(states).size());
    for (int i = 0; i < kMaxOutputs; ++i) outputs[i] = i < count ? states[i] - '0' : 1;
    const Answer sent = encodeOutputFrame(outputs, count);
    EXPECT_EQ(Bytes(sent.begin(), sent.end()), bytes(frame)) << "outputs " << states;
  }
}

}  // namespace
}  // namespace dravik
