// Faults that only a POSIX system lets a test cause for real: a file its user may not
// read, a disk that takes no more bytes, and a process killed in the middle of a save.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

class PosixFaultTest : public PluginTest {
 protected:
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()));
  }
};

// Read permission taken away between SetValues and Commit: Commit fails and keeps every
// write, a direct write in the meantime does not overwrite the file, and once the file is
// readable again Commit writes them all. A UTF-16 file in mode 1, so that the writes wait
// in the queue; an ANSI file in mode 0, where they are also made at once.
void CommitOnUnreadableFile(const fs::path& path, int mode) {
  const Form form = mode == 1 ? Form::Utf16 : Form::Ansi;
  WriteBytes(path, Encode(form, u"[S]\r\nk=old\r\n"));
  UniqueBstr bstr = Bstr(U16Path(path));
  ComPtr<IOrvFileNavigator> navigator;
  ASSERT_EQ(NewFormat()->CreateNavigator(bstr.Get(), 0, navigator.Receive()), S_OK);
  RecordArray first;
  AddText(first, u"S", u"k", u"new");
  ASSERT_EQ(navigator->SetValues(0, 0, 0, first.Count(), first.Data(), 0), S_OK);
  const std::string before = ReadBytes(path);

  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  ASSERT_NE(::access(path.c_str(), R_OK), 0) << "the file is still readable";
  RecordArray second;
  AddText(second, u"S", u"added", u"1");
  ASSERT_EQ(navigator->SetValues(0, 0, 0, second.Count(), second.Data(), 0), S_OK);
  EXPECT_EQ(navigator->Commit(), E_FAIL);
  EXPECT_EQ(static_cast<CIniFile*>(navigator.Get())->PendingWriteCount(), 2u);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_EQ(ReadBytes(path), before);
  ASSERT_EQ(navigator->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(path), Encode(form, u"[S]\r\nk=new\r\nadded=1\r\n"));
}

TEST_P(PosixFaultTest, CommitOnUnreadableFileKeepsTheQueue) {
  const fs::path path = m_dir / "settings.ini";
  if (::geteuid() != 0) {
    CommitOnUnreadableFile(path, Mode());
    return;
  }
  // Permissions do not stop root: run as the unprivileged user, in a process of its own.
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "running as root, and there is no user \"nobody\" to become";
  fs::permissions(m_dir.Path(), fs::perms::all);
  EXPECT_EXIT(
      {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) std::_Exit(2);
        CommitOnUnreadableFile(path, Mode());
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A file size limit makes the system refuse bytes as a full disk does: the save fails
// with the old file untouched and no temporary file left.
TEST_P(PosixFaultTest, SaveOnAFullDiskLeavesTheOldFile) {
  const fs::path path = m_dir / "settings.ini";
  const std::string old = "[S]\r\nk=old\r\n" + std::string(20000, ';') + "\r\n";
  WriteBytes(path, old);
  ComPtr<IOrvFileNavigator> navigator = Open(U16Path(path));
  RecordArray records;
  AddText(records, u"S", u"k", u"new");

  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const HRESULT set = navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0);
  const HRESULT committed = navigator->Commit();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);

  EXPECT_EQ(set, S_OK);  // the direct write's failure is left to Commit
  EXPECT_EQ(committed, E_FAIL);
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(FilesInFolder(), 1u);
  ASSERT_EQ(navigator->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(path).substr(0, 12), "[S]\r\nk=new\r\n");
}

// A save of a large file, the process killed at a random moment 200 times: the file is
// every time either the whole old file or the whole new one. Profile mode 0, so that both
// savers run: the profile functions' direct write, then Commit's.
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
    // What a killed save leaves is its temporary file, never a damaged target.
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
      if (entry.path() != path) fs::remove(entry.path());
    }
  }
  std::printf("200 kills within %lld ms: %d left the old file, %d the new one\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()),
              olds, news);
  // Both outcomes, or the kills never landed inside a save.
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, PosixFaultTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
