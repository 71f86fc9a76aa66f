#include <unistd.h>

#include <climits>

#include "platform/portable.h"
#include "platform/process.h"
#include "platform/unicode.h"

namespace iniplugin::platform {

std::u16string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return u".";
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  path = slash == std::string::npos ? "." : path.substr(0, slash);
  return platform::Utf8ToUtf16(path).value_or(u".");
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

const char16_t* DefaultModuleName() { return u"IniPlugin.so"; }

}  // namespace iniplugin::platform
