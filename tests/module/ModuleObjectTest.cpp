// The module object over the module's own object map: class factories, the lock rules
// and aggregation.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "dll/IniPluginApp.h"
#include "dll/ObjectMap.h"
#include "host/OrvHost.h"
#include "module/ClassFactory.h"
#include "module/ExceptionResult.h"
#include "platform/com.h"
#include "plugin/Guids.h"
#include "support/Hresult.h"
#include "valuetext/ValueConversionError.h"

namespace iniplugin::test {
namespace {

using platform::ComPtr;

const CLSID kUnknownClass = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class ModuleObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_locksBefore = Module::LockCount();
    ASSERT_HR(m_module.Init(IniPluginDescription(), nullptr), S_OK);
  }
  void TearDown() override {
    m_module.Term();
    EXPECT_EQ(Module::LockCount(), m_locksBefore) << "something still holds the module";
  }
  LONG Locks() const { return Module::LockCount() - m_locksBefore; }

  ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_HR(m_module.GetClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    return factory;
  }

  ModuleObject m_module;
  LONG m_locksBefore = 0;
};

TEST_F(ModuleObjectTest, UnknownClassGivesClassNotAvailableAndNull) {
  void* out = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(m_module.GetClassObject(kUnknownClass, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(m_module.GetClassObject(CLSID_IniFormat, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_HR(m_module.GetClassObject(CLSID_IniFormat, IID_IOrvFileFormat, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleObjectTest, OneFactoryPerClassAndItsReferencesLockTheModule) {
  ComPtr<IClassFactory> format = Factory(CLSID_IniFormat);
  EXPECT_EQ(Locks(), 1);  // the map's own reference does not count
  ComPtr<IClassFactory> again = Factory(CLSID_IniFormat);
  EXPECT_EQ(format.Get(), again.Get());
  EXPECT_EQ(Locks(), 1);  // 2 -> 3 locks nothing more
  ComPtr<IClassFactory> file = Factory(CLSID_IniFile);
  EXPECT_NE(static_cast<void*>(file.Get()), static_cast<void*>(format.Get()));
  EXPECT_EQ(Locks(), 2);
  again.Reset();
  format.Reset();
  file.Reset();
  EXPECT_EQ(Locks(), 0);
  EXPECT_HR(m_module.CanUnloadNow(), S_OK);
}

TEST_F(ModuleObjectTest, ConcurrentRequestsGetTheSameFactory) {
  std::vector<IUnknown*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      void* factory = nullptr;
      if (m_module.GetClassObject(CLSID_IniFile, IID_IUnknown, &factory) == S_OK) {
        seen[i] = static_cast<IUnknown*>(factory);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (IUnknown* factory : seen) EXPECT_EQ(factory, seen[0]);
  for (IUnknown* factory : seen) {
    if (factory) factory->Release();
  }
}

TEST_F(ModuleObjectTest, LockServerAndObjectsHoldTheModule) {
  ComPtr<IClassFactory> factory = Factory(CLSID_IniFormat);
  const LONG base = Locks();
  EXPECT_HR(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(Locks(), base + 1);
  EXPECT_HR(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(Locks(), base);

  ComPtr<IOrvFileFormat> object;
  ASSERT_HR(factory->CreateInstance(nullptr, IID_IOrvFileFormat, object.ReceiveVoid()), S_OK);
  EXPECT_EQ(Locks(), base + 1);
  // An unlock nobody locked must not give away the object's lock.
  EXPECT_HR(factory->LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(Locks(), base + 1);
  object.Reset();
  EXPECT_EQ(Locks(), base);
}

TEST_F(ModuleObjectTest, CreateInstanceResults) {
  for (const CLSID* clsid : {&CLSID_IniFormat, &CLSID_IniFile}) {
    ComPtr<IClassFactory> factory = Factory(*clsid);
    EXPECT_HR(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    // An outer object may only ask for the inner object's IUnknown.
    IUnknown* outer = factory.Get();  // any IUnknown will do: it is never called
    void* out = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_HR(factory->CreateInstance(outer, IID_IOrvFileFormat, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  ComPtr<IOrvFileFormat> format;
  ASSERT_EQ(Factory(CLSID_IniFormat)->CreateInstance(nullptr, IID_IOrvFileFormat,
                                                     format.ReceiveVoid()),
            S_OK);
  platform::UniqueBstr maker, description, extensions;
  ASSERT_HR(format->GetInfo(maker.Receive(), description.Receive(), extensions.Receive()), S_OK);
  EXPECT_EQ(maker.View(), u"QUARRYLINE");
}

// An outer object that aggregates one inner object and counts its own references.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_inner->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

  ULONG m_refs = 1;
  ComPtr<IUnknown> m_inner;
};

TEST_F(ModuleObjectTest, AggregatedObjectsShareTheOuterIdentity) {
  for (const CLSID* clsid : {&CLSID_IniFormat, &CLSID_IniFile}) {
    Outer outer;
    {
      ComPtr<IClassFactory> factory = Factory(*clsid);
      ASSERT_HR(factory->CreateInstance(&outer, IID_IUnknown, outer.m_inner.ReceiveVoid()), S_OK);
    }
    EXPECT_EQ(Locks(), 1) << "the aggregated object holds the module";
    EXPECT_EQ(outer.m_refs, 1u) << "creation must not keep a reference to the outer object";

    // The inner unknown is its own: it answers IUnknown with itself.
    ComPtr<IUnknown> inner;
    ASSERT_HR(outer.m_inner->QueryInterface(IID_IUnknown, inner.ReceiveVoid()), S_OK);
    EXPECT_EQ(inner.Get(), outer.m_inner.Get());
    inner.Reset();

    // Any other interface belongs to the outer object: it counts on the outer object and
    // leads back to the outer IUnknown.
    const IID& own = clsid == &CLSID_IniFormat ? IID_IOrvFileFormat : IID_IOrvFileNavigatorInit;
    ComPtr<IUnknown> part;
    ASSERT_HR(outer.QueryInterface(own, part.ReceiveVoid()), S_OK);
    EXPECT_EQ(outer.m_refs, 2u);
    ComPtr<IUnknown> identity;
    ASSERT_HR(part->QueryInterface(IID_IUnknown, identity.ReceiveVoid()), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    identity.Reset();
    part.Reset();
    EXPECT_EQ(outer.m_refs, 1u);

    outer.m_inner.Reset();
    EXPECT_EQ(Locks(), 0);
  }
}

TEST_F(ModuleObjectTest, TermReleasesTheCachedFactories) {
  ComPtr<IClassFactory> held = Factory(CLSID_IniFormat);
  m_module.Term();
  EXPECT_EQ(Locks(), 0) << "the client's reference is now the last";
  // The client's factory still works; a new request makes a new one.
  ComPtr<IOrvFileFormat> format;
  EXPECT_HR(held->CreateInstance(nullptr, IID_IOrvFileFormat, format.ReceiveVoid()), S_OK);
  format.Reset();
  ASSERT_HR(m_module.Init(IniPluginDescription(), nullptr), S_OK);
  EXPECT_NE(static_cast<void*>(Factory(CLSID_IniFormat).Get()), static_cast<void*>(held.Get()));
}

TEST(IniPluginApp, InitInstanceBindsTheObjectMapAndExitInstanceReleasesIt) {
  const LONG locksBefore = Module::LockCount();
  ModuleObject module;
  CIniPluginApp app(module);
  EXPECT_EQ(app.InitInstance(nullptr), TRUE);
  ASSERT_EQ(module.Description().objectMap.size(), 2u);
  EXPECT_TRUE(IsEqualCLSID(*module.Description().objectMap[0].clsid, CLSID_IniFormat));
  EXPECT_TRUE(IsEqualCLSID(*module.Description().objectMap[1].clsid, CLSID_IniFile));
  void* factory = nullptr;
  ASSERT_HR(module.GetClassObject(CLSID_IniFile, IID_IClassFactory, &factory), S_OK);
  static_cast<IUnknown*>(factory)->Release();
  EXPECT_EQ(app.ExitInstance(), 0);
  EXPECT_EQ(Module::LockCount(), locksBefore);
}

TEST(ExceptionResult, EachExceptionBecomesItsResult) {
  struct Row {
    const char* thrown;
    std::function<void()> raise;
    HRESULT expected;
  };
  const Row rows[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {"a derived bad_alloc", [] { throw std::bad_array_new_length(); }, E_OUTOFMEMORY},
      {"length_error",
       [] {
         std::u16string text;
         text.resize(text.max_size() + 1);
       },
       E_OUTOFMEMORY},
      {"an error carrying its result",
       [] { throw platform::HResultError(DISP_E_TYPEMISMATCH, "x"); }, DISP_E_TYPEMISMATCH},
      {"a value conversion error", [] { throw valuetext::ValueConversionError(DISP_E_OVERFLOW); },
       DISP_E_OVERFLOW},
      {"an error carrying a success code", [] { throw platform::HResultError(S_FALSE, "x"); },
       E_UNEXPECTED},
      {"a lock's system_error",
       [] { throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur)); },
       E_UNEXPECTED},
      {"out_of_range, a logic_error like length_error", [] { throw std::out_of_range("x"); },
       E_UNEXPECTED},
      {"runtime_error", [] { throw std::runtime_error("x"); }, E_UNEXPECTED},
      {"no std::exception at all", [] { throw 42; }, E_UNEXPECTED},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.thrown);
    HRESULT caught = S_OK;
    try {
      row.raise();
    } catch (...) {
      caught = HResultFromCurrentException();
    }
    EXPECT_EQ(caught, row.expected);
    EXPECT_EQ(ResultOf([&] {
                row.raise();
                return S_OK;
              }),
              row.expected);
  }
  EXPECT_HR(ResultOf([] { return S_FALSE; }), S_FALSE) << "a call that throws nothing";
}

}  // namespace
}  // namespace iniplugin::test
