// The module's own names for what it needs from the operating system. Each has one
// Windows implementation (platform/win) and one for other systems (platform/posix).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
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
// The same, appending to a string the caller owns: a large file converted block by block
// never needs a second whole copy.
void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text);
void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes);
// Whether the ANSI code page holds every character of `text` as itself: neither the
// default character nor a best-fit look-alike ("L" for "Ł") would stand in for any.
bool AnsiHoldsExactly(std::u16string_view text);

enum class ReadResult { Ok, CannotOpen, ReadError };

// Reads a whole file into memory, as bytes.
ReadResult ReadFileBytes(const std::u16string& path, std::string& bytes);

// What tells one version of a file from another without reading it. Two stamps of the
// same file compare equal only if nothing in them moved; a change that keeps the size and
// lands within the file system's timestamp granularity may still leave the stamp equal,
// which is what `recent` warns about.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // the system's own units
  std::uint64_t identity = 0;  // where the system has one: which file (inode) and when its
                               // metadata last changed; 0 elsewhere
  // The file was changed so recently that a further change within the timestamp
  // granularity (a tenth of a second; two seconds where timestamps are whole seconds)
  // could leave the stamp as it is.
  bool recent = false;

  bool SameVersion(const FileStamp& other) const {
    return size == other.size && modified == other.modified && identity == other.identity;
  }
};

// The stamp of the regular file at `path`; nullopt when there is none (missing, a folder,
// or not reachable).
std::optional<FileStamp> QueryFileStamp(const std::u16string& path);

// Replaces the whole content of the file at `path` (creating it if missing) so that the
// file is at every moment either entirely old or entirely new, also across a crash: the
// bytes go to a temporary file in the same folder, are flushed to the disk, and the
// temporary file is renamed over the target. A replaced file keeps its permission bits
// (POSIX) or its hidden/system attributes (Windows); on POSIX a symbolic link is followed
// and its target replaced.
// A read-only file is not replaced. Returns false, leaving the old file untouched and no
// temporary file behind, when any step fails. Not guaranteed: that no other writer replaces the file between our read and
// this replace; callers that read-modify-write serialise among themselves.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// The same, with the new content written piece by piece, so that a large file is never
// held whole as bytes: construct, Write the pieces, Commit. The file is replaced only by a
// Commit that returns true; a replacement dropped before, or after any failure, leaves the
// old file untouched and no temporary file behind.
class FileReplacement {
 public:
  explicit FileReplacement(const std::u16string& path);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  // False once anything failed (also when the replacement could not begin).
  bool Ok() const;
  bool Write(std::string_view bytes);
  bool Commit();

  struct State;  // per system

 private:
  std::unique_ptr<State> m_state;
};

// Whether ReplaceFileContents would go ahead with `path`: an existing file is a regular
// file that is not read-only, a missing one has a folder to be made in. Writers that put
// their writes down later ask this when they accept them. Not guaranteed: that the
// replacement then succeeds (the disk may fill, the file may change meanwhile).
bool CanReplaceFile(const std::u16string& path);

// Tests only: makes the following replacements fail after writing this many bytes, as a
// full disk would; a negative value turns the fault off.
void SetWriteFailureForTesting(long long bytesBeforeFailure);

// The system's own profile functions, GetPrivateProfileStringW and
// WritePrivateProfileStringW; null where the system has none (everywhere but Windows).
struct SystemProfileFunctions {
  DWORD (*read)(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer, DWORD size,
                LPCWSTR file);
  BOOL (*write)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);
};
const SystemProfileFunctions* SystemProfile();

// Creates the free-threaded marshaler aggregated by `outer`. Where the system has none,
// it succeeds and leaves *marshaler null.
HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

}  // namespace iniplugin::platform
