#include "platform/com.h"
#include "platform/server.h"
#include "platform/wide.h"

// The entries of the generated marshaling code (platform/win/proxystub_glue.c).
extern "C" {
HRESULT ProxyStubEntryGetClassObject(const CLSID* proxyClsid, const CLSID* rclsid,
                                     const IID* riid, void** ppv);
HRESULT ProxyStubEntryCanUnloadNow();
HRESULT ProxyStubEntryRegister(HINSTANCE instance, const CLSID* proxyClsid);
HRESULT ProxyStubEntryUnregister(HINSTANCE instance, const CLSID* proxyClsid);
}

namespace iniplugin::platform {

HRESULT GetModuleFilePath(HINSTANCE instance, std::u16string* path) {
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameW(instance, AsWide(buffer.data()), size);
    if (length == 0) return HRESULT_FROM_WIN32(::GetLastError());
    // A path that filled the buffer may have been cut short.
    if (length < size) {
      buffer.resize(length);
      *path = std::move(buffer);
      return S_OK;
    }
    buffer.resize(buffer.size() * 2);
  }
}

HRESULT LoadModuleResource(HINSTANCE instance, std::u16string_view type, int id,
                           std::string* bytes) {
  const std::u16string typeName(type);
  HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(id), AsWide(typeName.c_str()));
  if (!found) return HRESULT_FROM_WIN32(::GetLastError());
  HGLOBAL loaded = ::LoadResource(instance, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return HRESULT_FROM_WIN32(::GetLastError());
  bytes->assign(static_cast<const char*>(data), ::SizeofResource(instance, found));
  return S_OK;
}

HRESULT ProxyStubGetClassObject(REFCLSID proxyClsid, REFCLSID rclsid, REFIID riid, void** ppv) {
  return ProxyStubEntryGetClassObject(&proxyClsid, &rclsid, &riid, ppv);
}

HRESULT ProxyStubCanUnloadNow() { return ProxyStubEntryCanUnloadNow(); }

HRESULT ProxyStubRegister(HINSTANCE instance, REFCLSID proxyClsid) {
  return ProxyStubEntryRegister(instance, &proxyClsid);
}

HRESULT ProxyStubUnregister(HINSTANCE instance, REFCLSID proxyClsid) {
  return ProxyStubEntryUnregister(instance, &proxyClsid);
}

namespace {

// Loads the type library from the module's resource or, failing that, from the ".tlb"
// file of the same name beside it; *loadedFrom says which.
HRESULT LoadModuleTypeLibrary(const std::u16string& modulePath, ComPtr<ITypeLib>* library,
                              std::u16string* loadedFrom) {
  *loadedFrom = modulePath;
  HRESULT hr = ::LoadTypeLibEx(AsWide(modulePath.c_str()), REGKIND_NONE, library->Receive());
  if (SUCCEEDED(hr)) return hr;
  const std::size_t name = modulePath.find_last_of(u"\\/") + 1;
  const std::size_t dot = modulePath.find_last_of(u'.');
  std::u16string beside =
      modulePath.substr(0, dot != std::u16string::npos && dot > name ? dot : modulePath.size());
  beside += u".tlb";
  hr = ::LoadTypeLibEx(AsWide(beside.c_str()), REGKIND_NONE, library->Receive());
  if (SUCCEEDED(hr)) *loadedFrom = std::move(beside);
  return hr;
}

}  // namespace

// On Windows the library itself says what to register; `identity` is for systems without
// a type-library runtime.
HRESULT RegisterTypeLibrary(const std::u16string& modulePath, const TypeLibraryIdentity&) {
  ComPtr<ITypeLib> library;
  std::u16string loadedFrom;
  if (const HRESULT hr = LoadModuleTypeLibrary(modulePath, &library, &loadedFrom); FAILED(hr)) {
    return hr;
  }
  return ::RegisterTypeLib(library.Get(), AsWide(loadedFrom.data()), nullptr);
}

HRESULT UnregisterTypeLibrary(const std::u16string& modulePath, const TypeLibraryIdentity&) {
  ComPtr<ITypeLib> library;
  std::u16string loadedFrom;
  if (const HRESULT hr = LoadModuleTypeLibrary(modulePath, &library, &loadedFrom); FAILED(hr)) {
    return hr;
  }
  TLIBATTR* attributes = nullptr;
  if (const HRESULT hr = library->GetLibAttr(&attributes); FAILED(hr)) return hr;
  const HRESULT hr = ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                         attributes->wMinorVerNum, attributes->lcid,
                                         attributes->syskind);
  library->ReleaseTLibAttr(attributes);
  return hr;
}

}  // namespace iniplugin::platform
