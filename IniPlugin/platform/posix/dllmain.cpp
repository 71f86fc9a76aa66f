// The shared library's load and unload, told to the module as DllMain would tell it on
// Windows. Linked into the module only. The unload runs before the module's static
// destructors, as process detach does.
#include "platform/server.h"

namespace {

__attribute__((constructor)) void ModuleLoaded() {
  // Any address inside the module identifies it (GetModuleFilePath asks the loader).
  (void)iniplugin::platform::OnModuleLoad(reinterpret_cast<HINSTANCE>(&ModuleLoaded));
}

__attribute__((destructor)) void ModuleUnloaded() { iniplugin::platform::OnModuleUnload(); }

}  // namespace
