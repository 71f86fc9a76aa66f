#include <cmath>

#include "platform/portable.h"

namespace iniplugin::portable {

namespace {

// Dates the system accepts lie strictly between these day counts: 1 January 100 up to the
// end of 31 December 9999. The last half second of that day still rounds to 1 January
// 10000, as it does on Windows.
constexpr double kBeforeFirstDay = -657435.0;
constexpr double kAfterLastDay = 2958466.0;

// Fractions of a day that fall this close below a half second round up, so that a time
// built in floating point (12:00:29.9999999 meant as 12:00:30 minus a rounding error)
// reads as the second it was meant to be.
constexpr double kRoundingTolerance = 1e-11;

constexpr long long kSecondsPerDay = 86400;

// Day 0 of the Automation calendar, 30 December 1899, counted from 1 January 1970.
constexpr long long kDay0FromUnixEpoch = -25569;

struct CivilDate {
  long long year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day counted from 1 January 1970. Works in 400-year
// eras that start on 1 March, so that the leap day is the last day of its era-year.
CivilDate CivilFromDays(long long days) {
  days += 719468;  // days from 1 March of year 0 to 1 January 1970
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthFromMarch = (5 * dayOfYear + 2) / 153;
  const unsigned day = static_cast<unsigned>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const unsigned month =
      static_cast<unsigned>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

// 0 is Sunday; day 0 of the calendar was a Saturday.
WORD DayOfWeek(long long day) { return static_cast<WORD>(((day % 7) + 7 + 6) % 7); }

}  // namespace

INT VariantTimeToSystemTime(DOUBLE time, SYSTEMTIME* st) {
  if (!st) return 0;
  // Written as a negated range test so that NaN fails too.
  if (!(time > kBeforeFirstDay && time < kAfterLastDay)) return 0;

  const double whole = std::trunc(time);
  long long day = static_cast<long long>(whole);
  // The time of day counts forward from midnight for negative dates as well:
  // -1.25 is 29 December 1899 at 06:00. Subtracting the whole part is exact.
  const double fraction = std::fabs(time - whole);
  long long second = static_cast<long long>(
      std::floor((fraction + kRoundingTolerance) * kSecondsPerDay + 0.5));
  // The weekday is the whole day's, taken before the time rounds into the next day;
  // that is what the system reports.
  const WORD weekday = DayOfWeek(day);
  if (second >= kSecondsPerDay) {
    second -= kSecondsPerDay;
    ++day;
  }

  const CivilDate date = CivilFromDays(day + kDay0FromUnixEpoch);
  st->wYear = static_cast<WORD>(date.year);
  st->wMonth = static_cast<WORD>(date.month);
  st->wDayOfWeek = weekday;
  st->wDay = static_cast<WORD>(date.day);
  st->wHour = static_cast<WORD>(second / 3600);
  st->wMinute = static_cast<WORD>(second / 60 % 60);
  st->wSecond = static_cast<WORD>(second % 60);
  st->wMilliseconds = 0;  // the time is rounded to whole seconds
  return 1;
}

}  // namespace iniplugin::portable
