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

// Replaces the file's contents with `bytes`, or leaves the file exactly as it was. The
// bytes go to a new file in the same folder, are flushed to disk, and only then does the
// new file take the old one's place (keeping its permission bits), so a full disk or a
// crash part-way never leaves a half-written file. A file that did not exist is created.
// Returns false, leaving nothing behind, when any step fails.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// Tests only: makes the next replacements fail after writing this many bytes, as a full
// disk would; a negative value turns the fault off.
void SetWriteFailureForTesting(long long bytesBeforeFailure);

// Creates the free-threaded marshaler aggregated by `outer`. Where the system has none,
// it succeeds and leaves *marshaler null.
HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

}  // namespace iniplugin::platform
