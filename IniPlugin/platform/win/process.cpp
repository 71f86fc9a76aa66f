#include "platform/unicode.h"
#include "platform/windows_types.h"

#include <shellapi.h>

#include "platform/portable.h"
#include "platform/process.h"
#include "platform/wide.h"

namespace iniplugin::platform {

std::u16string ExecutableDirectory() {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, AsWide(path.data()), static_cast<DWORD>(path.size()));
    if (length == 0) return u".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? u"." : path.substr(0, slash);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(platform::Utf16ToUtf8(U16FromWide(wide[i])));
  }
  ::LocalFree(wide);
  return arguments;
}

const char16_t* DefaultModuleName() { return u"IniPlugin.dll"; }

}  // namespace iniplugin::platform
