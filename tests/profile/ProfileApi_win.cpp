#include "ProfileApi.h"

namespace iniplugin::test {

namespace {
using platform::AsWide;

DWORD ReadThroughPlatform(const char16_t* section, const char16_t* key,
                          const char16_t* defaultText, char16_t* buffer, DWORD size,
                          const char16_t* file) {
  return ::GetPrivateProfileStringW(AsWide(section), AsWide(key), AsWide(defaultText),
                                    AsWide(buffer), size, AsWide(file));
}
BOOL WriteThroughPlatform(const char16_t* section, const char16_t* key, const char16_t* value,
                          const char16_t* file) {
  return ::WritePrivateProfileStringW(AsWide(section), AsWide(key), AsWide(value), AsWide(file));
}
}  // namespace

const ProfileApi& SystemProfile() {
  static const ProfileApi api{&ReadThroughPlatform, &WriteThroughPlatform, "platform"};
  return api;
}

bool SystemProfileIsPlatformOwn() { return true; }

}  // namespace iniplugin::test
