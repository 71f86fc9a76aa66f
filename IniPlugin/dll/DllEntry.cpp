// The module's exported entry points. The marshaling code for the module's own
// interfaces is asked first; the object map answers what it does not.
#include "dll/IniPluginApp.h"
#include "module/ExceptionResult.h"
#include "module/Module.h"
#include "platform/server.h"

namespace {

// The module object lives from the first to the last notification of the system: it is
// constant-initialised, so it exists before the load notification however the module's
// static constructors are ordered, and it is never destroyed, because the unload
// notification may come after the static destructors (at process exit on Linux).
union ModuleObjectStorage {
  constexpr ModuleObjectStorage() : object() {}
  ~ModuleObjectStorage() {}
  iniplugin::ModuleObject object;
};
constinit ModuleObjectStorage g_storage;
iniplugin::ModuleObject& g_module = g_storage.object;
constinit iniplugin::CIniPluginApp g_app(g_storage.object);

}  // namespace

namespace iniplugin::platform {

bool OnModuleLoad(HINSTANCE instance) { return g_app.InitInstance(instance) != FALSE; }

void OnModuleUnload() { g_app.ExitInstance(); }

}  // namespace iniplugin::platform

// The module object's methods translate their own exceptions; these catch what the
// marshaling code's glue might throw, so that nothing crosses into the caller.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  try {
    const HRESULT hr = iniplugin::platform::ProxyStubGetClassObject(
        g_module.Description().proxyStubClsid, rclsid, riid, ppv);
    if (hr == S_OK) return hr;
    return g_module.GetClassObject(rclsid, riid, ppv);
  } catch (...) {
    return iniplugin::HResultFromCurrentException();
  }
}

STDAPI DllCanUnloadNow() {
  try {
    if (iniplugin::platform::ProxyStubCanUnloadNow() != S_OK) return S_FALSE;
    return g_module.CanUnloadNow();
  } catch (...) {
    return iniplugin::HResultFromCurrentException();
  }
}

STDAPI DllRegisterServer() {
  try {
    return g_module.RegisterServer();
  } catch (...) {
    return iniplugin::HResultFromCurrentException();
  }
}

STDAPI DllUnregisterServer() {
  try {
    return g_module.UnregisterServer();
  } catch (...) {
    return iniplugin::HResultFromCurrentException();
  }
}
