#include <dlfcn.h>

#include "platform/library.h"
#include "platform/portable.h"
#include "platform/server.h"
#include "platform/unicode.h"

namespace iniplugin::platform {

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::u16string& path) {
  void* handle = ::dlopen(platform::Utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  return std::unique_ptr<LoadedLibrary>(new LoadedLibrary(handle));
}

bool LoadedLibrary::Unloader::Close(void* handle) { return ::dlclose(handle) == 0; }

void* LoadedLibrary::Export(const char* name) const { return ::dlsym(m_handle.Get(), name); }

// Any exported address names the module; the entry point every module here has serves.
std::u16string LoadedLibrary::FilePath() const {
  void* inside = Export("DllGetClassObject");
  std::u16string path;
  return inside && SUCCEEDED(GetModuleFilePath(reinterpret_cast<HINSTANCE>(inside), &path))
             ? path
             : u"";
}

}  // namespace iniplugin::platform
