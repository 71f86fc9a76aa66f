// The module's own names for what it needs from the operating system. Each has one
// Windows implementation (platform/win) and one for other systems (platform/posix).
#pragma once

#include <string>
#include <string_view>

#include "platform/windows_types.h"

namespace iniplugin::platform {

struct OsVersion {
  DWORD platformId = 0;
  DWORD major = 0;
};

// The platform identifier and major version as GetVersionExW reports them. The call's
// result is not tested: a failed query leaves the zero-filled record, which reads as 0.0.
OsVersion QueryOsVersion();

// Conversions between the system's ANSI code page and UTF-16.
std::u16string AnsiToUtf16(std::string_view bytes);
std::string Utf16ToAnsi(std::u16string_view text);

enum class ReadResult { Ok, CannotOpen, ReadError };

// Reads a whole file into memory, as bytes.
ReadResult ReadFileBytes(const std::u16string& path, std::string& bytes);

// Creates the free-threaded marshaler aggregated by `outer`. Where the system has none,
// it succeeds and leaves *marshaler null.
HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

}  // namespace iniplugin::platform
