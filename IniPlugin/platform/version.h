// Which Windows the module runs on, as far as the module's decisions need it.
#pragma once

#include "platform/windows_types.h"

namespace iniplugin::platform {

struct OsVersion {
  DWORD platformId = 0;
  DWORD major = 0;
};

// The platform identifier and major version as GetVersionExW reports them. The call's
// result is not tested: a failed query leaves the zero-filled record, which reads as 0.0.
OsVersion QueryOsVersion();

}  // namespace iniplugin::platform
