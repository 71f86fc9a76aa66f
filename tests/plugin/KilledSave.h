// The process-crossing saves, shared by the test files of each system: the fixture, the
// writer the two-writer test runs in two processes, and how each system starts them.
#pragma once

#include <filesystem>
#include <string>

#include "PluginFixture.h"

namespace iniplugin::test::killed_save {

// Profile mode 0, so that both savers run: the profile functions' direct write, then
// Commit's.
class KilledSaveTest : public ::testing::Test {
 protected:
  void SetUp() override { ProfileMode::ResetForTesting(0); }
  void TearDown() override { ProfileMode::ResetForTesting(); }
};

// One writer of the two-writer test: 500 commits to keys of its own, each a new key. The
// exit status tells the first call that failed.
constexpr int kCommits = 500;
int CommitKeys(const std::u16string& path, char16_t name);

// Runs the writers "a" and "b" on `path` in processes of their own and expects both to
// succeed (KilledSaveTest_posix.cpp, KilledSaveTest_win.cpp).
void RunWriters(const std::filesystem::path& path);
// Where a system starts a writer as this program again: becomes that writer and exits.
void ActAsWriterIfAsked();

}  // namespace iniplugin::test::killed_save
