// The system's component runtime. Hosts create objects of registered in-process classes
// through it: on Windows the system's own; elsewhere the registry file that registration
// wrote, loading the module its InprocServer32 names. Objects aggregate its free-threaded
// marshaler.
#pragma once

#include <string_view>

#include "platform/windows_types.h"

namespace iniplugin::platform {

// Resolves the ProgID to its class id through the registry, then creates an object of
// that class and queries it for `riid`.
HRESULT CreateRegisteredObject(std::u16string_view progId, REFIID riid, void** object);

// Takes the calling thread's error object, which a failed call of an object left: on
// Windows the system keeps it for every module; elsewhere each module the runtime loaded
// keeps its own (and exports GetErrorInfo), so each is asked in turn. S_FALSE when none.
HRESULT TakeErrorInfo(IErrorInfo** info);

// Ends this thread's use of the runtime and unloads what it loaded. Call only once every
// object it created has been released.
void ReleaseRegisteredObjects();

// Creates the free-threaded marshaler aggregated by `outer`. Where the system has none,
// it succeeds and leaves *marshaler null.
HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

}  // namespace iniplugin::platform
