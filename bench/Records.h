// Variable records for the navigator workloads, and the checks that the benchmarks got
// the answers they should have.
#pragma once

#include <cstdlib>
#include <cstdio>
#include <vector>

#include "Generator.h"
#include "host/OrvHost.h"
#include "platform/com.h"
#include "platform/wide.h"

namespace iniplugin::bench {

// Stops the program: a benchmark that measured a wrong answer measured nothing.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "benchmark check failed: %s\n", what);
  std::exit(2);
}
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// An array of records as a host hands it over; owns its strings and values.
class RecordSet {
 public:
  RecordSet(const std::vector<Pick>& picks, bool withValues) : m_picks(picks) {
    m_records.resize(picks.size());
    for (std::size_t i = 0; i < picks.size(); ++i) {
      OrvVariableRecord& record = m_records[i];
      record.sectionName = platform::UniqueBstr::FromText(SectionName(picks[i].section)).Release();
      record.keyName = platform::UniqueBstr::FromText(KeyName(picks[i].key)).Release();
      VariantInit(&record.value);
      if (withValues) {
        record.value.vt = VT_BSTR;
        record.value.bstrVal = platform::UniqueBstr::FromText(NewValue(i)).Release();
      }
    }
  }
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;
  ~RecordSet() {
    for (OrvVariableRecord& record : m_records) {
      SysFreeString(record.sectionName);
      SysFreeString(record.keyName);
      VariantClear(&record.value);
    }
  }

  OrvVariableRecord* Data() { return m_records.data(); }
  LONG Count() const { return static_cast<LONG>(m_records.size()); }
  const std::vector<Pick>& Picks() const { return m_picks; }

  // The value the i-th record of a write sets.
  static std::u16string NewValue(std::size_t i) { return u"new value " + Digits(static_cast<unsigned>(i), 4); }

  // After GetValues: every existing variable came back with its value, no other did.
  void CheckRead() const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
      const OrvVariableRecord& record = m_records[i];
      const Pick& pick = m_picks[i];
      if (!pick.exists()) {
        Check(record.handled == 0, "a missing variable was found");
        continue;
      }
      Check(record.handled == 1 && record.value.vt == VT_BSTR, "a variable was not found");
      Check(platform::BstrView(record.value.bstrVal) == ValueOf(pick.section, pick.key),
            "a variable came back with the wrong value");
    }
  }

 private:
  std::vector<Pick> m_picks;
  std::vector<OrvVariableRecord> m_records;
};

}  // namespace iniplugin::bench
