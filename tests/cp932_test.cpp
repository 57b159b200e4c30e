// The CP932 codec and the core's Japanese texts.
#include "platform/cp932.h"

#include <gtest/gtest.h>

#include "monitor/messages.h"

namespace dravik {
namespace {

TEST(Cp932, EveryMessageRoundTripsAndIsReallyCp932) {
  const auto& sources = messageSources();
  ASSERT_GE(sources.size(), 20u);
  for (std::string_view utf8 : sources) {
    std::string bytes = cp932::fromUtf8(utf8);
    EXPECT_EQ(bytes.find('?'), std::string::npos) << "not representable in CP932: " << utf8;
    EXPECT_EQ(cp932::toUtf8(bytes), utf8) << "round trip changed the text";
  }
  // Known bytes, so a codec that merely copied UTF-8 through would fail.
  EXPECT_EQ(messages().statusStopped, "\x92\xE2\x8E\x7E\x92\x86");  // 停止中
  EXPECT_EQ(messages().sourceAddressFormat, "\x90\xDA\x91\xB1\x8C\xB3 : %s");
}

TEST(Cp932, LengthsCountBytes) {
  EXPECT_EQ(cp932::fromUtf8("日本語日本語日本語日").size(), 20u) << "10 kanji are 20 bytes";
  EXPECT_EQ(cp932::fromUtf8("ｱｲｳ").size(), 3u) << "half-width kana are one byte each";
  EXPECT_EQ(cp932::fromUtf8("DI1").size(), 3u);
  // Backslash and tilde keep their ASCII values, so paths survive the trip.
  EXPECT_EQ(cp932::fromUtf8("C:\\a~b"), "C:\\a~b");
  EXPECT_EQ(cp932::toUtf8("C:\\a~b"), "C:\\a~b");
}

TEST(Cp932, BadInputIsReplacedNotLost) {
  EXPECT_EQ(cp932::fromUtf8("a\xF0\x9F\x98\x80z"), "a?z") << "an emoji has no CP932 form";
  EXPECT_EQ(cp932::toUtf8("a\x81 z"), "a\xEF\xBF\xBD z") << "0x81 needs a trail byte";
}

TEST(Cp932, CutDropsAHalfCharacter) {
  const std::string kanji = cp932::fromUtf8("日本語日本語日本語日本");  // 22 bytes
  EXPECT_EQ(cp932::cutToBytes(kanji, 20), kanji.substr(0, 20));
  const std::string mixed = "A" + kanji;  // a kanji straddles byte 20
  EXPECT_EQ(cp932::cutToBytes(mixed, 20), mixed.substr(0, 19));
  EXPECT_EQ(cp932::cutToBytes("0123456789012345678901234", 20), "01234567890123456789");
  EXPECT_EQ(cp932::cutToBytes("short", 20), "short");
  EXPECT_EQ(cp932::cutToBytes("AB\x83", 20), "AB") << "a lone lead byte at the end is no character";
  // Half-width kana (0xA1-0xDF) are single bytes and never lead bytes.
  const std::string kana(25, '\xB1');
  EXPECT_EQ(cp932::cutToBytes(kana, 20).size(), 20u);
}

}  // namespace
}  // namespace dravik
