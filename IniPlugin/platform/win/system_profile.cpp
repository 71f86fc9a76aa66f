#include "platform/system_profile.h"

namespace iniplugin::platform {

namespace {
DWORD SystemGetPrivateProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText,
                                    LPWSTR buffer, DWORD size, LPCWSTR file) {
  return ::GetPrivateProfileStringW(section, key, defaultText, buffer, size, file);
}
BOOL SystemWritePrivateProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                     LPCWSTR file) {
  return ::WritePrivateProfileStringW(section, key, value, file);
}
}  // namespace

const SystemProfileFunctions* SystemProfile() {
  static constexpr SystemProfileFunctions functions{&SystemGetPrivateProfileString,
                                                    &SystemWritePrivateProfileString};
  return &functions;
}

}  // namespace iniplugin::platform
