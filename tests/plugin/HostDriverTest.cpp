// Drives the objects only through their interfaces, as the host does: QueryInterface, the
// slot methods, Release. At the end every object is gone and the module can unload.
#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "support/Hresult.h"

namespace iniplugin::test {
namespace {

class HostDriverTest : public PluginTest {};

TEST_P(HostDriverTest, OpensNavigatorsAndReleasesEverything) {
  const std::u16string ansi = WriteFile("a.ini", "[S]\r\nk=v\r\n");
  const std::u16string unicode = WriteFile("u.ini", "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=v\r\n"));

  IOrvFileFormat* format = NewFormat().Detach();
  ASSERT_NE(format, nullptr);
  IUnknown* unknown = nullptr;
  ASSERT_HR(format->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(format->Release(), 1u);

  BSTR maker = nullptr, description = nullptr, extensions = nullptr;
  ASSERT_HR(format->GetInfo(&maker, &description, &extensions), S_OK);
  SysFreeString(maker);
  SysFreeString(description);
  SysFreeString(extensions);

  for (const std::u16string& path : {ansi, unicode, ansi}) {
    BSTR bstr = SysAllocString(platform::AsWide(path.c_str()));
    IOrvFileNavigator* navigator = nullptr;
    ASSERT_HR(format->CreateNavigator(bstr, 7, &navigator), S_OK);
    SysFreeString(bstr);
    IOrvFileNavigatorInit* init = nullptr;
    ASSERT_EQ(navigator->QueryInterface(IID_IOrvFileNavigatorInit,
                                        reinterpret_cast<void**>(&init)),
              S_OK);
    EXPECT_EQ(init->Release(), 1u);
    EXPECT_HR(navigator->NavigatorMethod19(0, 0), S_OK);
    EXPECT_EQ(navigator->Release(), 0u);
  }
  EXPECT_EQ(unknown->Release(), 0u);
  EXPECT_EQ(Module::LockCount(), m_locksBefore);
}

INSTANTIATE_TEST_SUITE_P(Modes, HostDriverTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
