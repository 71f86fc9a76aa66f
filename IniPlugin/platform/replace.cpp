#include "platform/replace.h"

#include <atomic>
#include <cstdint>

#include "platform/file_lock.h"

namespace iniplugin::platform {

namespace {
std::atomic<long long> g_writeFailureAfter{-1};
std::atomic<int> g_lockWait{kLockWaitMilliseconds};
}  // namespace

void SetLockWaitForTesting(int milliseconds) {
  g_lockWait.store(milliseconds < 0 ? kLockWaitMilliseconds : milliseconds);
}

int LockWaitMilliseconds() { return g_lockWait.load(); }

std::u16string TemporaryName(std::u16string_view name, std::u16string_view suffix) {
  // A hash of the name, so that the temporary file's name has one length for any target
  // (a target named at the length limit still has room for it) and still says whose it is.
  std::uint64_t hash = 14695981039346656037ull;
  for (char16_t c : name) {
#ifdef _WIN32
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');  // one file, any case
#endif
    hash = (hash ^ c) * 1099511628211ull;
  }
  std::u16string result = u".iniplugin-";
  for (int shift = 60; shift >= 0; shift -= 4) result.push_back(u"0123456789abcdef"[(hash >> shift) & 15]);
  return result.append(suffix);
}

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

bool ReplaceFileContents(const FileLock& lock, std::string_view bytes) {
  FileReplacement replacement(lock);
  return replacement.Write(bytes) && replacement.Commit();
}

}  // namespace iniplugin::platform
