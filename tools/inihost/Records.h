// The host's record array for one call: owns the names and values it allocated, as the
// host does, and frees them whatever happens.
#pragma once

#include <string>
#include <vector>

#include "host/OrvHost.h"
#include "platform/com.h"

namespace inihost {

class Records {
 public:
  Records() = default;
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;
  ~Records() {
    for (OrvVariableRecord& record : m_records) {
      SysFreeString(record.keyName);
      SysFreeString(record.sectionName);
      VariantClear(&record.value);
    }
  }

  // A record for (section, key), its value empty and `handled` -1 so that a record the
  // plug-in never touched shows as such.
  OrvVariableRecord& Add(std::u16string_view section, std::u16string_view key) {
    OrvVariableRecord record{};
    VariantInit(&record.value);
    record.handled = -1;
    m_records.push_back(record);
    OrvVariableRecord& added = m_records.back();
    added.sectionName = iniplugin::platform::UniqueBstr::FromText(section).Release();
    added.keyName = iniplugin::platform::UniqueBstr::FromText(key).Release();
    return added;
  }

  OrvVariableRecord* Data() { return m_records.data(); }
  LONG Count() const { return static_cast<LONG>(m_records.size()); }
  const OrvVariableRecord& operator[](std::size_t i) const { return m_records[i]; }

 private:
  std::vector<OrvVariableRecord> m_records;
};

}  // namespace inihost
