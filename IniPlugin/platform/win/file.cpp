#include "platform/file.h"

#include <string>

#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

namespace {

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

// How long (in 100 ns ticks) after a change another change could still leave the same
// timestamp: a few clock ticks where timestamps carry fractions of a second (NTFS), two
// seconds where they are whole seconds (FAT counts in two-second steps).
std::int64_t TimestampWindowTicks(std::int64_t modified) {
  return modified % 10'000'000 != 0 ? 1'000'000 : 20'000'000;
}

}  // namespace

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return {};
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(::_wfopen(AsWide(path.c_str()), wideMode.c_str()));
}

std::optional<FileStamp> QueryFileStamp(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(AsWide(path.c_str()), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = Ticks(data.ftLastWriteTime);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  stamp.recent = Ticks(now) - stamp.modified < TimestampWindowTicks(stamp.modified);
  return stamp;
}

}  // namespace iniplugin::platform
