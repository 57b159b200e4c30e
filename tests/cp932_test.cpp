// The CP932 codec, its lead bytes and the cut of a text to whole characters.
#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "monitor/messages.h"

namespace dravik {
namespace {

TEST(Cp932, EveryMessageRoundTripsAndIsReallyCp932) {
  const auto& sources = messageSources();
  ASSERT_GE(sources.size(), 20u);
  for (std::string_view utf8 : sources)
    EXPECT_EQ(cp932::toUtf8(cp932::fromUtf8(utf8)), utf8) << "not representable in CP932";
  EXPECT_EQ(messages().statusStopped, "\x92\xE2\x8E\x7E\x92\x86");  // 停止中
  EXPECT_EQ(cp932::fromUtf8("ｱｲｳ"), "\xB1\xB2\xB3") << "half-width kana are one byte each";
  EXPECT_EQ(cp932::fromUtf8("C:\\a~b"), "C:\\a~b") << "backslash and tilde keep ASCII values";
  EXPECT_EQ(cp932::toUtf8("C:\\a~b"), "C:\\a~b");
  EXPECT_EQ(cp932::fromUtf8("a\xF0\x9F\x98\x80z"), "a?z") << "an emoji has no CP932 form";
  EXPECT_EQ(cp932::toUtf8("a\x81 z"), "a\xEF\xBF\xBD z") << "0x81 needs a trail byte";
}

// Byte 19 of a 21-byte text cut to 20 is dropped only when it is a lead byte, needing byte 20;
// a lead byte that ends a text is no character.
TEST(Cp932, LeadBytesAreExactly0x81To0x9FAnd0xE0To0xFC) {
  const std::pair<unsigned char, bool> cases[] = {
      {0x00, false}, {0x7F, false}, {0x80, false}, {0x81, true}, {0x9F, true},  {0xA0, false},
      {0xA1, false}, {0xDF, false}, {0xE0, true},  {0xFC, true}, {0xFD, false}, {0xFF, false}};
  for (const auto& [byte, lead] : cases) {
    const std::string text = std::string(19, 'n') + char(byte) + "y",
                      ending = "AB" + text.substr(19, 1);
    EXPECT_EQ(std::tuple(cp932::isLeadByte(byte), cp932::cutToBytes(text, 20),
                         cp932::cutToBytes(ending, 20)),
              std::tuple(lead, text.substr(0, lead ? 19 : 20), lead ? "AB" : ending))
        << "byte 0x" << std::hex << int(byte);
  }
}

TEST(Cp932, CutKeepsWholeCharactersUpToTheLimit) {
  const std::string kanji = cp932::fromUtf8("日本語日本語日本語日本");
  ASSERT_EQ(kanji.size(), 22u);
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {kanji, 20, kanji.substr(0, 20)},
      {"A" + kanji, 20, "A" + kanji.substr(0, 18)},
      {"0123456789012345678901234", 20, "01234567890123456789"},
      {"short", 20, "short"},
      {"\x81\x40\x81", 3, "\x81\x40"},
      {std::string(25, '\xB1'), 20, std::string(20, '\xB1')},
      {"\x82\xA0", 2, "\x82\xA0"},
      {"\x82\xA0", 1, ""},
      {"", 20, ""},
  };
  for (const auto& [text, limit, cut] : cases)
    EXPECT_EQ(cp932::cutToBytes(text, limit), cut)
        << "cut of " << testing::PrintToString(text) << " to " << limit;
}

}  // namespace
}  // namespace dravik
