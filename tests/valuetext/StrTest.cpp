#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "support/Files.h"
#include "valuetext/Str.h"

namespace iniplugin::valuetext {
namespace {

static_assert(std::has_virtual_destructor_v<Str>);

using test::Narrow;

struct FormatRow {
  std::u16string_view pattern;
  std::vector<Str::Arg> args;
  std::u16string_view expected;
};

TEST(StrTest, FormatFollowsThePrintfRulesTheLayoutsUse) {
  const FormatRow rows[] = {
      {u"%02d", {5}, u"05"},
      {u"%02d", {0}, u"00"},
      {u"%02d", {123}, u"123"},      // wider than its width: written whole
      {u"%02d", {-1}, u"-1"},        // the sign counts towards the width
      {u"%04d", {-1}, u"-001"},      // zeros go between the sign and the digits
      {u"%04d", {12345}, u"12345"},
      {u"%04d", {2005}, u"2005"},
      {u"%d", {INT_MIN}, u"-2147483648"},
      {u"%4d|%-4d|", {42, 42}, u"  42|42  |"},
      {u"%-04d|", {7}, u"7   |"},     // '-' wins over '0'
      {u"%s", {u""}, u""},
      {u"[%5s][%-5s][%05s]", {u"ab", u"ab", u"ab"}, u"[   ab][ab   ][   ab]"},
      {u"%s %02d, %04d", {u"Nov", 23, 2005}, u"Nov 23, 2005"},
      {u"100%% %d%%", {50}, u"100% 50%"},
      {u"no conversions", {}, u"no conversions"},
      {u"", {}, u""},
  };
  for (const FormatRow& row : rows) {
    Str text(u"previous text");
    text.FormatList(row.pattern, row.args);
    EXPECT_EQ(Narrow(text.Text()), Narrow(row.expected)) << "pattern " << Narrow(row.pattern);
  }
}

TEST(StrTest, FormatReplacesTheWholeText) {
  Str text(u"a much longer previous text");
  text.Format(u"%02d:%02d", 7, 5);
  EXPECT_EQ(text.Text(), u"07:05");
  EXPECT_EQ(std::u16string(text.CStr()), u"07:05");
  Str empty;
  EXPECT_EQ(empty.Text(), u"");
  EXPECT_EQ(*empty.CStr(), u'\0');
}

TEST(StrTest, PatternThatDoesNotFitItsArgumentsThrowsAndKeepsTheText) {
  const FormatRow rows[] = {
      {u"%d %d", {1}, {}},        // too few
      {u"%d", {1, 2}, {}},        // too many
      {u"%d", {u"text"}, {}},     // a text for a number
      {u"%s", {1}, {}},           // a number for a text
      {u"%x", {1}, {}},           // a conversion the layouts do not use
      {u"ends in %", {}, {}},
      {u"ends in %04", {1}, {}},
  };
  for (const FormatRow& row : rows) {
    Str text(u"kept");
    EXPECT_THROW(text.FormatList(row.pattern, row.args), std::invalid_argument)
        << "pattern " << Narrow(row.pattern);
    EXPECT_EQ(text.Text(), u"kept");
  }
}

}  // namespace
}  // namespace iniplugin::valuetext
