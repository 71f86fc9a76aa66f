#include "platform/path.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/unicode.h"

namespace iniplugin::platform {

std::u16string FullPath(const std::u16string& path) {
  if (path.empty() || path.front() == u'/' || path.find(u'\0') != std::u16string::npos) {
    return path;
  }
  const std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
  if (!folder) return path;
  std::optional<std::u16string> full = Utf8ToUtf16(folder.get());
  if (!full) return path;
  if (full->empty() || full->back() != u'/') full->push_back(u'/');
  full->append(path);
  return *full;
}

}  // namespace iniplugin::platform
