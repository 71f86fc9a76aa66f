#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/portable.h"
#include "platform/simd.h"

namespace iniplugin {
namespace {

std::string AllBytesButNul() {
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

// Both ways, on the wide path and on the plain one that processors without SSE2 take.
TEST(CodePageTest, PortableKeepsEveryByte) {
  for (const bool wide : {true, false}) {
    platform::UseWideInstructions(wide);
    const std::string bytes = AllBytesButNul();
    const std::u16string text = portable::AnsiToUtf16(bytes);
    EXPECT_EQ(text[0x80 - 1], u'\u20AC');
    EXPECT_EQ(text[0x81 - 1], u'\u0081');
    EXPECT_EQ(text[0x9F - 1], u'\u0178');
    EXPECT_EQ(text[0xE9 - 1], u'\u00E9');
    EXPECT_EQ(portable::Utf16ToAnsi(text), bytes) << wide;
  }
  platform::UseWideInstructions(true);
}

TEST(CodePageTest, PortableWritesDefaultCharacterForWhatItCannotHold) {
  for (const bool wide : {true, false}) {
    platform::UseWideInstructions(wide);
    EXPECT_EQ(portable::Utf16ToAnsi(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(portable::Utf16ToAnsi(u"\U0001F600"), "?");
    // A pair across the end of an eight-unit step, and a stand-in after a long plain run.
    EXPECT_EQ(portable::Utf16ToAnsi(u"abcdefg\U0001F600hijklmnopq\u00E9\u20ACrstuvwxyz\u4E2D"),
              "abcdefg?hijklmnopq\xE9\x80rstuvwxyz?");
    // U+0080 is no byte of the code page, though it is below U+0100.
    EXPECT_EQ(portable::Utf16ToAnsi(u"abcdefgh\u0080bcdefgh12345678"), "abcdefgh?bcdefgh12345678");
  }
  platform::UseWideInstructions(true);
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
