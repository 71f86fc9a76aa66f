#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "support/Files.h"
#include "valuetext/FormatDate.h"
#include "valuetext/MonthTable.h"

namespace iniplugin::valuetext {
namespace {

using test::Narrow;

// Days from 30 December 1899 plus the time of day, as an Automation date.
constexpr double At(double day, int hour, int minute, int second) {
  return day + (hour * 3600 + minute * 60 + second) / 86400.0;
}

// 23 November 2005 at 14:07:09: every field has its own value (day 23, month 11, the
// two-digit year 05, 12-hour 02, minute 07, second 09), so a field in the wrong place or a
// missing zero shows.
constexpr double kNov23 = 38679;
constexpr double kSample = At(kNov23, 14, 7, 9);
constexpr double kMar5 = 45356;  // 5 March 2024

struct LayoutRow {
  double date;
  std::int32_t code;
  const char* expected;
};

const LayoutRow kLayoutRows[] = {
    // every layout code
    {kSample, 0, "Nov 23 2005 02:07 PM"},
    {kSample, 1, "11/23/05"},
    {kSample, 2, "05.11.23"},
    {kSample, 3, "23/11/05"},
    {kSample, 4, "23.11.05"},
    {kSample, 5, "23-11-05"},
    {kSample, 6, "23 Nov 05"},
    {kSample, 7, "Nov 23, 05"},
    {kSample, 10, "11-23-05"},
    {kSample, 11, "05/11/23"},
    {kSample, 12, "051123"},
    {kSample, 100, "Nov 23 2005 02:07 PM"},
    {kSample, 101, "11/23/2005"},
    {kSample, 102, "2005.11.23"},
    {kSample, 103, "23/11/2005"},
    {kSample, 104, "23.11.2005"},
    {kSample, 105, "23-11-2005"},
    {kSample, 106, "23 Nov 2005"},
    {kSample, 107, "Nov 23, 2005"},
    {kSample, 109, "Nov 23 2005 02:07:09:000 PM"},
    {kSample, 110, "11-23-2005"},
    {kSample, 111, "2005/11/23"},
    {kSample, 112, "20051123"},
    {kSample, 120, "2005-11-23"},
    {kSample, 121, "2005-11-23 14:07:09.000"},
    // every code without a layout of its own takes the fallback, with the long month name
    {kSample, 8, "23 November 2005 14:07:09:000"},
    {kSample, 13, "23 November 2005 14:07:09:000"},
    {kSample, 108, "23 November 2005 14:07:09:000"},
    {kSample, 113, "23 November 2005 14:07:09:000"},
    {kSample, 122, "23 November 2005 14:07:09:000"},
    {kSample, -1, "23 November 2005 14:07:09:000"},
    {kSample, INT_MIN, "23 November 2005 14:07:09:000"},
    // March: "Mars" in the fallback, "Mar" everywhere else
    {At(kMar5, 14, 7, 9), 999, "05 Mars 2024 14:07:09:000"},
    {At(kMar5, 14, 7, 9), 0, "Mar 05 2024 02:07 PM"},
    {At(kMar5, 14, 7, 9), 7, "Mar 05, 24"},
    {At(kMar5, 14, 7, 9), 106, "05 Mar 2024"},
    // the 12-hour layouts: PM starts at 13:00, so noon is AM; midnight is hour 00
    {At(kNov23, 12, 0, 0), 0, "Nov 23 2005 12:00 AM"},
    {At(kNov23, 12, 30, 0), 109, "Nov 23 2005 12:30:00:000 AM"},
    {At(kNov23, 0, 0, 0), 0, "Nov 23 2005 00:00 AM"},
    {At(kNov23, 0, 30, 15), 109, "Nov 23 2005 00:30:15:000 AM"},
    {At(kNov23, 13, 5, 0), 0, "Nov 23 2005 01:05 PM"},
    {At(kNov23, 23, 59, 59), 109, "Nov 23 2005 11:59:59:000 PM"},
    {At(kNov23, 0, 0, 0), 999, "23 November 2005 00:00:00:000"},
    // the system's calendar fields: negative dates, rounding, the edges of the range
    {-1.25, 121, "1899-12-29 06:00:00.000"},
    {At(kMar5, 23, 59, 59) + 0.9 / 86400, 121, "2024-03-06 00:00:00.000"},
    {-657434.0, 1, "01/01/00"},
    {-657434.0, 101, "01/01/0100"},
    {2958465.999999999, 1, "01/01/00"},
    {2958465.999999999, 101, "01/01/10000"},
    // outside the range the fields are -1, the month names empty and the marker AM
    {1e10, 0, " -1 -001 -1:-1 AM"},
    {1e10, 1, "-1/-1/-1"},
    {-1e10, 121, "-001--1--1 -1:-1:-1.000"},
    {2958466.0, 8, "-1  -001 -1:-1:-1:000"},
};

TEST(FormatDateTest, EveryLayout) {
  for (const LayoutRow& row : kLayoutRows) {
    Str out(u"previous");
    ASSERT_TRUE(FormatDate(out, row.date, row.code)) << row.date;
    EXPECT_EQ(Narrow(out.Text()), row.expected) << "date " << row.date << ", code " << row.code;
  }
}

TEST(FormatDateTest, DateZeroIsDeclinedWhateverTheCode) {
  for (std::int32_t code : {0, 1, 100, 109, 121, 8, -1}) {
    Str out(u"untouched");
    EXPECT_FALSE(FormatDate(out, 0.0, code)) << code;
    EXPECT_EQ(out.Text(), u"untouched");
  }
  // Only exactly 0.0: the smallest times of day 0 are written.
  Str out;
  EXPECT_TRUE(FormatDate(out, 1.0 / 86400, 121));
  EXPECT_EQ(Narrow(out.Text()), "1899-12-30 00:00:01.000");
}

TEST(FormatDateTest, MonthNames) {
  const char* const names[12][2] = {
      {"January", "Jan"}, {"February", "Feb"}, {"Mars", "Mar"},      {"April", "Apr"},
      {"May", "May"},     {"June", "Jun"},     {"July", "Jul"},      {"August", "Aug"},
      {"September", "Sep"}, {"October", "Oct"}, {"November", "Nov"}, {"December", "Dec"},
  };
  for (int month = 1; month <= 12; ++month) {
    EXPECT_EQ(Narrow(LongMonthName(month)), names[month - 1][0]);
    EXPECT_EQ(Narrow(ShortMonthName(month)), names[month - 1][1]);
    EXPECT_EQ(kMonthTable[static_cast<std::size_t>(month - 1)].number, month);
  }
  for (int month : {0, 13, -1}) {
    EXPECT_TRUE(LongMonthName(month).empty()) << month;
    EXPECT_TRUE(ShortMonthName(month).empty()) << month;
  }
}

}  // namespace
}  // namespace iniplugin::valuetext
