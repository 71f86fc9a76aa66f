#include <gtest/gtest.h>

#include <filesystem>

#include "support/FileForms.h"
#include "support/RecordArray.h"
#include "PluginFixture.h"
#include "platform/portable.h"
#include "platform/version.h"
#include "support/Hresult.h"

namespace iniplugin::test {
namespace {

class NavigatorTest : public PluginTest {
 protected:
  // A navigator as the class object makes it: constructed, not yet initialised.
  ComPtr<ComObject<CIniFile>> NewUninitialised() {
    ComObject<CIniFile>* object = nullptr;
    EXPECT_HR(ComObject<CIniFile>::CreateInstance(&object), S_OK);
    object->AddRef();
    return ComPtr<ComObject<CIniFile>>::Attach(object);
  }
};

TEST_P(NavigatorTest, InitWithNullPath) {
  ComPtr<ComObject<CIniFile>> navigator = NewUninitialised();
  IOrvFileNavigatorInit* init = navigator.Get();
  EXPECT_HR(init->Init(nullptr, 0), Mode() == 1 ? E_FAIL : S_OK);
  EXPECT_EQ(navigator->FilePath(), u"");
}

TEST_P(NavigatorTest, InitStoresPathUpToFirstNul) {
  const std::u16string path = WriteFile("a.ini", "[S]\r\na=1\r\n");
  ComPtr<ComObject<CIniFile>> navigator = NewUninitialised();
  UniqueBstr withNul = Bstr(path + u'\0' + u"junk");
  EXPECT_HR(static_cast<IOrvFileNavigatorInit*>(navigator.Get())->Init(withNul.Get(), 0), S_OK);
  EXPECT_EQ(navigator->FilePath(), path);
}

// A relative path names the file in the folder that was current at Init, for every later
// call, whatever the folder is then (and wherever the profile functions would look a bare
// name up).
TEST_P(NavigatorTest, InitMakesARelativePathAbsolute) {
  namespace fs = std::filesystem;
  const fs::path elsewhere = m_dir / "elsewhere";
  fs::create_directory(elsewhere);
  const fs::path before = fs::current_path();
  for (const char16_t* given : {u"a.ini", u"./a.ini"}) {
    SCOPED_TRACE(std::string(given, given + std::char_traits<char16_t>::length(given)));
    WriteFile("a.ini", "[S]\r\nk=1\r\n");
    fs::current_path(m_dir.Path());
    ComPtr<IOrvFileNavigator> navigator = Open(given);
    fs::current_path(elsewhere);
    RecordArray records;
    records.AddText(u"S", u"k", u"2");
    EXPECT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
    EXPECT_HR(navigator->Commit(), S_OK);
    fs::current_path(before);
    EXPECT_TRUE(fs::path(static_cast<CIniFile*>(navigator.Get())->FilePath()).is_absolute());
    EXPECT_EQ(ReadBytes(m_dir / "a.ini"), "[S]\r\nk=2\r\n");
    EXPECT_TRUE(fs::is_empty(elsewhere));
  }
}

TEST_P(NavigatorTest, ModeOneLoadsTheDocumentAndASecondInitReloads) {
  const std::u16string first = WriteFile("a.ini", "\xFF\xFE" + Utf16Bytes(u"[A]\r\nx=1\r\n"));
  const std::u16string second = WriteFile("b.ini", "[B]\r\ny=2\r\n");
  ComPtr<ComObject<CIniFile>> navigator = NewUninitialised();
  IOrvFileNavigatorInit* init = navigator.Get();
  UniqueBstr a = Bstr(first), b = Bstr(second);
  ASSERT_HR(init->Init(a.Get(), 0), S_OK);
  std::u16string value;
  EXPECT_EQ(navigator->Document().GetValue(u"A", u"x", value), Mode() == 1);
  EXPECT_EQ(navigator->Document().IsUnicode(), Mode() == 1);

  ASSERT_HR(init->Init(b.Get(), 0), S_OK);
  EXPECT_EQ(navigator->FilePath(), second);
  EXPECT_EQ(navigator->Document().GetValue(u"B", u"y", value), Mode() == 1);
  EXPECT_FALSE(navigator->Document().IsUnicode());
}

TEST_P(NavigatorTest, ModeOneRefusesFilesItCannotHold) {
  const std::u16string path = WriteFile("bom16.ini", Utf16Bytes(u"[S]\r\na=1\r\n"));
  ComPtr<IOrvFileNavigator> navigator = Open(path, Mode() == 1 ? E_FAIL : S_OK);
  EXPECT_EQ(navigator.Get() != nullptr, Mode() == 0);
}

TEST_P(NavigatorTest, UnsupportedMethodsCheckTheirPointers) {
  ComPtr<IOrvFileNavigator> nav = Open(WriteFile("a.ini", "[S]\r\n"));
  int x = 0;
  void* p = &x;
  void* n = nullptr;
  struct Row {
    int slot;
    HRESULT withPointers;
    HRESULT withNulls;
  };
  const Row rows[] = {
      {3, nav->NavigatorMethod3(0, p, p), nav->NavigatorMethod3(0, n, p)},
      {4, nav->NavigatorMethod4(0, 0, 0), nav->NavigatorMethod4(0, 0, 0)},
      {5, nav->NavigatorMethod5(p), nav->NavigatorMethod5(n)},
      {6, nav->NavigatorMethod6(p, p, p, p, p), nav->NavigatorMethod6(p, p, p, p, n)},
      {7, nav->NavigatorMethod7(0, 0, p, p), nav->NavigatorMethod7(0, 0, p, n)},
      {8, nav->NavigatorMethod8(0, 0, p, p), nav->NavigatorMethod8(0, 0, n, p)},
      {11, nav->NavigatorMethod11(p, p), nav->NavigatorMethod11(n, p)},
      {12, nav->NavigatorMethod12(0, 0, p), nav->NavigatorMethod12(0, 0, n)},
      {13, nav->NavigatorMethod13(0, p, p, 0, 0), nav->NavigatorMethod13(0, p, n, 0, 0)},
      {14, nav->NavigatorMethod14(0, 0, 0, 0, 0, 0), nav->NavigatorMethod14(0, 0, 0, 0, 0, 0)},
      {16, nav->NavigatorMethod16(p), nav->NavigatorMethod16(n)},
      {17, nav->NavigatorMethod17(0, 0, 0, p, p), nav->NavigatorMethod17(0, 0, 0, n, p)},
      {18, nav->NavigatorMethod18(0), nav->NavigatorMethod18(0)},
      {19, nav->NavigatorMethod19(0, 0), nav->NavigatorMethod19(0, 0)},
      {20, nav->NavigatorMethod20(0, 0, 0, 0), nav->NavigatorMethod20(0, 0, 0, 0)},
      {21, nav->NavigatorMethod21(0), nav->NavigatorMethod21(0)},
      {22, nav->NavigatorMethod22(0, 0, 0, 0, 0), nav->NavigatorMethod22(0, 0, 0, 0, 0)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("slot " + std::to_string(row.slot));
    const bool doesNothing = row.slot == 19 || row.slot == 20;
    const bool checksNothing = doesNothing || row.slot == 4 || row.slot == 14 ||
                               row.slot == 18 || row.slot == 21 || row.slot == 22;
    EXPECT_HR(row.withPointers, doesNothing ? S_OK : E_NOTIMPL);
    EXPECT_HR(row.withNulls, doesNothing ? S_OK : checksNothing ? E_NOTIMPL : E_POINTER);
  }
}

TEST_P(NavigatorTest, InterfacesOfTheNavigator) {
  ComPtr<IOrvFileNavigator> navigator = Open(WriteFile("a.ini", "[S]\r\n"));
  ComPtr<IUnknown> unknown, primary, init, format;
  EXPECT_HR(navigator->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()), S_OK);
  EXPECT_HR(navigator->QueryInterface(IID_IIniFile, primary.ReceiveVoid()), S_OK);
  EXPECT_EQ(unknown.Get(), primary.Get());
  EXPECT_HR(navigator->QueryInterface(IID_IOrvFileNavigatorInit, init.ReceiveVoid()), S_OK);
  EXPECT_HR(navigator->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_HR(navigator->QueryInterface(IID_IMarshal, format.ReceiveVoid()), E_NOINTERFACE);
  ComPtr<ISupportErrorInfo> errors;
  ASSERT_HR(navigator->QueryInterface(IID_ISupportErrorInfo, errors.ReceiveVoid()), S_OK);
  for (const IID* iid : {&IID_IOrvFileNavigator, &IID_IOrvFileNavigatorInit, &IID_IIniFile}) {
    EXPECT_HR(errors->InterfaceSupportsErrorInfo(*iid), S_OK);
  }
  EXPECT_HR(errors->InterfaceSupportsErrorInfo(IID_IOrvFileFormat), S_FALSE);
}

INSTANTIATE_TEST_SUITE_P(Modes, NavigatorTest, ::testing::Values(0, 1), ModeName);

TEST(ProfileModeTest, OnlyNtFourSelectsTheDocument) {
  struct Row {
    DWORD platform;
    DWORD major;
    int mode;
  };
  for (const Row& row : {Row{2, 4, 1}, Row{2, 5, 0}, Row{2, 6, 0}, Row{2, 10, 0}, Row{2, 3, 0},
                         Row{1, 4, 0}, Row{0, 4, 0}, Row{0, 0, 0}}) {
    SCOPED_TRACE(std::to_string(row.platform) + "." + std::to_string(row.major));
    EXPECT_EQ(ProfileMode::FromVersion({row.platform, row.major}), row.mode);
  }
}

TEST(ProfileModeTest, DecidedOnceAndNeverChanged) {
  ProfileMode::ResetForTesting();
  EXPECT_EQ(ProfileMode::Current(), 2);
  const int decided = ProfileMode::DecideOnce();
  EXPECT_EQ(decided, ProfileMode::FromVersion(platform::QueryOsVersion()));
  ProfileMode::ResetForTesting(1 - decided);
  EXPECT_EQ(ProfileMode::DecideOnce(), 1 - decided);  // a decided mode is kept
  ProfileMode::ResetForTesting();
}

TEST(ProfileModeTest, PortableVersionQueryReadsItsVariable) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_TRUE(portable::ParseOsVersion("2.4", &info));
  EXPECT_EQ(info.dwPlatformId, 2u);
  EXPECT_EQ(info.dwMajorVersion, 4u);
  for (const char* bad : {"", "2", "2.", ".4", "2.4x", "x.4"}) {
    SCOPED_TRACE(bad);
    OSVERSIONINFOW untouched{};
    EXPECT_FALSE(portable::ParseOsVersion(bad, &untouched));
    EXPECT_EQ(untouched.dwPlatformId, 0u);
  }
  OSVERSIONINFOW wrongSize{};
  wrongSize.dwOSVersionInfoSize = 12;
  EXPECT_FALSE(portable::GetVersionExW(&wrongSize));
}

}  // namespace
}  // namespace iniplugin::test
