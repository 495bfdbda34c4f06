// UTF-8/UTF-16 round trips, invalid input, and record text read as UTF-8 or GB18030.
#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(TextEncoding, Utf8AndUtf16RoundTripIncludingSurrogatePairs) {
  const std::string text = "A\xC3\xA9\xE7\xB2\xA4\xF0\x9F\x9A\x8C";  // A é 粤 🚌
  const std::u16string wide = Utf8ToUtf16(text);
  ASSERT_EQ(wide.size(), 5u);
  EXPECT_EQ(wide[2], 0x7CA4);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(TextEncoding, InvalidInputBecomesReplacementCharacters) {
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80")) << "overlong NUL";
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")) << "encoded surrogate";
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextEncoding, RecordTextIsUtf8OrGb18030) {
  // "粤B12345" in GB18030: D4C1 then ASCII.
  EXPECT_EQ(RecordTextToUtf8("\xD4\xC1" "B12345"), "\xE7\xB2\xA4" "B12345");
  EXPECT_EQ(RecordTextToUtf8("\xE7\xB2\xA4" "B12345"), "\xE7\xB2\xA4" "B12345");
  const auto back = Utf8ToGb18030("\xE7\xB2\xA4");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, "\xD4\xC1");
  // A lone lead byte at the end is valid in neither: replaced, never dropped silently.
  EXPECT_EQ(RecordTextToUtf8("ab\x81"), "ab\xEF\xBF\xBD");
}

}  // namespace
