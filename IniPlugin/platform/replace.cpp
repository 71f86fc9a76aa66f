#include "platform/replace.h"

#include <atomic>

namespace iniplugin::platform {

namespace {
std::atomic<long long> g_writeFailureAfter{-1};
}  // namespace

void SetWriteFailureForTesting(long long bytesBeforeFailure) {
  g_writeFailureAfter.store(bytesBeforeFailure);
}

std::string_view AllowedPart(std::size_t written, std::string_view bytes, bool& cut) {
  // An injected fault counts the bytes of the whole replacement.
  const long long limit = g_writeFailureAfter.load();
  cut = limit >= 0 && static_cast<unsigned long long>(limit) < written + bytes.size();
  if (!cut) return bytes;
  const auto allowed = static_cast<std::size_t>(limit);
  return bytes.substr(0, allowed > written ? allowed - written : 0);
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
  FileReplacement replacement(path);
  return replacement.Write(bytes) && replacement.Commit();
}

}  // namespace iniplugin::platform
