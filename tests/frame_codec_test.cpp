// The device frames: framing over the 32-byte buffer, decoding, the acknowledgement, and the
// output frame.
#include "engine/frame_codec.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace dravik {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename Container>
std::string hex(const Container& bytes) {
  std::ostringstream out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out << ' ';
    out << std::hex << std::uppercase << (bytes[i] < 16 ? "0" : "") << int(bytes[i]);
  }
  return out.str();
}

// A receiver in miniature: feeds a byte stream through one connection's frame buffer and
// collects every answer, as the connection receiver does.
struct Connection {
  Connection(const VariantProfile& p, const std::vector<int>& states) : profile(p) {
    for (std::size_t i = 0; i < states.size(); ++i) inputs[i] = states[i];
  }
  std::string feed(const Bytes& stream) {
    Bytes answers;
    for (std::uint8_t b : stream) {
      if (!buffer.push(b)) continue;
      const Decoded d = decodeFrame(profile, buffer.bytes(), inputs);
      if (d.result != kOk) {
        EXPECT_EQ(d.repaintMask, 0u) << "a refused frame repaints nothing";
        continue;
      }
      answers.insert(answers.end(), d.answer.begin(), d.answer.end());
      lastRepaint = d.repaintMask;
    }
    return hex(answers);
  }
  std::vector<int> states() const {
    std::vector<int> out;
    for (int i = 0; i < profile.inputCount(); ++i) out.push_back(inputs[i].load());
    return out;
  }
  const VariantProfile& profile;
  FrameBuffer buffer;
  InputStates inputs{};
  unsigned lastRepaint = 0;
};

Bytes filler(std::size_t count, const Bytes& frame) {
  Bytes stream(count, 0x11);
  stream.insert(stream.end(), frame.begin(), frame.end());
  return stream;
}

TEST(FrameCodec, StreamsOfBothVariants) {
  struct Case {
    const char* what;
    const VariantProfile* profile;
    std::vector<int> before;
    Bytes stream;
    std::string answers;
    std::vector<int> after;
    unsigned repaint;
  };
  const std::vector<int> a0{0, 0, 0, 0};
  const Case cases[] = {
      // Worked examples.
      {"A DO",
       &kVariantA,
       {0, 1, 0, 1},
       {0x44, 0x4F, 0x35, 0x30, 0xC8},
       "64 6F 25 20 C8",
       {1, 0, 1, 0},
       0x0F},
      {"A DK",
       &kVariantA,
       {1, 0, 1, 0},
       {0x44, 0x4B, 0x32, 0x36, 0x30, 0x30, 0xC8},
       "64 6B 23 20 C8",
       {1, 1, 0, 0},
       0x06},
      {"B DO",
       &kVariantB,
       {1, 1, 1, 1, 1, 1, 1, 1},
       {0x44, 0x4F, 0x3A, 0x36, 0xC8},
       "64 6F 2A 26 C8",
       {0, 1, 0, 1, 0, 1, 1, 0},
       0xFF},
      {"B DK",
       &kVariantB,
       {0, 1, 0, 1, 0, 1, 1, 0},
       {0x44, 0x4B, 0x30, 0x30, 0x3F, 0x31, 0xC8},
       "64 6B 2A 27 C8",
       {0, 1, 0, 1, 1, 1, 1, 0},
       0x10},
      // Odd frames.
      {"DO cut short: byte 2 is the terminator, whose low nibble 8 turns DI4 on",
       &kVariantA,
       a0,
       {0x44, 0x4F, 0xC8},
       "64 6F 28 20 C8",
       {0, 0, 0, 1},
       0x0F},
      {"high nibbles carry nothing",
       &kVariantA,
       a0,
       {0x44, 0x4F, 0xF5, 0x00, 0xC8},
       "64 6F 25 20 C8",
       {1, 0, 1, 0},
       0x0F},
      {"A reads byte 3 but never reports DI5..DI8",
       &kVariantA,
       a0,
       {0x44, 0x4F, 0x30, 0x3F, 0xC8},
       "64 6F 20 20 C8",
       a0,
       0x0F},
      {"DK with mask 0 changes and repaints nothing, and is answered",
       &kVariantB,
       {1, 0, 0, 0, 0, 0, 0, 1},
       {0x44, 0x4B, 0x3F, 0x30, 0x3F, 0x30, 0xC8},
       "64 6B 21 28 C8",
       {1, 0, 0, 0, 0, 0, 0, 1},
       0x00},
      {"DK repaints only its masked channels",
       &kVariantB,
       {},
       {0x44, 0x4B, 0x30, 0x35, 0x30, 0x32, 0xC8},
       "64 6B 20 20 C8",
       {0, 0, 0, 0, 0, 0, 0, 0},
       0x25},
      // Framing.
      {"a lone terminator is no DO or DK frame", &kVariantA, a0, {0xC8}, "", a0, 0},
      {"after a refused frame the next is cut from position 0",
       &kVariantA,
       a0,
       {0x41, 0x42, 0xC8, 0x44, 0x4F, 0x31, 0x30, 0xC8},
       "64 6F 21 20 C8",
       {1, 0, 0, 0},
       0x0F},
      {"back to back: the later frame wins",
       &kVariantA,
       a0,
       {0x44, 0x4F, 0x31, 0x30, 0xC8, 0x44, 0x4F, 0x30, 0x30, 0xC8},
       "64 6F 21 20 C8 64 6F 20 20 C8",
       a0,
       0x0F},
      {"32 filler bytes wrap: the frame lands at offset 0",
       &kVariantA,
       a0,
       filler(32, {0x44, 0x4F, 0x33, 0x30, 0xC8}),
       "64 6F 23 20 C8",
       {1, 1, 0, 0},
       0x0F},
      {"31 filler bytes: 'D' at offset 31", &kVariantA, a0,
       filler(31, {0x44, 0x4F, 0x33, 0x30, 0xC8}), "", a0, 0},
      {"33 filler bytes: offset 0 holds filler", &kVariantA, a0,
       filler(33, {0x44, 0x4F, 0x33, 0x30, 0xC8}), "", a0, 0},
      {"a short DK is decoded over what the DO before it left at offsets 3..5",
       &kVariantA,
       a0,
       {0x44, 0x4F, 0x33, 0x30, 0xC8, 0x44, 0x4B, 0xC8},
       "64 6F 23 20 C8 64 6B 23 20 C8",
       {1, 1, 0, 0},
       0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.profile->programName) + ": " + c.what + ": " + hex(c.stream));
    Connection conn(*c.profile, c.before);
    EXPECT_EQ(conn.feed(c.stream), c.answers);
    EXPECT_EQ(conn.states(), c.after);
    EXPECT_EQ(conn.lastRepaint, c.repaint);
  }
}

// Only "DO" and "DK" are frames: any other first or second byte, however close, is refused,
// changes nothing and is not answered.
TEST(FrameCodec, OtherKindsAreRefused) {
  const std::uint8_t kinds[][2] = {{'D', 'A'},  {'D', 'N'}, {'D', 'P'}, {'D', 'J'},
                                   {'D', 'L'},  {'D', 'o'}, {'D', 'k'}, {'D', 'D'},
                                   {'D', 0x00}, {'C', 'O'}, {'E', 'O'}, {'d', 'O'},
                                   {'C', 'K'},  {'E', 'K'}, {'O', 'D'}, {0x00, 'K'}};
  for (const auto& kind : kinds) {
    for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
      SCOPED_TRACE(hex(Bytes{kind[0], kind[1]}) + " in " + std::string(p->programName));
      const std::vector<int> before(static_cast<std::size_t>(p->inputCount()), 1);
      Connection conn(*p, before);
      EXPECT_EQ(conn.feed({kind[0], kind[1], 0x30, 0x3F, 0x30, 0x3F, 0xC8}), "");
      EXPECT_EQ(conn.states(), before);
    }
  }
}

TEST(FrameCodec, OutputFrameCarriesOneBitPerOutput) {
  struct Case {
    std::vector<int> outputs;
    int count;
    std::string frame;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, 4, "44 4F 20 20 C8"}, {{1, 0, 1, 0}, 4, "44 4F 25 20 C8"},
      {{0, 0, 0, 1}, 4, "44 4F 28 20 C8"}, {{1, 1, 1, 1}, 4, "44 4F 2F 20 C8"},
      {{1, 1, 1, 1}, 2, "44 4F 23 20 C8"},
  };
  for (const Case& c : cases) {
    OutputStates outputs{};
    for (std::size_t i = 0; i < c.outputs.size(); ++i) outputs[i] = c.outputs[i];
    EXPECT_EQ(hex(encodeOutputFrame(outputs, c.count)), c.frame)
        << testing::PrintToString(c.outputs) << ", first " << c.count;
  }
}

}  // namespace
}  // namespace dravik
