#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "inidoc/TextForm.h"
#include "platform/library.h"

namespace iniplugin::platform {

std::unique_ptr<Library> Library::Open(const std::u16string& path, std::string& error) {
  void* handle = dlopen(inidoc::EncodeUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = reason ? reason : "cannot load the module";
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(handle));
}

Library::~Library() { dlclose(m_handle); }

void* Library::Symbol(const char* name) const { return dlsym(m_handle, name); }

std::u16string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return u".";
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  path = slash == std::string::npos ? "." : path.substr(0, slash);
  return inidoc::DecodeUtf8(path).value_or(u".");
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

const char16_t* DefaultModuleName() { return u"IniPlugin.so"; }

}  // namespace iniplugin::platform
