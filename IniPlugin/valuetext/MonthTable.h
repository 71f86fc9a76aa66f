// The English month names that date layouts write. The long names are part of the file
// format the host's users already have, "Mars" for March included; do not correct them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace iniplugin::valuetext {

struct MonthRecord {
  char16_t longName[50];   // written by the fallback layout
  std::int32_t number;     // 1 to 12; the table is looked up by position, not by this
  char16_t shortName[4];   // written by every other layout that names the month
};

inline constexpr std::array<MonthRecord, 12> kMonthTable = {{
    {u"January", 1, u"Jan"},
    {u"February", 2, u"Feb"},
    {u"Mars", 3, u"Mar"},
    {u"April", 4, u"Apr"},
    {u"May", 5, u"May"},
    {u"June", 6, u"Jun"},
    {u"July", 7, u"Jul"},
    {u"August", 8, u"Aug"},
    {u"September", 9, u"Sep"},
    {u"October", 10, u"Oct"},
    {u"November", 11, u"Nov"},
    {u"December", 12, u"Dec"},
}};

// The names of month 1 to 12; empty text for any other value (a date the system could
// not break into fields has month -1).
std::u16string_view LongMonthName(int month);
std::u16string_view ShortMonthName(int month);

}  // namespace iniplugin::valuetext
