#include "valuetext/MonthTable.h"

namespace iniplugin::valuetext {

namespace {

const MonthRecord* Find(int month) {
  if (month < 1 || month > static_cast<int>(kMonthTable.size())) return nullptr;
  return &kMonthTable[static_cast<std::size_t>(month - 1)];
}

}  // namespace

std::u16string_view LongMonthName(int month) {
  const MonthRecord* record = Find(month);
  return record ? std::u16string_view(record->longName) : std::u16string_view();
}

std::u16string_view ShortMonthName(int month) {
  const MonthRecord* record = Find(month);
  return record ? std::u16string_view(record->shortName) : std::u16string_view();
}

}  // namespace iniplugin::valuetext
