#include "ModuleHost.h"

#include "platform/com_runtime.h"
#include "plugin/Guids.h"

namespace inihost {

using iniplugin::platform::ComPtr;

namespace {
using GetClassObjectFunction = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
using EntryFunction = HRESULT(STDMETHODCALLTYPE*)();
}  // namespace

std::unique_ptr<ModuleHost> ModuleHost::Load(const std::u16string& modulePath,
                                             std::string& error) {
  std::unique_ptr<iniplugin::platform::LoadedLibrary> library =
      iniplugin::platform::LoadedLibrary::Load(modulePath);
  if (!library) {
    error = "the file is missing or is not a loadable module";
    return nullptr;
  }
  return std::unique_ptr<ModuleHost>(new ModuleHost(std::move(library)));
}

ModuleHost::~ModuleHost() = default;

HRESULT ModuleHost::CreateFormat(ComPtr<IOrvFileFormat>& format) {
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(m_library->Export("DllGetClassObject"));
  if (!getClassObject) return E_NOTIMPL;
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_IniFormat, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IOrvFileFormat, format.ReceiveVoid());
}

HRESULT ModuleHost::CallEntry(const char* name) {
  auto entry = reinterpret_cast<EntryFunction>(m_library->Export(name));
  return entry ? entry() : E_NOTIMPL;
}

HRESULT ModuleHost::TakeErrorInfo(IErrorInfo** info) {
  if (m_library->TakeOwnErrorInfo(info) == S_OK) return S_OK;
  return iniplugin::platform::TakeErrorInfo(info);
}

HRESULT ModuleHost::Register() { return CallEntry("DllRegisterServer"); }
HRESULT ModuleHost::Unregister() { return CallEntry("DllUnregisterServer"); }

}  // namespace inihost
