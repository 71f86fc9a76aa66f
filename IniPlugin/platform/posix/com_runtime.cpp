#include "platform/com_runtime.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/library.h"
#include "platform/portable.h"
#include "platform/registry.h"

namespace iniplugin::platform {

namespace {

// Modules stay loaded while their objects may live, as the runtime keeps them.
std::vector<std::unique_ptr<LoadedLibrary>>& LoadedModules() {
  static std::vector<std::unique_ptr<LoadedLibrary>> modules;
  return modules;
}

// The system's answers for a class that is not registered and for an unknown ProgID.
constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);
constexpr HRESULT kInvalidProgId = static_cast<HRESULT>(0x800401F3);

using GetClassObjectFunction = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);

}  // namespace

HRESULT CreateRegisteredObject(std::u16string_view progId, REFIID riid, void** object) {
  *object = nullptr;
  std::unique_ptr<Registry> registry;
  HRESULT hr = OpenClassesRoot(&registry);
  if (FAILED(hr)) return hr;
  std::u16string clsidText;
  hr = registry->GetValue(std::u16string(progId) + u"\\CLSID", u"", &clsidText);
  CLSID clsid;
  if (hr != S_OK || !portable::GuidFromString(clsidText, &clsid)) return kInvalidProgId;
  std::u16string modulePath;
  hr = registry->GetValue(u"CLSID\\" + clsidText + u"\\InprocServer32", u"", &modulePath);
  if (hr != S_OK || modulePath.empty()) return kClassNotRegistered;

  std::unique_ptr<LoadedLibrary> module = LoadedLibrary::Load(modulePath);
  if (!module) return kClassNotRegistered;
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(module->Export("DllGetClassObject"));
  if (!getClassObject) return kClassNotRegistered;
  ComPtr<IClassFactory> factory;
  hr = getClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, riid, object);
  factory.Reset();
  LoadedModules().push_back(std::move(module));
  return hr;
}

HRESULT TakeErrorInfo(IErrorInfo** info) {
  for (const std::unique_ptr<LoadedLibrary>& module : LoadedModules()) {
    if (module->TakeOwnErrorInfo(info) == S_OK) return S_OK;
  }
  return GetErrorInfo(0, info);
}

void ReleaseRegisteredObjects() { LoadedModules().clear(); }

HRESULT CreateFreeThreadedMarshaler(IUnknown*, IUnknown** marshaler) {
  *marshaler = nullptr;
  return S_OK;
}

}  // namespace iniplugin::platform
