// The built module, loaded as the component runtime loads it and driven through its four
// exported entry points only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/Hresult.h"
#include "support/ModuleExports.h"
#include "support/RegistrySupport.h"
#include "host/OrvHost.h"
#include "plugin/Guids.h"
#include "platform/com.h"
#include "platform/library.h"

namespace iniplugin::test {
namespace {

using platform::ComPtr;

// What the system's UnRegisterTypeLib answers for a library it does not know.
const HRESULT kNotRegistered = E_INVALIDARG;

class DllEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module = ModuleExports::Load();
    ASSERT_TRUE(m_module) << "INIPLUGIN_MODULE must name the built module (ctest sets it)";
    m_library = m_module->library.get();
    m_getClassObject = m_module->getClassObject;
    m_canUnloadNow = m_module->canUnloadNow;
    m_register = m_module->registerServer;
    m_unregister = m_module->unregisterServer;
    ASSERT_HR(m_canUnloadNow(), S_OK);
  }
  void TearDown() override {
    if (m_canUnloadNow) {
      EXPECT_HR(m_canUnloadNow(), S_OK) << "something still holds the module";
    }
  }

  ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_HR(m_getClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    return factory;
  }

  std::unique_ptr<ModuleExports> m_module;
  platform::LoadedLibrary* m_library = nullptr;
  ModuleExports::GetClassObjectFn m_getClassObject = nullptr;
  ModuleExports::NoArgumentFn m_canUnloadNow = nullptr;
  ModuleExports::NoArgumentFn m_register = nullptr;
  ModuleExports::NoArgumentFn m_unregister = nullptr;
};

TEST_F(DllEntryTest, ExportsOnlyTheEntryPoints) {
  EXPECT_EQ(m_library->Export("OnModuleLoad"), nullptr);
  EXPECT_EQ(m_library->Export("_ZN9iniplugin6Module4LockEv"), nullptr);
}

TEST_F(DllEntryTest, GetClassObject) {
  const CLSID unknown = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_HR(m_getClassObject(unknown, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(m_getClassObject(CLSID_IniFormat, IID_IClassFactory, nullptr), E_POINTER);

  ComPtr<IClassFactory> format = Factory(CLSID_IniFormat);
  EXPECT_EQ(Factory(CLSID_IniFormat).Get(), format.Get());
  ComPtr<IOrvFileFormat> object;
  ASSERT_HR(format->CreateInstance(nullptr, IID_IOrvFileFormat, object.ReceiveVoid()), S_OK);
  platform::UniqueBstr maker, description, extensions;
  ASSERT_HR(object->GetInfo(maker.Receive(), description.Receive(), extensions.Receive()), S_OK);
  EXPECT_EQ(extensions.View(), u"ini,taf");

  ComPtr<IOrvFileNavigatorInit> navigator;
  EXPECT_EQ(Factory(CLSID_IniFile)->CreateInstance(format.Get(), IID_IOrvFileNavigatorInit,
                                                   navigator.ReceiveVoid()),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(Factory(CLSID_IniFile)->CreateInstance(nullptr, IID_IOrvFileNavigatorInit,
                                                   navigator.ReceiveVoid()),
            S_OK);
}

TEST_F(DllEntryTest, CanUnloadNowOnlyWhenNothingHoldsTheModule) {
  {
    ComPtr<IClassFactory> factory = Factory(CLSID_IniFile);
    EXPECT_HR(m_canUnloadNow(), S_FALSE) << "a client holds a factory";
    ASSERT_HR(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_HR(m_canUnloadNow(), S_FALSE) << "the module is locked";
    ASSERT_HR(Factory(CLSID_IniFile)->LockServer(FALSE), S_OK);
    EXPECT_HR(m_canUnloadNow(), S_OK);
  }
  ComPtr<IUnknown> object;
  ASSERT_EQ(Factory(CLSID_IniFormat)->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid()),
            S_OK);
  EXPECT_HR(m_canUnloadNow(), S_FALSE) << "an object is alive";
  object.Reset();
  EXPECT_HR(m_canUnloadNow(), S_OK);
}

// Registration through the entry points, checked in the registry the module wrote to.
class DllRegistrationTest : public DllEntryTest {
 protected:
  void SetUp() override {
    if (!platform::ClassesRootFile().empty() && !std::getenv("INIPLUGIN_REGISTRY")) {
      GTEST_SKIP() << "INIPLUGIN_REGISTRY must name a scratch file (ctest sets it)";
    }
    DllEntryTest::SetUp();
    (void)m_unregister();  // whatever an earlier run left
  }
  void TearDown() override {
    if (m_unregister) (void)m_unregister();
    DllEntryTest::TearDown();
  }
  std::unique_ptr<Registry> ClassesRoot() {
    std::unique_ptr<Registry> registry;
    EXPECT_HR(platform::OpenClassesRoot(&registry), S_OK);
    return registry;
  }
};

std::string Value(Registry& registry, const std::u16string& key, const std::u16string& name = u"") {
  std::u16string text;
  const HRESULT hr = registry.GetValue(key, name, &text);
  return hr == S_OK ? Narrow(text) : "<missing>";
}

TEST_F(DllRegistrationTest, RegistersBothClassesAndTheTypeLibraryAndRemovesThem) {
  ASSERT_HR(m_register(), S_OK);
  const std::string module = Narrow(m_library->FilePath());
  ASSERT_FALSE(module.empty());
  auto registry = ClassesRoot();
  struct Row {
    std::u16string key;
    std::u16string name;
    std::string expected;
  };
  const std::u16string format = u"CLSID\\{8D9885B2-3079-4925-BA06-9FA2B77131F9}";
  const std::u16string file = u"CLSID\\{ADB631DC-4296-4459-AC24-79767E7F3F15}";
  const std::u16string library = u"TypeLib\\{75F3FE65-F866-4B20-B89B-CBFAED227540}\\1.0";
  const Row rows[] = {
      {u"IniPlugin.IniFormat.1\\CLSID", u"", "{8D9885B2-3079-4925-BA06-9FA2B77131F9}"},
      {u"IniPlugin.IniFormat\\CurVer", u"", "IniPlugin.IniFormat.1"},
      {format, u"", "IniFormat Class"},
      {format + u"\\InprocServer32", u"", module},
      {format + u"\\InprocServer32", u"ThreadingModel", "Both"},
      {format + u"\\TypeLib", u"", "{75F3FE65-F866-4B20-B89B-CBFAED227540}"},
      {u"IniPlugin.IniFile.1\\CLSID", u"", "{ADB631DC-4296-4459-AC24-79767E7F3F15}"},
      {u"IniPlugin.IniFile\\CurVer", u"", "IniPlugin.IniFile.1"},
      {file + u"\\ProgID", u"", "IniPlugin.IniFile.1"},
      {file + u"\\VersionIndependentProgID", u"", "IniPlugin.IniFile"},
      {file + u"\\InprocServer32", u"", module},
      {file + u"\\InprocServer32", u"ThreadingModel", "Apartment"},
      {library, u"", "IniPlugin 1.0 Type Library"},
      {library + u"\\FLAGS", u"", "8"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Value(*registry, row.key, row.name), row.expected) << Narrow(row.key);
  }
  std::vector<std::u16string> kinds;
  ASSERT_HR(registry->ListSubkeys(library + u"\\0", &kinds), S_OK);
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(Value(*registry, library + u"\\0\\" + kinds[0]), module);

  ASSERT_HR(m_unregister(), S_OK);
  registry = ClassesRoot();
  for (const std::u16string key :
       {u"IniPlugin.IniFormat.1", u"IniPlugin.IniFormat", u"IniPlugin.IniFile.1",
        u"IniPlugin.IniFile", format.c_str(), file.c_str(),
        u"TypeLib\\{75F3FE65-F866-4B20-B89B-CBFAED227540}"}) {
    EXPECT_HR(registry->KeyExists(key), S_FALSE) << Narrow(key);
  }
  EXPECT_HR(registry->KeyExists(u"CLSID"), S_OK);
  // As on the system: a type library that is not registered cannot be unregistered.
  EXPECT_EQ(m_unregister(), kNotRegistered);
}

}  // namespace
}  // namespace iniplugin::test
