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
#include "support/RecordArray.h"

namespace iniplugin::bench {

// Stops the program: a benchmark that measured a wrong answer measured nothing.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "benchmark check failed: %s\n", what);
  std::exit(2);
}
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The records of one workload, as a host hands them over, and the picks they were made
// from.
class RecordSet {
 public:
  RecordSet(const std::vector<Pick>& picks, bool withValues) : m_picks(picks) {
    for (std::size_t i = 0; i < picks.size(); ++i) {
      const std::u16string section = SectionName(picks[i].section);
      const std::u16string key = KeyName(picks[i].key);
      if (withValues) {
        m_records.AddText(section.c_str(), key.c_str(), NewValue(i));
      } else {
        m_records.Add(section.c_str(), key.c_str());
      }
    }
  }

  OrvVariableRecord* Data() { return m_records.Data(); }
  LONG Count() const { return m_records.Count(); }
  const std::vector<Pick>& Picks() const { return m_picks; }

  // The value the i-th record of a write sets.
  static std::u16string NewValue(std::size_t i) { return u"new value " + Digits(static_cast<unsigned>(i), 4); }

  // After GetValues: every existing variable came back with its value, no other did.
  void CheckRead() const {
    for (std::size_t i = 0; i < m_picks.size(); ++i) {
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
  test::RecordArray m_records;
};

}  // namespace iniplugin::bench
