#include "ProfileApi.h"
#include "profile/FileRoute.h"

namespace iniplugin::test {

namespace {
DWORD ReadThroughSdkNames(const char16_t* section, const char16_t* key,
                          const char16_t* defaultText, char16_t* buffer, DWORD size,
                          const char16_t* file) {
  return profile::ReadProfileString(section, key, defaultText, buffer, size, file);
}
BOOL WriteThroughSdkNames(const char16_t* section, const char16_t* key, const char16_t* value,
                          const char16_t* file) {
  return profile::WriteProfileString(section, key, value, file);
}
}  // namespace

const ProfileApi& SystemProfile() {
  static const ProfileApi api{&ReadThroughSdkNames, &WriteThroughSdkNames, "SDK-named"};
  return api;
}

bool SystemProfileIsPlatformOwn() { return false; }

}  // namespace iniplugin::test
