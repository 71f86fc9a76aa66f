#include "platform/codepage.h"
#include "platform/portable.h"
#include "platform/simd.h"
#include "platform/unicode.h"
#include "text/Encoding.h"
#include "text/Scan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace iniplugin::text {
namespace {

// Every length, start alignment and place of the zero, so that the vector steps, the word
// steps and the tail each meet it (and bytes with the high bit set never pass for one),
// with the SSE2 steps and without.
TEST(EncodingTest, ZeroByteScanFindsItAnywhere) {
  std::string buffer(96, '\x80');
  for (std::size_t offset = 0; offset < 32; ++offset) {
    platform::UseWideInstructions(offset < 16);
    for (std::size_t length = 0; offset + length <= buffer.size(); ++length) {
      const char* begin = buffer.data() + offset;
      EXPECT_FALSE(HasZeroByte(begin, begin + length));
      for (std::size_t at = 0; at < length; ++at) {
        buffer[offset + at] = '\0';
        EXPECT_TRUE(HasZeroByte(begin, begin + length)) << offset << " " << length << " " << at;
        buffer[offset + at] = static_cast<char>(at % 2 ? '\x01' : '\xFF');
      }
    }
  }
  platform::UseWideInstructions(true);
}

// The vector marks and searches agree with the plain ones wherever a unit stands, also
// for units that only look like a stop to a careless narrowing (0x0A0A, 0xFF0A, 0x7F).
TEST(EncodingTest, VectorMarksAgreeWithPlainOnes) {
  const std::u16string units = u"\r\n=a\u0A0A\uFF0A\u007F\u0080\u3D00";
  std::u16string text(kMarkBlock + 9, u'x');
  text += u'\0';
  std::uint32_t seed = 1;
  for (int round = 0; round < 2000; ++round) {
    for (char16_t& unit : text) {
      seed = seed * 1103515245u + 12345u;
      unit = (seed >> 16) % 3 == 0 ? units[(seed >> 20) % (units.size() + 1)] : u'k';
    }
    const char16_t* const p = text.data();
    const char16_t* const end = p + text.size();
    platform::UseWideInstructions(false);
    const UnitMarks plain = MarkUnits(p, kMarkBlock, u'\r', u'\n', u'\0', u'=');
    const char16_t* const plainStop = FindAnyOf3(p + round % 9, end, u'\r', u'\n', u'\0');
    const char16_t* const plainSign = FindUnit(p + round % 9, end, u'=');
    platform::UseWideInstructions(true);
    const UnitMarks wide = MarkUnits(p, kMarkBlock, u'\r', u'\n', u'\0', u'=');
    ASSERT_EQ(wide.stops, plain.stops) << round;
    ASSERT_EQ(wide.signs, plain.signs) << round;
    ASSERT_EQ(FindAnyOf3(p + round % 9, end, u'\r', u'\n', u'\0'), plainStop) << round;
    ASSERT_EQ(FindUnit(p + round % 9, end, u'='), plainSign) << round;
    ASSERT_EQ(LineStopFinder(p, end).Next(p + round % 9), plainStop) << round;
  }
}

// Both ways, on the SSE2 paths and the plain ones; runs of ASCII long enough for the SSE2
// steps, with a character of each length at every place in a step.
TEST(EncodingTest, Utf8RoundTripsEveryPlane) {
  const std::u16string run(21, u'k');
  const std::string runBytes(21, 'k');
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"a\u00E9\u20AC\U0001F600z", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"},
      {run + u"\u00E9" + run + u"\U0001F600\u007F" + run + u"\u20AC",
       runBytes + "\xC3\xA9" + runBytes + "\xF0\x9F\x98\x80\x7F" + runBytes + "\xE2\x82\xAC"},
  };
  for (const bool wide : {false, true}) {
    platform::UseWideInstructions(wide);
    for (const auto& [text, bytes] : cases) {
      // Each character at every place in a sixteen-unit step.
      for (std::size_t shift = 0; shift < 16; ++shift) {
        SCOPED_TRACE(std::to_string(shift) + (wide ? ", SSE2" : ""));
        const std::u16string shifted = run.substr(0, shift) + text;
        const std::string shiftedBytes = runBytes.substr(0, shift) + bytes;
        EXPECT_EQ(platform::Utf16ToUtf8(shifted), shiftedBytes);
        EXPECT_EQ(platform::Utf8ToUtf16(shiftedBytes), shifted);
      }
    }
  }
  platform::UseWideInstructions(true);
}

TEST(EncodingTest, Utf8RejectsMalformedInput) {
  for (const char* bad : {"\x80", "\xC3", "\xE2\x82", "\xF8\x88\x80\x80\x80", "\xF4\x90\x80\x80",
                          "\xC1\xBF", "\xE0\x80\xAF", "\xED\xBF\xBF"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(platform::Utf8ToUtf16(bad).has_value());
  }
}

TEST(EncodingTest, LoneSurrogateBecomesReplacementInUtf8) {
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  const std::u16string late = std::u16string(20, u'k') + char16_t(0xDC00) + u"k";
  EXPECT_EQ(platform::Utf16ToUtf8(late), std::string(20, 'k') + "\xEF\xBF\xBDk");
}

TEST(EncodingTest, DecodeFileChoosesTheFormByMark) {
  EXPECT_EQ(DecodeFile(std::string_view("\xFF\xFE" "a\0", 4))->form, Form::Utf16);
  EXPECT_EQ(DecodeFile("\xEF\xBB\xBF" "a")->form, Form::Utf8);
  EXPECT_EQ(DecodeFile("a")->form, Form::Ansi);
  EXPECT_EQ(DecodeFile("\xEF\xBB")->form, Form::Ansi);  // a partial mark is ANSI text
  EXPECT_EQ(EncodeText(Form::Utf16, u"a\u4E2D"), std::string("a\0\x2D\x4E", 4));
}

// Decoding a file fed in pieces of any size gives what decoding it whole gives: pieces
// that cut a mark, a CR LF, a UTF-8 sequence or a UTF-16 unit in two change nothing, and a
// refusal found in a late piece is still a refusal. The SSE2 paths give what the plain
// ones give, on runs of ASCII long enough for them.
TEST(EncodingTest, PiecesDecodeAsTheWhole) {
  const std::string ascii(21, 'k');
  const std::vector<std::pair<const char*, std::string>> files = {
      {"ANSI", "[S]\r\na=\xE9\x80\r\nb=2"},
      {"UTF-16", "\xFF\xFE" + std::string("[\0S\0]\0\r\0\n\0" "a\0=\0\x2D\x4E", 16)},
      {"UTF-8", "\xEF\xBB\xBF[S]\r\na=\xC3\xA9\xF0\x9F\x98\x80\r\nb=\xE2\x82\xAC"},
      {"mark alone", "\xEF\xBB\xBF"},
      {"part of a mark", "\xFF"},
      {"NUL late in ANSI", std::string("[S]\r\na=1\r\nb=\0", 14)},
      {"odd UTF-16", "\xFF\xFE" "a\0b"},
      {"big-endian mark", "\xFE\xFF\0a"},
      {"UTF-8 cut at the end", "\xEF\xBB\xBF" "a=\xE2\x82"},
      {"UTF-8 broken across a line", "\xEF\xBB\xBF" "a=\xC3\r\n\xA9"},
      {"UTF-8, long runs", "\xEF\xBB\xBF[" + ascii + "\xC3\xA9" + ascii + "]\r\n" + ascii +
                              "=\xF0\x9F\x98\x80\xE2\x82\xAC" + ascii + "\xC3\xA9\r\n" + ascii},
      {"UTF-8 broken after a long run", "\xEF\xBB\xBF" + ascii + "=\xE0\x80\xAF" + ascii},
      {"UTF-8 cut after a long run", "\xEF\xBB\xBF" + ascii + ascii + "\xE2\x82"},
      {"ANSI, long runs", "[" + ascii + "\x80" + ascii + "]\r\n" + ascii + "=\xE9\xFF\xA0" +
                              ascii + "\x9F" + ascii + "\x81\xC0\r\n" + ascii + "\x8D"},
  };
  for (const auto& [name, bytes] : files) {
   for (const Losses losses : {Losses::Refuse, Losses::Read}) {
    platform::UseWideInstructions(false);
    const std::optional<DecodedText> whole = DecodeFile(bytes, losses);
    ASSERT_TRUE(whole || losses == Losses::Refuse);
    for (const bool wide : {false, true}) {
      platform::UseWideInstructions(wide);
      for (std::size_t piece = 1; piece <= bytes.size(); ++piece) {
        SCOPED_TRACE(std::string(name) + (wide ? ", SSE2" : "") + ", pieces of " +
                     std::to_string(piece) + (losses == Losses::Read ? ", read on" : ""));
        std::u16string text;
        Decoder decoder(text, losses);
        bool ok = true;
        for (std::size_t at = 0; ok && at < bytes.size(); at += piece) {
          ok = decoder.Feed(std::string_view(bytes).substr(at, piece));
        }
        ok = ok && decoder.Finish();
        ASSERT_EQ(ok, whole.has_value());
        if (!ok) continue;
        EXPECT_EQ(text, whole->text);
        EXPECT_EQ(decoder.Form(), whole->form);
        EXPECT_EQ(decoder.Marked(), whole->marked);
        EXPECT_EQ(decoder.Refusal(), whole->refusal);
      }
    }
   }
  }
  platform::UseWideInstructions(true);
}

// The encoder converts in blocks; a surrogate pair that straddles a block edge is still one
// character, encoded as the code page or UTF-8 encodes the whole text at once.
TEST(EncodingTest, PairAcrossABlockEdgeStaysOneCharacter) {
  for (std::size_t lead = 16380; lead <= 16386; ++lead) {
    SCOPED_TRACE(lead);
    const std::u16string text = std::u16string(lead, u'a') + u"\U0001F600" + u"z";
    std::string ansi, utf8;
    Encoder toAnsi(Form::Ansi, ansi), toUtf8(Form::Utf8, utf8);
    for (std::size_t at = 0; at < text.size(); at += 7) {
      toAnsi.Add(std::u16string_view(text).substr(at, 7));
      toUtf8.Add(std::u16string_view(text).substr(at, 7));
    }
    toAnsi.Finish();
    toUtf8.Finish();
    const std::string wholeAnsi = platform::Utf16ToAnsi(text);
    ASSERT_EQ(ansi.size(), wholeAnsi.size());
    EXPECT_EQ(ansi.substr(lead - 1), wholeAnsi.substr(lead - 1));
    ASSERT_EQ(utf8.size(), lead + 5);
    EXPECT_EQ(utf8.substr(lead - 1), "a\xF0\x9F\x98\x80z");
  }
}

}  // namespace
}  // namespace iniplugin::text
