#include "platform/file.h"

#include "platform/system.h"

namespace iniplugin::platform {

ReadResult ReadFileBytes(const std::u16string& path, std::string& bytes) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return ReadResult::CannotOpen;
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    content.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.get())) return ReadResult::ReadError;
  bytes = std::move(content);
  return ReadResult::Ok;
}

}  // namespace iniplugin::platform
