// Breaking Automation dates into calendar fields: the portable VariantTimeToSystemTime
// against a table taken from the system, and in the Windows build the system against the
// same table. Every field is compared, the weekday and milliseconds included.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/AutomationApi.h"

namespace iniplugin {
namespace {

using namespace test;

struct Row {
  double date;
  bool ok;
  WORD year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0,
       milliseconds = 0;
};

const Row kRows[] = {
    // whole days; the calendar has no 29 February 1900
    {0.0, true, 1899, 12, 6, 30, 0, 0, 0, 0},
    {1.0, true, 1899, 12, 0, 31, 0, 0, 0, 0},
    {-1.0, true, 1899, 12, 5, 29, 0, 0, 0, 0},
    {2.0, true, 1900, 1, 1, 1, 0, 0, 0, 0},
    {60.0, true, 1900, 2, 3, 28, 0, 0, 0, 0},
    {61.0, true, 1900, 3, 4, 1, 0, 0, 0, 0},
    {45351.0, true, 2024, 2, 4, 29, 0, 0, 0, 0},
    {36526.0, true, 2000, 1, 6, 1, 0, 0, 0, 0},
    {-36522.0, true, 1800, 1, 3, 1, 0, 0, 0, 0},
    // times of day; a negative date counts its time forward from midnight
    {0.5, true, 1899, 12, 6, 30, 12, 0, 0, 0},
    {-0.5, true, 1899, 12, 6, 30, 12, 0, 0, 0},
    {-1.25, true, 1899, 12, 5, 29, 6, 0, 0, 0},
    {-2.75, true, 1899, 12, 4, 28, 18, 0, 0, 0},
    {45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0, true, 2024, 3, 2, 5, 14, 7, 9, 0},
    {38477.5432060185, true, 2005, 5, 4, 5, 13, 2, 13, 0},
    {-500000.75, true, 531, 1, 2, 16, 18, 0, 0, 0},
    // fractions of a second round to the nearest second, into the next day if need be;
    // the weekday stays that of the day before the rounding
    {45356.99999, true, 2024, 3, 2, 5, 23, 59, 59, 0},
    {45356.999999, true, 2024, 3, 2, 6, 0, 0, 0, 0},
    {0.99999999, true, 1899, 12, 6, 31, 0, 0, 0, 0},
    {-0.99999999, true, 1899, 12, 6, 31, 0, 0, 0, 0},
    {-1.99999999, true, 1899, 12, 5, 30, 0, 0, 0, 0},
    {45322.9999999, true, 2024, 2, 3, 1, 0, 0, 0, 0},
    {45657.9999999, true, 2025, 1, 2, 1, 0, 0, 0, 0},
    {0.0000057870370370, true, 1899, 12, 6, 30, 0, 0, 1, 0},
    {0.000005, true, 1899, 12, 6, 30, 0, 0, 0, 0},
    {45356.00000578, true, 2024, 3, 2, 5, 0, 0, 0, 0},
    {45356.00000579, true, 2024, 3, 2, 5, 0, 0, 1, 0},
    {-1.000005, true, 1899, 12, 5, 29, 0, 0, 0, 0},
    {-1.0000058, true, 1899, 12, 5, 29, 0, 0, 1, 0},
    {-0.0000058, true, 1899, 12, 6, 30, 0, 0, 1, 0},
    {0.123456789, true, 1899, 12, 6, 30, 2, 57, 47, 0},
    // the edges of the accepted range
    {-657434.0, true, 100, 1, 5, 1, 0, 0, 0, 0},
    {-657434.999, true, 100, 1, 5, 1, 23, 58, 34, 0},
    {-657434.9999999, true, 100, 1, 5, 2, 0, 0, 0, 0},
    {-657435.0, false},
    {-657434.99999999994, true, 100, 1, 5, 2, 0, 0, 0, 0},
    {2958465.0, true, 9999, 12, 5, 31, 0, 0, 0, 0},
    {2958465.99999, true, 9999, 12, 5, 31, 23, 59, 59, 0},
    {2958465.999999999, true, 10000, 1, 5, 1, 0, 0, 0, 0},
    {2958466.0, false},
    {2958465.9999999995, true, 10000, 1, 5, 1, 0, 0, 0, 0},
    {1e10, false},
    {-1e10, false},
    {std::numeric_limits<double>::infinity(), false},
    {-std::numeric_limits<double>::infinity(), false},
};

std::string Describe(const SYSTEMTIME& st) {
  std::ostringstream out;
  out << st.wYear << "-" << st.wMonth << "-" << st.wDay << " (weekday " << st.wDayOfWeek << ") "
      << st.wHour << ":" << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds;
  return out.str();
}

::testing::AssertionResult Breaks(const AutomationApi& api, const Row& row) {
  SYSTEMTIME actual;
  std::memset(&actual, 0xCC, sizeof actual);  // a failed call must leave it so
  const bool ok = api.timeToSystemTime(row.date, &actual) != 0;
  SYSTEMTIME expected;
  std::memset(&expected, 0xCC, sizeof expected);
  if (row.ok) {
    expected = {row.year, row.month, row.dayOfWeek, row.day,
                row.hour, row.minute, row.second, row.milliseconds};
  }
  if (ok == row.ok && std::memcmp(&actual, &expected, sizeof actual) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << api.name << ", date " << std::setprecision(17) << row.date << ": expected "
         << (row.ok ? Describe(expected) : "failure") << ", got "
         << (ok ? Describe(actual) : "failure") << (ok ? "" : " with record " + Describe(actual));
}

class VariantTimeToSystemTimeTest : public ::testing::TestWithParam<const AutomationApi*> {};

TEST_P(VariantTimeToSystemTimeTest, FieldsOfEveryDate) {
  for (const Row& row : kRows) EXPECT_TRUE(Breaks(*GetParam(), row));
}

INSTANTIATE_TEST_SUITE_P(Apis, VariantTimeToSystemTimeTest,
                         ::testing::Values(&test::kSystemApi, &test::kPortableApi),
                         [](const auto& info) { return std::string(info.param->name); });

// Under Wine the system rolls 30 November 23:59:59.9 over to 1 January of the next year
// and reads NaN as 30 December 1899; the stand-in gives 1 December and refuses NaN.
TEST(PortableVariantTimeToSystemTimeTest, SoundWhereTheSystemIsNot) {
  const Row rows[] = {
      {45626.9999999, true, 2024, 12, 6, 1, 0, 0, 0, 0},
      {-30.9999999, true, 1899, 12, 4, 1, 0, 0, 0, 0},
      {std::numeric_limits<double>::quiet_NaN(), false},
  };
  for (const Row& row : rows) EXPECT_TRUE(Breaks(test::kPortableApi, row));
  EXPECT_EQ(portable::VariantTimeToSystemTime(1.0, nullptr), 0);
}

}  // namespace
}  // namespace iniplugin
