// Creating objects of registered in-process classes, as a host does: through the system's
// component runtime on Windows; elsewhere through the registry file that registration
// wrote, loading the module its InprocServer32 names.
#pragma once

#include <string_view>

#include "platform/windows_types.h"

namespace iniplugin::platform {

// Resolves the ProgID to its class id through the registry, then creates an object of
// that class and queries it for `riid`.
HRESULT CreateRegisteredObject(std::u16string_view progId, REFIID riid, void** object);

// Ends this thread's use of the runtime and unloads what it loaded. Call only once every
// object it created has been released.
void ReleaseRegisteredObjects();

}  // namespace iniplugin::platform
