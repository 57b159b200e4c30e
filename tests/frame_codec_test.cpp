// The device frames: framing over the 32-byte buffer, decoding, and the acknowledgement.
#include "engine/frame_codec.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <vector>

namespace dravik {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(const Bytes& bytes) {
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
  explicit Connection(const VariantProfile& p) : profile(p) {}
  Bytes feed(const Bytes& stream) {
    Bytes answers;
    for (std::uint8_t b : stream) {
      if (!buffer.push(b)) continue;
      Decoded d = decodeFrame(profile, buffer.bytes(), inputs);
      ++frames;
      if (d.result == kOk) {
        answers.insert(answers.end(), d.answer.begin(), d.answer.end());
        lastRepaint = d.repaintMask;
      }
    }
    return answers;
  }
  void setInputs(std::initializer_list<int> states) {
    int i = 0;
    for (int s : states) inputs[i++] = s;
  }
  std::vector<int> states() const {
    std::vector<int> out;
    for (int i = 0; i < profile.inputCount(); ++i) out.push_back(inputs[i].load());
    return out;
  }
  const VariantProfile& profile;
  FrameBuffer buffer;
  InputStates inputs{};
  int frames = 0;
  unsigned lastRepaint = 0;
};

TEST(FrameCodec, WorkedExamplesOfBothVariants) {
  struct Case {
    const VariantProfile* profile;
    std::vector<int> before;
    Bytes frame;
    std::vector<int> after;
    Bytes answer;
  };
  const Case cases[] = {
      {&kVariantA,
       {0, 1, 0, 1},
       {0x44, 0x4F, 0x35, 0x30, 0xC8},
       {1, 0, 1, 0},
       {0x64, 0x6F, 0x25, 0x20, 0xC8}},
      {&kVariantA,
       {1, 0, 1, 0},
       {0x44, 0x4B, 0x32, 0x36, 0x30, 0x30, 0xC8},
       {1, 1, 0, 0},
       {0x64, 0x6B, 0x23, 0x20, 0xC8}},
      {&kVariantB,
       {1, 1, 1, 1, 1, 1, 1, 1},
       {0x44, 0x4F, 0x3A, 0x36, 0xC8},
       {0, 1, 0, 1, 0, 1, 1, 0},
       {0x64, 0x6F, 0x2A, 0x26, 0xC8}},
      {&kVariantB,
       {0, 1, 0, 1, 0, 1, 1, 0},
       {0x44, 0x4B, 0x30, 0x30, 0x3F, 0x31, 0xC8},
       {0, 1, 0, 1, 1, 1, 1, 0},
       {0x64, 0x6B, 0x2A, 0x27, 0xC8}},
  };
  for (const Case& c : cases) {
    Connection conn(*c.profile);
    for (std::size_t i = 0; i < c.before.size(); ++i) conn.inputs[i] = c.before[i];
    Bytes answer = conn.feed(c.frame);
    EXPECT_EQ(hex(answer), hex(c.answer)) << c.profile->programName << " frame " << hex(c.frame);
    EXPECT_EQ(conn.states(), c.after) << c.profile->programName << " frame " << hex(c.frame);
  }
}

TEST(FrameCodec, ShortAndOddFrames) {
  // 'D' 'O' then the terminator: byte 2 is 0xC8 itself, whose low nibble 8 turns DI4 on.
  Connection a(kVariantA);
  EXPECT_EQ(hex(a.feed({0x44, 0x4F, 0xC8})), "64 6F 28 20 C8");
  EXPECT_EQ(a.states(), (std::vector<int>{0, 0, 0, 1}));

  // High nibbles carry nothing: 0x35 and 0xF5 decode alike.
  Connection b(kVariantA);
  EXPECT_EQ(hex(b.feed({0x44, 0x4F, 0xF5, 0x00, 0xC8})), "64 6F 25 20 C8");

  // Variant A reads byte 3 but never reports DI5..DI8: the second state byte stays a space.
  Connection c(kVariantA);
  EXPECT_EQ(hex(c.feed({0x44, 0x4F, 0x30, 0x3F, 0xC8})), "64 6F 20 20 C8");

  // A DK frame with mask 0 changes nothing, repaints nothing, and is still answered.
  Connection d(kVariantB);
  d.setInputs({1, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_EQ(hex(d.feed({0x44, 0x4B, 0x3F, 0x30, 0x3F, 0x30, 0xC8})), "64 6B 21 28 C8");
  EXPECT_EQ(d.states(), (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(d.lastRepaint, 0u) << "mask 0 must repaint no lamp";
}

TEST(FrameCodec, RepaintsOnlyTheLampsTheFrameConcerns) {
  Connection a(kVariantA);
  a.feed({0x44, 0x4F, 0x30, 0x30, 0xC8});
  EXPECT_EQ(a.lastRepaint, 0x0Fu) << "a DO frame repaints every lamp of the variant";
  Connection b(kVariantB);
  b.feed({0x44, 0x4B, 0x30, 0x35, 0x30, 0x32, 0xC8});
  EXPECT_EQ(b.lastRepaint, 0x25u) << "a DK frame repaints only its masked channels";
}

TEST(FrameCodec, OtherKindsChangeNothingAndAreNotAnswered) {
  Connection a(kVariantB);
  a.setInputs({1, 0, 1, 0, 1, 0, 1, 0});
  EXPECT_TRUE(a.feed({0x41, 0x42, 0xC8}).empty());
  EXPECT_TRUE(a.feed({0xC8}).empty()) << "a lone terminator is no frame";
  EXPECT_TRUE(a.feed({0x44, 0x41, 0x31, 0xC8}).empty());
  EXPECT_EQ(a.states(), (std::vector<int>{1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(a.frames, 3);
  // The next frame on the same connection is cut from position 0 and decoded normally.
  EXPECT_EQ(hex(a.feed({0x44, 0x4F, 0x31, 0x30, 0xC8})), "64 6F 21 20 C8");
}

TEST(FrameCodec, BackToBackFramesInOneBuffer) {
  Connection a(kVariantA);
  Bytes answers = a.feed({0x44, 0x4F, 0x31, 0x30, 0xC8, 0x44, 0x4F, 0x30, 0x30, 0xC8});
  EXPECT_EQ(hex(answers), "64 6F 21 20 C8 64 6F 20 20 C8");
  EXPECT_EQ(a.states()[0], 0) << "the later frame wins: DI1 ends off";
}

TEST(FrameCodec, LongFramesWrapAtThirtyTwoBytes) {
  // 32 filler bytes, then a DO frame: the frame lands at offsets 0..4 after the wrap.
  Bytes stream(32, 0x11);
  stream.insert(stream.end(), {0x44, 0x4F, 0x33, 0x30, 0xC8});
  Connection a(kVariantA);
  EXPECT_EQ(hex(a.feed(stream)), "64 6F 23 20 C8");
  EXPECT_EQ(a.frames, 1);

  // 33 filler bytes: after the wrap offset 0 holds filler and the frame is refused.
  Bytes shifted(33, 0x11);
  shifted.insert(shifted.end(), {0x44, 0x4F, 0x33, 0x30, 0xC8});
  Connection b(kVariantA);
  EXPECT_TRUE(b.feed(shifted).empty());
  EXPECT_EQ(b.states(), (std::vector<int>{0, 0, 0, 0}));
}

TEST(FrameCodec, BufferKeepsBytesOfEarlierFrames) {
  // A DK frame cut short after 'D' 'K' is decoded over what the previous frame left at
  // offsets 3..5.
  Connection a(kVariantA);
  a.feed({0x44, 0x4F, 0x33, 0x30, 0xC8});
  // 0x44 0x4B 0xC8 sits at 0..2: value nibble 8 (from 0xC8), mask nibble 0 (the old 0x30).
  EXPECT_EQ(hex(a.feed({0x44, 0x4B, 0xC8})), "64 6B 23 20 C8");
  EXPECT_EQ(a.states(), (std::vector<int>{1, 1, 0, 0}))
      << "mask 0 from the old byte 3 leaves every state as the DO frame set it";
}

}  // namespace
}  // namespace dravik
