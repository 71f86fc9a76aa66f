// An array of variable records as a host hands it over: it owns the name strings and the
// values, and frees them whatever happens. Every record starts with the same handled
// mark, so that a record the navigator never touched shows as such. The tests, the
// benchmarks and the stand-in host all hand records over through it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/OrvHost.h"
#include "platform/com.h"
#include "platform/wide.h"

namespace iniplugin::test {

class RecordArray {
 public:
  static constexpr LONG kUntouched = 0x55;

  explicit RecordArray(LONG untouched = kUntouched) : m_untouched(untouched) {}
  RecordArray(const RecordArray&) = delete;
  RecordArray& operator=(const RecordArray&) = delete;
  ~RecordArray() {
    for (OrvVariableRecord& record : m_records) {
      SysFreeString(record.keyName);
      SysFreeString(record.sectionName);
      VariantClear(&record.value);
    }
  }

  // A null name stays a null BSTR.
  OrvVariableRecord& Add(const char16_t* section, const char16_t* key) {
    OrvVariableRecord& record = m_records.emplace_back();
    record.sectionName = section ? platform::UniqueBstr::FromText(section).Release() : nullptr;
    record.keyName = key ? platform::UniqueBstr::FromText(key).Release() : nullptr;
    VariantInit(&record.value);
    record.handled = m_untouched;
    record.reserved = 0x77;
    return record;
  }
  OrvVariableRecord& Add(std::u16string_view section, std::u16string_view key) {
    return Add(std::u16string(section).c_str(), std::u16string(key).c_str());
  }
  // A record whose value is `text`, as a write hands it over.
  OrvVariableRecord& AddText(const char16_t* section, const char16_t* key,
                             std::u16string_view text) {
    OrvVariableRecord& record = Add(section, key);
    record.value.vt = VT_BSTR;
    record.value.bstrVal = platform::UniqueBstr::FromText(text).Release();
    return record;
  }

  OrvVariableRecord* Data() { return m_records.data(); }
  LONG Count() const { return static_cast<LONG>(m_records.size()); }
  OrvVariableRecord& operator[](std::size_t i) { return m_records[i]; }
  const OrvVariableRecord& operator[](std::size_t i) const { return m_records[i]; }

  // The text a record's value holds, or a marker when it holds no text.
  std::u16string Text(std::size_t i) const {
    const VARIANT& value = m_records[i].value;
    if (value.vt != VT_BSTR) return u"<vt " + std::u16string(1, char16_t(u'0' + value.vt)) + u">";
    return std::u16string(platform::BstrView(value.bstrVal));
  }

 private:
  LONG m_untouched;
  std::vector<OrvVariableRecord> m_records;
};

}  // namespace iniplugin::test
