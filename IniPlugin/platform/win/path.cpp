#include "platform/path.h"

#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

std::u16string FullPath(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return path;
  const DWORD needed = ::GetFullPathNameW(AsWide(path.c_str()), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::u16string full(needed, u'\0');
  const DWORD got = ::GetFullPathNameW(AsWide(path.c_str()), needed, AsWide(full.data()), nullptr);
  if (got == 0 || got >= needed) return path;
  full.resize(got);
  return full;
}

}  // namespace iniplugin::platform
