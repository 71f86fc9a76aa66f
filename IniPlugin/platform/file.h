// Opening files by UTF-16 path: the only per-system piece of file access.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace iniplugin::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with a C stdio mode ("rb", "wb" ...). A path with an embedded NUL would
// name a different file and is refused.
UniqueFile OpenFile(const std::u16string& path, const char* mode);

// The part of `bytes` a replacement that has put down `written` bytes may still write
// before a failure a test injected (SetWriteFailureForTesting): all of them when none is.
// `cut` tells whether the failure falls within them.
std::string_view AllowedPart(std::size_t written, std::string_view bytes, bool& cut);

}  // namespace iniplugin::platform
