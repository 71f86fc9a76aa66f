#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/portable.h"

namespace iniplugin {
namespace {

std::string AllBytesButNul() {
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(CodePageTest, PortableKeepsEveryByte) {
  const std::string bytes = AllBytesButNul();
  const std::u16string text = portable::AnsiToUtf16(bytes);
  EXPECT_EQ(text[0x80 - 1], u'\u20AC');
  EXPECT_EQ(text[0x81 - 1], u'\u0081');
  EXPECT_EQ(text[0x9F - 1], u'\u0178');
  EXPECT_EQ(text[0xE9 - 1], u'\u00E9');
  EXPECT_EQ(portable::Utf16ToAnsi(text), bytes);
}

TEST(CodePageTest, PortableWritesDefaultCharacterForWhatItCannotHold) {
  EXPECT_EQ(portable::Utf16ToAnsi(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(portable::Utf16ToAnsi(u"\U0001F600"), "?");
}

// Where the system's ANSI code page is Windows-1252, the stand-in must agree with it byte
// for byte.
TEST(CodePageTest, AgreesWithTheSystemOn1252) {
  const std::string bytes = AllBytesButNul();
  const std::u16string system = platform::AnsiToUtf16(bytes);
  if (system != portable::AnsiToUtf16(bytes) && system[0xE9 - 1] != u'\u00E9') {
    GTEST_SKIP() << "the system's ANSI code page is not Windows-1252";
  }
  EXPECT_EQ(system, portable::AnsiToUtf16(bytes));
  EXPECT_EQ(platform::Utf16ToAnsi(system), bytes);
}

}  // namespace
}  // namespace iniplugin
