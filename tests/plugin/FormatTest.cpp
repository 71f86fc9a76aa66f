#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "support/Hresult.h"

namespace iniplugin::test {
namespace {

class FormatTest : public PluginTest {};

TEST_P(FormatTest, GetInfoStoresNothingWhenAnyPointerIsNull) {
  ComPtr<IOrvFileFormat> format = NewFormat();
  BSTR sentinel = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xdeadbeef));
  for (int nullAt = 0; nullAt < 3; ++nullAt) {
    SCOPED_TRACE(nullAt);
    BSTR out[3] = {sentinel, sentinel, sentinel};
    BSTR* args[3] = {&out[0], &out[1], &out[2]};
    args[nullAt] = nullptr;
    EXPECT_HR(format->GetInfo(args[0], args[1], args[2]), E_POINTER);
    for (BSTR b : out) EXPECT_EQ(b, sentinel);
  }
}

TEST_P(FormatTest, GetInfoDescribesThePlugin) {
  ComPtr<IOrvFileFormat> format = NewFormat();
  UniqueBstr maker, description, extensions;
  ASSERT_HR(format->GetInfo(maker.Receive(), description.Receive(), extensions.Receive()), S_OK);
  EXPECT_EQ(maker.View(), u"QUARRYLINE");
  EXPECT_EQ(description.View(), u"Plugin for Windows ini-files.");
  EXPECT_EQ(extensions.View(), u"ini,taf");
}

TEST_P(FormatTest, FixedResults) {
  ComPtr<IOrvFileFormat> format = NewFormat();
  LONG value = 0;
  EXPECT_HR(format->GetFormatValue(12345, &value), S_OK);
  EXPECT_EQ(value, 8);
  EXPECT_HR(format->GetFormatValue(0, nullptr), E_POINTER);

  int dummy = 0;
  EXPECT_HR(format->FormatMethod6(0, 0, 0, 0, nullptr), E_POINTER);
  EXPECT_HR(format->FormatMethod6(1, 2, 3, 4, &dummy), E_NOTIMPL);
  EXPECT_HR(format->FormatMethod7(0, nullptr), E_POINTER);
  EXPECT_HR(format->FormatMethod7(0, &dummy), E_NOTIMPL);
}

TEST_P(FormatTest, InterfacesOfTheFormatObject) {
  ComPtr<IOrvFileFormat> format = NewFormat();
  ComPtr<IUnknown> unknown, primary, again;
  EXPECT_HR(format->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()), S_OK);
  EXPECT_HR(format->QueryInterface(IID_IIniFormat, primary.ReceiveVoid()), S_OK);
  EXPECT_EQ(unknown.Get(), primary.Get());
  EXPECT_HR(format->QueryInterface(IID_IOrvFileNavigator, again.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_EQ(again.Get(), nullptr);
  EXPECT_HR(format->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  ComPtr<ISupportErrorInfo> errors;
  ASSERT_HR(format->QueryInterface(IID_ISupportErrorInfo, errors.ReceiveVoid()), S_OK);
  EXPECT_HR(errors->InterfaceSupportsErrorInfo(IID_IOrvFileFormat), S_OK);
  EXPECT_HR(errors->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

  // The marshaler exists where the system has one; either way the answer is consistent.
  ComPtr<IUnknown> marshal;
  const HRESULT hr = format->QueryInterface(IID_IMarshal, marshal.ReceiveVoid());
  EXPECT_TRUE(hr == S_OK || hr == E_NOINTERFACE) << std::hex << hr;
  EXPECT_EQ(hr == S_OK, marshal.Get() != nullptr);
}

TEST_P(FormatTest, CreateNavigatorWithNullOutPointerCreatesNothing) {
  ComPtr<IOrvFileFormat> format = NewFormat();
  const LONG locks = Module::LockCount();
  UniqueBstr path = Bstr(u"x.ini");
  EXPECT_HR(format->CreateNavigator(path.Get(), 0, nullptr), E_POINTER);
  EXPECT_EQ(Module::LockCount(), locks);
}

TEST_P(FormatTest, CreateNavigatorOnMissingFile) {
  const std::u16string missing = U16Path(m_dir / "missing.ini");
  if (Mode() == 1) {
    ComPtr<IOrvFileNavigator> navigator = Open(missing, E_FAIL);
    EXPECT_EQ(navigator.Get(), nullptr);
  } else {
    ComPtr<IOrvFileNavigator> navigator = Open(missing, S_OK);
    EXPECT_NE(navigator.Get(), nullptr);
  }
}

TEST_P(FormatTest, EachObjectHoldsOneModuleLock) {
  const LONG before = Module::LockCount();
  {
    ComPtr<IOrvFileFormat> format = NewFormat();
    EXPECT_EQ(Module::LockCount(), before + 1);
    ComPtr<IOrvFileNavigator> navigator = Open(WriteFile("a.ini", "[S]\r\n"));
    EXPECT_EQ(Module::LockCount(), before + 2);
  }
  EXPECT_EQ(Module::LockCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Modes, FormatTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
