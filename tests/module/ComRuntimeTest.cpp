// The module as the Windows component runtime sees it, under Wine: registered by
// regsvr32, created by CoCreateInstance, described by its type library and version
// resource, and marshaled by its own proxy/stub code. Windows build only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "host/OrvHost.h"
#include "plugin/Guids.h"
#include "platform/com.h"
#include "platform/library.h"
#include "platform/wide.h"
#include "support/Files.h"
#include "support/Hresult.h"

namespace iniplugin::test {
namespace {

using platform::AsWide;
using platform::ComPtr;

// The module's path as Windows names it.
std::u16string ModulePath() {
  const char* unixPath = std::getenv("INIPLUGIN_MODULE");
  if (!unixPath) return {};
  auto library = platform::LoadedLibrary::Load(
      std::u16string(unixPath, unixPath + std::strlen(unixPath)));
  return library ? library->FilePath() : std::u16string();
}

int RunRegsvr32(const char* options, const std::u16string& module) {
  const std::string command = std::string("regsvr32 ") + options + " \"" + Narrow(module) + "\"";
  return std::system(command.c_str());
}

class ComRuntimeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_module = ModulePath();
    ASSERT_FALSE(s_module.empty()) << "INIPLUGIN_MODULE must name the built module";
    ASSERT_EQ(RunRegsvr32("/s", s_module), 0);
  }
  static void TearDownTestSuite() {
    if (!s_module.empty()) {
      EXPECT_EQ(RunRegsvr32("/u /s", s_module), 0);
    }
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { ::CoUninitialize(); }

  static std::u16string s_module;
};
std::u16string ComRuntimeTest::s_module;

TEST_F(ComRuntimeTest, ProgIdsLeadToClassesThatCreateWorkingObjects) {
  struct Row {
    const char16_t* progId;
    const CLSID* clsid;
  };
  for (const Row& row : {Row{u"IniPlugin.IniFormat.1", &CLSID_IniFormat},
                         Row{u"IniPlugin.IniFormat", &CLSID_IniFormat},
                         Row{u"IniPlugin.IniFile.1", &CLSID_IniFile},
                         Row{u"IniPlugin.IniFile", &CLSID_IniFile}}) {
    SCOPED_TRACE(Narrow(row.progId));
    CLSID clsid{};
    ASSERT_HR(::CLSIDFromProgID(AsWide(row.progId), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, *row.clsid));
  }

  ComPtr<IOrvFileFormat> format;
  ASSERT_EQ(::CoCreateInstance(CLSID_IniFormat, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvFileFormat,
                               format.ReceiveVoid()),
            S_OK);
  platform::UniqueBstr maker, description, extensions;
  ASSERT_HR(format->GetInfo(maker.Receive(), description.Receive(), extensions.Receive()), S_OK);
  EXPECT_EQ(maker.View(), u"QUARRYLINE");

  ComPtr<IOrvFileNavigatorInit> navigator;
  ASSERT_EQ(::CoCreateInstance(CLSID_IniFile, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IOrvFileNavigatorInit, navigator.ReceiveVoid()),
            S_OK);
  platform::UniqueBstr path = platform::UniqueBstr::FromText(u"C:\\nowhere.ini");
  EXPECT_HR(navigator->Init(path.Get(), 0), S_OK);
}

TEST_F(ComRuntimeTest, TheOwnInterfacesAreMarshaledByTheModulesProxies) {
  ComPtr<IUnknown> file;
  ASSERT_EQ(::CoCreateInstance(CLSID_IniFile, nullptr, CLSCTX_INPROC_SERVER, IID_IIniFile,
                               file.ReceiveVoid()),
            S_OK);
  IStream* stream = nullptr;
  ASSERT_HR(::CoMarshalInterThreadInterfaceInStream(IID_IIniFile, file.Get(), &stream), S_OK);
  HRESULT unmarshaled = E_FAIL;
  HRESULT queried = E_FAIL;
  IUnknown* seen = nullptr;
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(done, nullptr);
  std::thread other([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComPtr<IUnknown> proxy;
    unmarshaled = ::CoGetInterfaceAndReleaseStream(stream, IID_IIniFile, proxy.ReceiveVoid());
    if (proxy) {
      seen = proxy.Get();
      ComPtr<IUnknown> again;
      queried = proxy->QueryInterface(IID_IIniFile, again.ReceiveVoid());
    }
    proxy.Reset();
    ::CoUninitialize();
    ::SetEvent(done);
  });
  // The apartment of the object serves the other thread's calls while it waits.
  DWORD index = 0;
  ::CoWaitForMultipleHandles(0, 30000, 1, &done, &index);
  other.join();
  ::CloseHandle(done);
  EXPECT_HR(unmarshaled, S_OK) << std::hex << unmarshaled;
  EXPECT_HR(queried, S_OK) << std::hex << queried;
  EXPECT_NE(seen, file.Get()) << "the other apartment must get a proxy, not the object";
}

TEST_F(ComRuntimeTest, TheTypeLibraryDescribesTheModulesConstants) {
  ComPtr<ITypeLib> library;
  ASSERT_HR(::LoadTypeLibEx(AsWide(s_module.c_str()), REGKIND_NONE, library.Receive()), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_HR(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_INIPLUGINLib));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, kTypeLibraryLocale);
  library->ReleaseTLibAttr(attributes);

  platform::UniqueBstr name, help;
  ASSERT_HR(library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.View(), u"INIPLUGINLib");
  EXPECT_EQ(help.View(), u"IniPlugin 1.0 Type Library");

  struct Row {
    const CLSID* clsid;
    const char16_t* help;
    const IID* iid;
    const char16_t* interfaceHelp;
  };
  for (const Row& row : {Row{&CLSID_IniFormat, u"IniFormat Class", &IID_IIniFormat,
                             u"IIniFormat Interface"},
                         Row{&CLSID_IniFile, u"IniFile Class", &IID_IIniFile,
                             u"IIniFile Interface"}}) {
    SCOPED_TRACE(Narrow(row.help));
    ComPtr<ITypeInfo> coclass;
    ASSERT_HR(library->GetTypeInfoOfGuid(*row.clsid, coclass.Receive()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_HR(coclass->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(type->cImplTypes, 1);
    coclass->ReleaseTypeAttr(type);
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, nullptr, help.Receive(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(help.View(), row.help);

    HREFTYPE reference = 0;
    ASSERT_HR(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ComPtr<ITypeInfo> interfaceInfo;
    ASSERT_HR(coclass->GetRefTypeInfo(reference, interfaceInfo.Receive()), S_OK);
    ASSERT_HR(interfaceInfo->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type->guid, *row.iid));
    EXPECT_EQ(type->typekind, TKIND_INTERFACE);
    EXPECT_EQ(type->cFuncs, 0);
    EXPECT_FALSE(type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    interfaceInfo->ReleaseTypeAttr(type);
    ASSERT_EQ(interfaceInfo->GetDocumentation(MEMBERID_NIL, nullptr, help.Receive(), nullptr,
                                              nullptr),
              S_OK);
    EXPECT_EQ(help.View(), row.interfaceHelp);
  }
}

TEST_F(ComRuntimeTest, TheVersionResourceSaysTheModuleRegistersItself) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(AsWide(s_module.c_str()), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoW(AsWide(s_module.c_str()), 0, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  EXPECT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\OLESelfRegister",
                               &value, &length));
  EXPECT_LE(length, 1u);  // empty text
}

}  // namespace
}  // namespace iniplugin::test
