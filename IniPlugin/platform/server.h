// What an in-process component server needs from the system: to hear of its own loading
// and unloading, its file and resources, the marshaling code generated for its
// interfaces, and the registration of its type library.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows_types.h"

namespace iniplugin::platform {

// Implemented by the module. The system calls OnModuleLoad when it loads the module
// (DllMain on Windows, the shared library's constructor elsewhere) and OnModuleUnload
// when it unloads it. `instance` identifies the module to the functions below. A false
// result refuses the load where the system allows that.
bool OnModuleLoad(HINSTANCE instance);
void OnModuleUnload();

// The full path of the module file holding `instance`.
HRESULT GetModuleFilePath(HINSTANCE instance, std::u16string* path);

// The bytes of the module's resource of `type` and `id`. On Windows they come from the
// module file's resources; elsewhere from the copies compiled into the module
// (platform/embedded_resources.h). HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)
// when there is none.
HRESULT LoadModuleResource(HINSTANCE instance, std::u16string_view type, int id,
                           std::string* bytes);

// The marshaling code (proxy and stub) generated for the module's own interfaces, known
// to the system under the class id `proxyClsid`. Where the system has no RPC runtime
// there is no such code: it offers no class object, never holds the module and has
// nothing to register.
HRESULT ProxyStubGetClassObject(REFCLSID proxyClsid, REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT ProxyStubCanUnloadNow();
HRESULT ProxyStubRegister(HINSTANCE instance, REFCLSID proxyClsid);
HRESULT ProxyStubUnregister(HINSTANCE instance, REFCLSID proxyClsid);

// The module's type library as its registration names it.
struct TypeLibraryIdentity {
  GUID libid;
  WORD majorVersion;
  WORD minorVersion;
  LCID locale;
  std::u16string_view helpString;
};

// Registers the type library of the module at `modulePath`. On Windows the library is
// loaded from the module's TYPELIB resource or, failing that, from the ".tlb" file beside
// the module, and registered by the system under the path it was loaded from; elsewhere
// `identity` is recorded in the registry (OpenClassesRoot) as the system would record it.
HRESULT RegisterTypeLibrary(const std::u16string& modulePath, const TypeLibraryIdentity& identity);
HRESULT UnregisterTypeLibrary(const std::u16string& modulePath,
                              const TypeLibraryIdentity& identity);

}  // namespace iniplugin::platform
