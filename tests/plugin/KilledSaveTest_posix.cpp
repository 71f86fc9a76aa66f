// The saves across processes that need POSIX: a process killed in the middle of a save,
// and the writers started by fork.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "KilledSave.h"
#include "support/Files.h"
#include "support/RecordArray.h"
#include "support/Hresult.h"

namespace iniplugin::test::killed_save {

void ActAsWriterIfAsked() {}

void RunWriters(const std::filesystem::path& path) {
  auto writer = [&](char16_t name) {
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(CommitKeys(U16Path(path), name));
    return child;
  };
  const pid_t first = writer(u'a'), second = writer(u'b');
  for (pid_t child : {first, second}) {
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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
    records.AddText(u"S", u"k", u"new");
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

}  // namespace
}  // namespace iniplugin::test::killed_save
