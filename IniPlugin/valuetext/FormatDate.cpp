#include "valuetext/FormatDate.h"

#include <array>
#include <string_view>

#include "platform/windows_types.h"
#include "valuetext/MonthTable.h"

namespace iniplugin::valuetext {

namespace {

enum class Field {
  Year,
  TwoDigitYear,
  Month,
  ShortMonth,
  LongMonth,
  Day,
  Hour,
  Hour12,
  Minute,
  Second,
  DayHalf,
};

struct Layout {
  std::u16string_view pattern;
  std::array<Field, 7> fields;
  std::size_t fieldCount;
};

template <class... Fields>
constexpr Layout MakeLayout(std::u16string_view pattern, Fields... fields) {
  return {pattern, {fields...}, sizeof...(Fields)};
}

struct CodeLayout {
  std::int32_t code;
  Layout layout;
};

using enum Field;

constexpr Layout kMonthDayYearTime12 =
    MakeLayout(u"%s %02d %04d %02d:%02d %s", ShortMonth, Day, Year, Hour12, Minute, DayHalf);

constexpr CodeLayout kLayouts[] = {
    {0, kMonthDayYearTime12},
    {1, MakeLayout(u"%02d/%02d/%02d", Month, Day, TwoDigitYear)},
    {2, MakeLayout(u"%02d.%02d.%02d", TwoDigitYear, Month, Day)},
    {3, MakeLayout(u"%02d/%02d/%02d", Day, Month, TwoDigitYear)},
    {4, MakeLayout(u"%02d.%02d.%02d", Day, Month, TwoDigitYear)},
    {5, MakeLayout(u"%02d-%02d-%02d", Day, Month, TwoDigitYear)},
    {6, MakeLayout(u"%02d %s %02d", Day, ShortMonth, TwoDigitYear)},
    {7, MakeLayout(u"%s %02d, %02d", ShortMonth, Day, TwoDigitYear)},
    {10, MakeLayout(u"%02d-%02d-%02d", Month, Day, TwoDigitYear)},
    {11, MakeLayout(u"%02d/%02d/%02d", TwoDigitYear, Month, Day)},
    {12, MakeLayout(u"%02d%02d%02d", TwoDigitYear, Month, Day)},
    {100, kMonthDayYearTime12},
    {101, MakeLayout(u"%02d/%02d/%04d", Month, Day, Year)},
    {102, MakeLayout(u"%04d.%02d.%02d", Year, Month, Day)},
    {103, MakeLayout(u"%02d/%02d/%04d", Day, Month, Year)},
    {104, MakeLayout(u"%02d.%02d.%04d", Day, Month, Year)},
    {105, MakeLayout(u"%02d-%02d-%04d", Day, Month, Year)},
    {106, MakeLayout(u"%02d %s %04d", Day, ShortMonth, Year)},
    {107, MakeLayout(u"%s %02d, %04d", ShortMonth, Day, Year)},
    {109, MakeLayout(u"%s %02d %04d %02d:%02d:%02d:000 %s", ShortMonth, Day, Year, Hour12,
                     Minute, Second, DayHalf)},
    {110, MakeLayout(u"%02d-%02d-%04d", Month, Day, Year)},
    {111, MakeLayout(u"%04d/%02d/%02d", Year, Month, Day)},
    {112, MakeLayout(u"%04d%02d%02d", Year, Month, Day)},
    {120, MakeLayout(u"%04d-%02d-%02d", Year, Month, Day)},
    {121, MakeLayout(u"%04d-%02d-%02d %02d:%02d:%02d.000", Year, Month, Day, Hour, Minute,
                     Second)},
};

constexpr Layout kFallbackLayout = MakeLayout(u"%02d %s %04d %02d:%02d:%02d:000", Day,
                                              LongMonth, Year, Hour, Minute, Second);

const Layout& LayoutFor(std::int32_t code) {
  for (const CodeLayout& entry : kLayouts) {
    if (entry.code == code) return entry.layout;
  }
  return kFallbackLayout;
}

// Calendar fields of a date; every one -1 when the system cannot break the date up.
struct DateFields {
  int year = -1;
  int month = -1;
  int day = -1;
  int hour = -1;
  int minute = -1;
  int second = -1;
};

DateFields BreakDate(double date) {
  SYSTEMTIME st;
  if (!VariantTimeToSystemTime(date, &st)) return {};
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

Str::Arg FieldValue(Field field, const DateFields& date) {
  switch (field) {
    case Year: return date.year;
    // The year without its thousands, then its last two digits: 2005 is 5, written 05.
    case TwoDigitYear: return (date.year - date.year / 1000 * 1000) % 100;
    case Month: return date.month;
    case ShortMonth: return ShortMonthName(date.month);
    case LongMonth: return LongMonthName(date.month);
    case Day: return date.day;
    case Hour: return date.hour;
    // 0 stays 0 and 12 stays 12; only 13 to 23 move.
    case Hour12: return date.hour > 12 ? date.hour - 12 : date.hour;
    case Minute: return date.minute;
    case Second: return date.second;
    // Noon belongs to the morning here: "PM" starts at 13:00.
    case DayHalf: return std::u16string_view(date.hour <= 12 ? u"AM" : u"PM");
  }
  return -1;
}

}  // namespace

bool FormatDate(Str& out, double date, std::int32_t layoutCode) {
  if (date == 0.0) return false;
  const Layout& layout = LayoutFor(layoutCode);
  const DateFields fields = BreakDate(date);
  std::array<Str::Arg, 7> args;
  for (std::size_t i = 0; i < layout.fieldCount; ++i) {
    args[i] = FieldValue(layout.fields[i], fields);
  }
  out.FormatList(layout.pattern, std::span<const Str::Arg>(args.data(), layout.fieldCount));
  return true;
}

}  // namespace iniplugin::valuetext
