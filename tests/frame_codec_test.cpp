// The device frames, their acknowledgements and the output frame. "11x32": 32 bytes of 0x11.
#include "engine/frame_codec.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

namespace dravik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    const std::size_t x = token.find('x');
    const int count = x == std::string::npos ? 1 : std::stoi(token.substr(x + 1));
    out.insert(out.end(), static_cast<std::size_t>(count),
               static_cast<std::uint8_t>(std::stoi(token.substr(0, x), nullptr, 16)));
  }
  return out;
}

// Feeds a stream through one connection's frame buffer as the receiver does: the answers, the
// states after ('0'/'1' per input) and the last repaint mask.
struct Fed {
  Bytes answers;
  std::string states;
  unsigned repaint = 0;
};

Fed feed(const VariantProfile& profile, const std::string& before, const std::string& stream) {
  InputStates inputs{};
  for (std::size_t i = 0; i < before.size(); ++i) inputs[i] = before[i] - '0';
  FrameBuffer buffer;
  Fed fed;
  for (std::uint8_t b : bytes(stream)) {
    if (!buffer.push(b)) continue;
    const Decoded d = decodeFrame(profile, buffer.bytes(), inputs);
    if (d.result != kOk) {
      EXPECT_EQ(d.repaintMask, 0u) << "a refused frame repaints nothing";
      continue;
    }
    fed.answers.insert(fed.answers.end(), d.answer.begin(), d.answer.end());
    fed.repaint = d.repaintMask;
  }
  for (int i = 0; i < profile.inputCount(); ++i) fed.states += char('0' + inputs[i].load());
  return fed;
}

TEST(FrameCodec, StreamsOfBothVariants) {
  // What, variant, states before, stream, answers, states after, last repaint mask.
  using Case = std::tuple<const char*, const VariantProfile&, const char*, const char*, const char*,
                          const char*, unsigned>;
  const Case cases[] = {
      {"worked DO", kVariantA, "0101", "44 4F 35 30 C8", "64 6F 25 20 C8", "1010", 0x0F},
      {"worked DK", kVariantA, "1010", "44 4B 32 36 30 30 C8", "64 6B 23 20 C8", "1100", 0x06},
      {"worked DO", kVariantB, "11111111", "44 4F 3A 36 C8", "64 6F 2A 26 C8", "01010110", 0xFF},
      {"worked DK", kVariantB, "01010110", "44 4B 30 30 3F 31 C8", "64 6B 2A 27 C8", "01011110",
       0x10},
      {"DO cut short: the terminator's low nibble 8 turns DI4 on", kVariantA, "", "44 4F C8",
       "64 6F 28 20 C8", "0001", 0x0F},
      {"high nibbles carry nothing", kVariantA, "", "44 4F F5 00 C8", "64 6F 25 20 C8", "1010",
       0x0F},
      {"A never reports DI5..DI8", kVariantA, "", "44 4F 30 3F C8", "64 6F 20 20 C8", "0000", 0x0F},
      {"DK with mask 0 changes nothing and is answered", kVariantB, "10000001",
       "44 4B 3F 30 3F 30 C8", "64 6B 21 28 C8", "10000001", 0x00},
      {"DK repaints its masked channels only", kVariantB, "", "44 4B 30 35 30 32 C8",
       "64 6B 20 20 C8", "00000000", 0x25},
      {"a lone terminator", kVariantA, "", "C8", "", "0000", 0},
      {"after a refused frame the next is cut from 0", kVariantA, "", "41 42 C8 44 4F 31 30 C8",
       "64 6F 21 20 C8", "1000", 0x0F},
      {"back to back: the later frame wins", kVariantA, "", "44 4F 31 30 C8 44 4F 30 30 C8",
       "64 6F 21 20 C8 64 6F 20 20 C8", "0000", 0x0F},
      {"32 bytes wrap: the frame at offset 0", kVariantA, "", "11x32 44 4F 33 30 C8",
       "64 6F 23 20 C8", "1100", 0x0F},
      {"31 bytes: 'D' at offset 31", kVariantA, "", "11x31 44 4F 33 30 C8", "", "0000", 0},
      {"33 bytes: filler at offset 0", kVariantA, "", "11x33 44 4F 33 30 C8", "", "0000", 0},
      {"a short DK reads what the DO before it left at 3..5", kVariantA, "",
       "44 4F 33 30 C8 44 4B C8", "64 6F 23 20 C8 64 6B 23 20 C8", "1100", 0x00},
  };
  for (const auto& [what, profile, before, stream, answers, after, repaint] : cases) {
    const Fed fed = feed(profile, before, stream);
    SCOPED_TRACE(std::string(profile.programName) + ": " + what + ": " + stream);
    EXPECT_EQ(fed.answers, bytes(answers));
    EXPECT_EQ(fed.states, after);
    EXPECT_EQ(fed.repaint, repaint);
  }
}

// Any other first or second byte, however close, is refused, changes nothing, is not answered.
TEST(FrameCodec, OtherKindsAreRefused) {
  for (const char* kind :
       {"44 41", "44 4E", "44 50", "44 4A", "44 4C", "44 6F", "44 6B", "44 44", "44 00", "43 4F",
        "45 4F", "64 4F", "43 4B", "45 4B", "4F 44", "00 4B"}) {
    for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
      const std::string ones(static_cast<std::size_t>(p->inputCount()), '1');
      const Fed fed = feed(*p, ones, std::string(kind) + " 30 3F 30 3F C8");
      EXPECT_EQ(fed.answers, Bytes()) << kind << " in " << p->programName;
      EXPECT_EQ(fed.states, ones) << kind << " in " << p->programName;
    }
  }
}

TEST(FrameCodec, OutputFrameCarriesOneBitPerOutput) {
  const std::pair<const char*, const char*> cases[] = {{"0000", "44 4F 20 20 C8"},
                                                       {"1010", "44 4F 25 20 C8"},
                                                       {"0001", "44 4F 28 20 C8"},
                                                       {"1111", "44 4F 2F 20 C8"},
                                                       {"11", "44 4F 23 20 C8"}};
  for (const auto& [states, frame] : cases) {
    OutputStates outputs{};
    for (auto& output : outputs) output = 1;
    const int count = static_cast<int>(std::string_view(states).size());
    for (int i = 0; i < count; ++i) outputs[i] = states[i] - '0';
    const Answer sent = encodeOutputFrame(outputs, count);
    EXPECT_EQ(Bytes(sent.begin(), sent.end()), bytes(frame)) << "outputs " << states;
  }
}

}  // namespace
}  // namespace dravik
