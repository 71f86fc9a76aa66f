// Saves across processes: a process killed at random moments while it saves a large file
// leaves every time either the whole old file or the whole new one (POSIX); two processes
// committing to one file lose nothing; a file another program holds open is waited for.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <thread>

#include "support/FileForms.h"
#include "PluginFixture.h"
#include "support/RecordArray.h"
#include "platform/path.h"
#include "support/Hresult.h"

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

#ifndef _WIN32
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

#endif

// One writer of the test below: 500 commits to keys of its own, each a new key. The exit
// status tells the first call that failed.
constexpr int kCommits = 500;
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
      platform::ComPtr<IErrorInfo> error;
      UniqueBstr description;
      if (GetErrorInfo(0, error.Receive()) == S_OK) error->GetDescription(description.Receive());
      std::fprintf(stderr, "writer %c: commit %d failed: %s\n", static_cast<char>(name), i,
                   Narrow(description.View()).c_str());
      return 4;
    }
  }
  return 0;
}

// Two processes committing to keys of their own in one file, each commit a new key: any
// save that replaced the file from a read older than the other's last save drops a key.
// A UTF-8 file, which our own profile functions serve on every system.
TEST_F(KilledSaveTest, TwoWritersLoseNoKey) {
#ifdef _WIN32
  // The writers are this program again, told by its environment which one each is.
  if (const char* name = std::getenv("INIPLUGIN_TEST_WRITER")) {
    const char* file = std::getenv("INIPLUGIN_TEST_FILE");
    std::_Exit(CommitKeys(platform::FullPath(U16Path(file ? file : "")), static_cast<char16_t>(name[0])));
  }
#endif
  TempDir dir;
  const fs::path path = dir / "shared.ini";
  WriteBytes(path, "\xEF\xBB\xBF[S]\r\n");
#ifdef _WIN32
  wchar_t self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=KilledSaveTest.TwoWritersLoseNoKey";
  ::SetEnvironmentVariableW(L"INIPLUGIN_TEST_FILE", path.wstring().c_str());
  std::vector<HANDLE> writers;
  for (const wchar_t* name : {L"a", L"b"}) {
    ::SetEnvironmentVariableW(L"INIPLUGIN_TEST_WRITER", name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    ::CloseHandle(process.hThread);
    writers.push_back(process.hProcess);
  }
  ::SetEnvironmentVariableW(L"INIPLUGIN_TEST_WRITER", nullptr);
  for (HANDLE writer : writers) {
    EXPECT_EQ(::WaitForSingleObject(writer, 600'000), WAIT_OBJECT_0);
    DWORD status = 1;
    EXPECT_TRUE(::GetExitCodeProcess(writer, &status));
    EXPECT_EQ(status, 0u);
    ::CloseHandle(writer);
  }
#else
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
#endif
  const std::string file = ReadBytes(path);
  for (const char* name : {"a", "b"}) {
    for (int i = 0; i < kCommits; ++i) {
      const std::string line = "\r\n" + std::string(name) + std::to_string(i) + "=1\r\n";
      EXPECT_NE(file.find(line), std::string::npos) << line.substr(2) << " was lost";
    }
  }
}

#ifdef _WIN32
// Another program holds the file open without delete sharing (an editor, a scanner): the
// replacement waits for it about a second, then either succeeds or fails with the file
// unchanged and the value kept for the next Commit. Held for a moment, or throughout.
TEST_F(KilledSaveTest, AFileHeldWithoutDeleteSharingIsWaitedFor) {
  ProfileMode::ResetForTesting(1);  // a UTF-16 file: Commit replaces it through the document
  TempDir dir;
  const fs::path path = dir / "held.ini";
  const std::string oldFile = Encode(Form::Utf16, u"[S]\r\nk=old\r\n");
  for (const DWORD heldFor : {300u, INFINITE}) {
    SCOPED_TRACE(heldFor);
    WriteBytes(path, oldFile);
    ComPtr<IOrvFileNavigator> navigator = [&] {
      UniqueBstr bstr = Bstr(U16Path(path));
      ComPtr<IOrvFileNavigator> opened;
      EXPECT_HR(NewFormat()->CreateNavigator(bstr.Get(), 0, opened.Receive()), S_OK);
      return opened;
    }();
    ASSERT_TRUE(navigator);
    RecordArray records;
    records.AddText(u"S", u"k", u"new");
    ASSERT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
    const HANDLE held = ::CreateFileW(path.wstring().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Let go of while Commit waits, or only after it.
    std::thread release;
    if (heldFor != INFINITE) {
      release = std::thread([&] {
        ::Sleep(heldFor);
        ::CloseHandle(held);
      });
    }
    const HRESULT hr = navigator->Commit();
    if (release.joinable()) {
      release.join();
    } else {
      ::CloseHandle(held);
    }
    if (hr == S_OK) {
      EXPECT_EQ(ReadBytes(path), Encode(Form::Utf16, u"[S]\r\nk=new\r\n"));
    } else {
      EXPECT_HR(hr, E_FAIL);
      EXPECT_EQ(ReadBytes(path), oldFile);
      EXPECT_EQ(static_cast<CIniFile*>(navigator.Get())->PendingWriteCount(), 1u);
    }
    std::printf("held %s: Commit answered 0x%08lX\n", heldFor == INFINITE ? "throughout" : "300 ms",
                static_cast<unsigned long>(hr));
  }
}
#endif

}  // namespace
}  // namespace iniplugin::test
