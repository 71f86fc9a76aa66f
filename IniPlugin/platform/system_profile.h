// The system's own profile functions, for the systems that have them.
#pragma once

#include "platform/windows_types.h"

namespace iniplugin::platform {

// GetPrivateProfileStringW and WritePrivateProfileStringW.
struct SystemProfileFunctions {
  DWORD (*read)(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer, DWORD size,
                LPCWSTR file);
  BOOL (*write)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);
};
// Null where the system has none (everywhere but Windows).
const SystemProfileFunctions* SystemProfile();

}  // namespace iniplugin::platform
