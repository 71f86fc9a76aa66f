#include <cstdlib>

#include "platform/portable.h"

namespace iniplugin::portable {

bool ParseOsVersion(const char* text, OSVERSIONINFOW* info) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const unsigned long platform = std::strtoul(text, &end, 10);
  if (end == text || *end != '.') return false;
  const char* majorText = end + 1;
  const unsigned long major = std::strtoul(majorText, &end, 10);
  if (end == majorText || *end != '\0') return false;
  info->dwPlatformId = static_cast<DWORD>(platform);
  info->dwMajorVersion = static_cast<DWORD>(major);
  return true;
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return 0;
  return ParseOsVersion(std::getenv("INIPLUGIN_OS_VERSION"), info) ? 1 : 0;
}

}  // namespace iniplugin::portable
