// Opening files by UTF-16 path: the only per-system piece of file access.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace iniplugin::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with a C stdio mode ("rb", "wb" ...). A path with an embedded NUL would
// name a different file and is refused.
UniqueFile OpenFile(const std::u16string& path, const char* mode);

// How many of `size` bytes a write may put down before a failure that a test injected
// (SetWriteFailureForTesting); `size` when none is.
std::size_t AllowedWriteBytes(std::size_t size);

}  // namespace iniplugin::platform
