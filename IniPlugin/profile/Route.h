// The profile functions that serve the module's files: the system's own where it has them
// (Windows), ours everywhere else.
#pragma once

#include "platform/windows_types.h"

namespace iniplugin::profile {

DWORD ReadProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
                        DWORD size, LPCWSTR file);
BOOL WriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

}  // namespace iniplugin::profile
