#include "inidoc/TextForm.h"
#include "platform/portable.h"

#include <gtest/gtest.h>

namespace iniplugin::inidoc {
namespace {

TEST(TextFormTest, Utf8RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00E9\u20AC\U0001F600z";
  const std::string bytes = portable::Utf16ToUtf8(text);
  EXPECT_EQ(bytes, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(portable::Utf8ToUtf16(bytes), text);
}

TEST(TextFormTest, Utf8RejectsMalformedInput) {
  for (const char* bad : {"\x80", "\xC3", "\xE2\x82", "\xF8\x88\x80\x80\x80", "\xF4\x90\x80\x80",
                          "\xC1\xBF", "\xE0\x80\xAF", "\xED\xBF\xBF"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(portable::Utf8ToUtf16(bad).has_value());
  }
}

TEST(TextFormTest, LoneSurrogateBecomesReplacementInUtf8) {
  EXPECT_EQ(portable::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextFormTest, DecodeFileChoosesTheFormByMark) {
  EXPECT_EQ(DecodeFile(std::string_view("\xFF\xFE" "a\0", 4))->form, TextForm::Utf16);
  EXPECT_EQ(DecodeFile("\xEF\xBB\xBF" "a")->form, TextForm::Utf8);
  EXPECT_EQ(DecodeFile("a")->form, TextForm::Ansi);
  EXPECT_EQ(DecodeFile("\xEF\xBB")->form, TextForm::Ansi);  // a partial mark is ANSI text
  EXPECT_EQ(EncodeText(TextForm::Utf16, u"a\u4E2D"), std::string("a\0\x2D\x4E", 4));
}

}  // namespace
}  // namespace iniplugin::inidoc
