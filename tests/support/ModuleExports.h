// The built module, loaded as the component runtime loads it, and its four exported entry
// points.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/library.h"
#include "platform/windows_types.h"

namespace iniplugin::test {

struct ModuleExports {
  using GetClassObjectFn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
  using NoArgumentFn = HRESULT(STDMETHODCALLTYPE*)();

  // The module that INIPLUGIN_MODULE names (ctest sets it); null when it cannot be loaded
  // or lacks an entry point.
  static std::unique_ptr<ModuleExports> Load() {
    const char* path = std::getenv("INIPLUGIN_MODULE");
    if (!path) return nullptr;
    auto module = std::make_unique<ModuleExports>();
    module->library = platform::LoadedLibrary::Load(std::u16string(path, path + std::strlen(path)));
    if (!module->library) return nullptr;
    const platform::LoadedLibrary& library = *module->library;
    module->getClassObject = reinterpret_cast<GetClassObjectFn>(library.Export("DllGetClassObject"));
    module->canUnloadNow = reinterpret_cast<NoArgumentFn>(library.Export("DllCanUnloadNow"));
    module->registerServer = reinterpret_cast<NoArgumentFn>(library.Export("DllRegisterServer"));
    module->unregisterServer = reinterpret_cast<NoArgumentFn>(library.Export("DllUnregisterServer"));
    const bool complete = module->getClassObject && module->canUnloadNow &&
                          module->registerServer && module->unregisterServer;
    return complete ? std::move(module) : nullptr;
  }

  std::unique_ptr<platform::LoadedLibrary> library;
  GetClassObjectFn getClassObject = nullptr;
  NoArgumentFn canUnloadNow = nullptr;
  NoArgumentFn registerServer = nullptr;
  NoArgumentFn unregisterServer = nullptr;
};

}  // namespace iniplugin::test
