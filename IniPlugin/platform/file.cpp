#include "platform/file.h"

#include <atomic>

#include "platform/system.h"

namespace iniplugin::platform {

namespace {

std::atomic<long long> g_writeFailureAfter{-1};

// Writes everything or reports failure; honours the injected fault.
bool WriteAll(std::FILE* file, std::string_view bytes) {
  const long long limit = g_writeFailureAfter.load();
  if (limit >= 0 && static_cast<unsigned long long>(limit) < bytes.size()) {
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(limit), file);
    return false;
  }
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

void SetWriteFailureForTesting(long long bytesBeforeFailure) {
  g_writeFailureAfter.store(bytesBeforeFailure);
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const std::u16string target = ResolveWriteTarget(path);
  std::u16string temporary;
  UniqueFile file = CreateFileBeside(target, temporary);
  if (!file) return false;
  CopyPermissions(target, file.get());
  bool written = WriteAll(file.get(), bytes) && FlushToDisk(file.get());
  written = std::fclose(file.release()) == 0 && written;
  if (!written || !MoveOver(temporary, target)) {
    RemoveFile(temporary);
    return false;
  }
  return true;
}

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
