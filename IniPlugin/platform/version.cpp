#include "platform/version.h"

namespace iniplugin::platform {

OsVersion QueryOsVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  // Deliberately untested: a failed query leaves the zeros, which decide like any
  // version that is not NT 4.
  (void)::GetVersionExW(&info);
  return OsVersion{info.dwPlatformId, info.dwMajorVersion};
}

}  // namespace iniplugin::platform
