#include "profile/Route.h"

#include "platform/profile_api.h"
#include "profile/Profile.h"

namespace iniplugin::profile {

DWORD ReadProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
                        DWORD size, LPCWSTR file) {
  if (const platform::SystemProfileFunctions* system = platform::SystemProfile()) {
    return system->read(section, key, defaultText, buffer, size, file);
  }
  return GetPrivateProfileStringW(section, key, defaultText, buffer, size, file);
}

BOOL WriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (const platform::SystemProfileFunctions* system = platform::SystemProfile()) {
    return system->write(section, key, value, file);
  }
  return WritePrivateProfileStringW(section, key, value, file);
}

}  // namespace iniplugin::profile
