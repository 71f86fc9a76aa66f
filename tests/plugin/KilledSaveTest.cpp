// Saves across processes: a process killed at random moments while it saves a large file
// leaves every time either the whole old file or the whole new one (POSIX); two processes
// committing to one file lose nothing; a file another program holds open is waited for
// (Windows). The tests that need one system stand in KilledSaveTest_posix.cpp and
// KilledSaveTest_win.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "KilledSave.h"
#include "support/Files.h"
#include "support/RecordArray.h"

namespace iniplugin::test::killed_save {

int CommitKeys(const std::u16string& path, char16_t name) {
  UniqueBstr bstr = Bstr(path);
  ComPtr<IOrvFileNavigator> navigator;
  if (NewFormat()->CreateNavigator(bstr.Get(), 0, navigator.Receive()) != S_OK) return 2;
  for (int i = 0; i < kCommits; ++i) {
    RecordArray records;
    const std::string digits = std::to_string(i);
    const std::u16string key = std::u16string(1, name) + std::u16string(digits.begin(), digits.end());
    records.AddText(u"S", key.c_str(), u"1");
    if (navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0) != S_OK) return 3;
    if (navigator->Commit() != S_OK) {
      // The parent sees only the exit status: say which commit failed, and why.
      std::fprintf(stderr, "writer %c: commit %d failed: %s\n", static_cast<char>(name), i,
                   Narrow(ErrorDescription()).c_str());
      return 4;
    }
  }
  return 0;
}

namespace {

// Two processes committing to keys of their own in one file, each commit a new key: any
// save that replaced the file from a read older than the other's last save drops a key.
// A UTF-8 file, which our own profile functions serve on every system.
TEST_F(KilledSaveTest, TwoWritersLoseNoKey) {
  ActAsWriterIfAsked();
  TempDir dir;
  const std::filesystem::path path = dir / "shared.ini";
  WriteBytes(path, "\xEF\xBB\xBF[S]\r\n");
  RunWriters(path);
  const std::string file = ReadBytes(path);
  for (const char* name : {"a", "b"}) {
    for (int i = 0; i < kCommits; ++i) {
      const std::string line = "\r\n" + std::string(name) + std::to_string(i) + "=1\r\n";
      EXPECT_NE(file.find(line), std::string::npos) << line.substr(2) << " was lost";
    }
  }
}

}  // namespace
}  // namespace iniplugin::test::killed_save
