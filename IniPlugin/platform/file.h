// Reading files by UTF-16 path, and telling one version of a file from another.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/unique.h"

namespace iniplugin::platform {

struct StreamTraits {
  using Type = std::FILE*;
  static std::FILE* Invalid() { return nullptr; }
  static bool Close(std::FILE* file) { return std::fclose(file) == 0; }
};
using UniqueFile = UniqueResource<StreamTraits>;

struct FileStamp;

// Opens the regular file at `path` with a C stdio mode ("rb", "wb" ...). Anything else
// there (a folder, a FIFO, a device, a socket) is refused as a missing file is, and is
// never waited on: opening a FIFO for reading would block until a writer came. A path
// with an embedded NUL would name a different file and is refused. `stamp`, when given,
// gets the stamp of the file that was opened, which is the size to trust when deciding
// whether to read it at all.
UniqueFile OpenFile(const std::u16string& path, const char* mode, FileStamp* stamp = nullptr);

enum class ReadResult { Ok, CannotOpen, ReadError, TooLarge };

// Reads a whole file into memory, as bytes. A file larger than a string can hold is
// TooLarge, and nothing of it is read.
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

// Whether the regular file at `path` is marked read-only: its read-only attribute on
// Windows, no write permission for its owner elsewhere. Nobody may write such a file,
// whatever the writer's privileges would allow (root ignores the bits, and Wine running
// as root ignores the attribute). False for a missing file.
bool IsMarkedReadOnly(const std::u16string& path);

}  // namespace iniplugin::platform
