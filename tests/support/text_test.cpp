#include "support/text.h"

#include <gtest/gtest.h>

namespace lirrin {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
  const std::u16string text = u"ASCII \u00E9\u20AC \U0001F50A";
  EXPECT_EQ(ToUtf8(text), "ASCII \xC3\xA9\xE2\x82\xAC \xF0\x9F\x94\x8A");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

// Wide text is UTF-16 on Windows and code points on Linux; both give the
// same UTF-8, beyond the first plane too.
TEST(Text, WideTextToUtf8EveryPlane) {
  EXPECT_EQ(ToUtf8(std::wstring(L"/opt/\u00E9\u20AC \U0001F50A")), "/opt/\xC3\xA9\xE2\x82\xAC \xF0\x9F\x94\x8A");
}

TEST(Text, WidenKeepsLatin1CodePoints) { EXPECT_EQ(Widen("A\xE9"), u"A\u00E9"); }

}  // namespace
}  // namespace lirrin
