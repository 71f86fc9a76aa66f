// A process killed at random moments while it saves a large file: the file is every time
// either the whole old file or the whole new one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "FileForms.h"
#include "PluginFixture.h"
#include "Records.h"

namespace iniplugin::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Profile mode 0, so that both savers run: the profile functions' direct write, then
// Commit's.
class KilledSaveTest : public ::testing::Test {
 protected:
  void SetUp() override { ProfileMode::ResetForTesting(0); }
  void TearDown() override { ProfileMode::ResetForTesting(); }
};

TEST_F(KilledSaveTest, LeavesTheOldOrTheNewFile) {
  TempDir dir;
  const fs::path path = dir / "large.ini";
  std::string body;
  for (int i = 0; body.size() < 1'000'000; ++i) {
    body += "key" + std::to_string(i) + "=a value long enough to make the file large\r\n";
  }
  const std::string oldFile = "[S]\r\nk=old\r\n" + body;
  const std::string newFile = "[S]\r\nk=new\r\n" + body;

  // The child: opens the file as the host does, writes one value and commits.
  auto save = [&] {
    const pid_t child = ::fork();
    if (child != 0) return child;
    UniqueBstr bstr = Bstr(U16Path(path));
    ComPtr<IOrvFileNavigator> navigator;
    if (NewFormat()->CreateNavigator(bstr.Get(), 0, navigator.Receive()) != S_OK) std::_Exit(2);
    RecordArray records;
    AddText(records, u"S", u"k", u"new");
    if (navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0) != S_OK) std::_Exit(3);
    std::_Exit(navigator->Commit() == S_OK ? 0 : 4);
  };

  // How long a whole save takes here, so that the kills fall before, within and after it.
  Clock::duration longest{};
  for (int i = 0; i < 3; ++i) {
    WriteBytes(path, oldFile);
    const auto start = Clock::now();
    const pid_t child = save();
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    longest = std::max(longest, Clock::now() - start);
    ASSERT_EQ(ReadBytes(path), newFile);
  }

  std::mt19937 random(20240305);
  std::uniform_int_distribution<long long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(longest).count() * 6 / 5);
  int olds = 0, news = 0;
  for (int i = 0; i < 200 && !HasFailure(); ++i) {
    WriteBytes(path, oldFile);
    const pid_t child = save();
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    const std::string now = ReadBytes(path);
    if (now == oldFile) {
      ++olds;
    } else if (now == newFile) {
      ++news;
    } else {
      ADD_FAILURE() << "kill " << i << " left a file of " << now.size() << " bytes";
    }
  }
  // What a killed save leaves is its temporary file, never a damaged target; the next
  // save clears it.
  const pid_t next = save();
  ASSERT_GT(next, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(next, &status, 0), next);
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path(), path) << "left behind";
  }
  std::printf("200 kills within %lld ms: %d left the old file, %d the new one\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()),
              olds, news);
  // Both outcomes, or the kills never landed inside a save.
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

// Two processes committing to keys of their own in one file, each commit a new key: any
// save that replaced the file from a read older than the other's last save drops a key.
TEST_F(KilledSaveTest, TwoWritersLoseNoKey) {
  constexpr int kCommits = 500;
  TempDir dir;
  const fs::path path = dir / "shared.ini";
  WriteBytes(path, "[S]\r\n");
  auto writer = [&](char16_t name) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    UniqueBstr bstr = Bstr(U16Path(path));
    ComPtr<IOrvFileNavigator> navigator;
    if (NewFormat()->CreateNavigator(bstr.Get(), 0, navigator.Receive()) != S_OK) std::_Exit(2);
    for (int i = 0; i < kCommits; ++i) {
      RecordArray records;
      const std::string digits = std::to_string(i);
      const std::u16string key = std::u16string(1, name) + std::u16string(digits.begin(), digits.end());
      AddText(records, u"S", key.c_str(), u"1");
      if (navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0) != S_OK) std::_Exit(3);
      if (navigator->Commit() != S_OK) std::_Exit(4);
    }
    std::_Exit(0);
  };
  const pid_t first = writer(u'a'), second = writer(u'b');
  for (pid_t child : {first, second}) {
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::string file = ReadBytes(path);
  for (const char* name : {"a", "b"}) {
    for (int i = 0; i < kCommits; ++i) {
      const std::string line = "\r\n" + std::string(name) + std::to_string(i) + "=1\r\n";
      EXPECT_NE(file.find(line), std::string::npos) << line.substr(2) << " was lost";
    }
  }
}

}  // namespace
}  // namespace iniplugin::test
