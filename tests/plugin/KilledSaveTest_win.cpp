// The saves across processes that need Windows: the writers started as this program
// again, and a file another program holds open.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KilledSave.h"
#include "platform/path.h"
#include "support/FileForms.h"
#include "support/Files.h"
#include "support/RecordArray.h"
#include "support/Hresult.h"

namespace iniplugin::test::killed_save {

// The writers are this program again, told by its environment which one each is.
void ActAsWriterIfAsked() {
  if (const char* name = std::getenv("INIPLUGIN_TEST_WRITER")) {
    const char* file = std::getenv("INIPLUGIN_TEST_FILE");
    std::_Exit(CommitKeys(platform::FullPath(U16Path(file ? file : "")),
                          static_cast<char16_t>(name[0])));
  }
}

void RunWriters(const std::filesystem::path& path) {
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
}

namespace {

namespace fs = std::filesystem;

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

}  // namespace
}  // namespace iniplugin::test::killed_save
