#include "platform/file.h"

#include <cstdio>

namespace iniplugin::platform {

ReadResult ReadFileBytes(const std::u16string& path, std::string& bytes) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return ReadResult::CannotOpen;
  std::string content;
  // Sized once from the file's length, so that a large file is not copied as it grows.
  if (std::fseek(file.Get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.Get());
    if (size > 0) content.reserve(static_cast<std::size_t>(size));
    std::rewind(file.Get());
  }
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.Get());
    content.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.Get())) return ReadResult::ReadError;
  bytes = std::move(content);
  return ReadResult::Ok;
}

}  // namespace iniplugin::platform
