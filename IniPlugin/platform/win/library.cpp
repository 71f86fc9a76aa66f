#include "platform/library.h"
#include "platform/server.h"
#include "platform/wide.h"

namespace iniplugin::platform {

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::u16string& path) {
  HMODULE module = ::LoadLibraryW(AsWide(path.c_str()));
  if (!module) return nullptr;
  return std::unique_ptr<LoadedLibrary>(new LoadedLibrary(module));
}

bool LoadedLibrary::Unloader::Close(void* handle) {
  return ::FreeLibrary(static_cast<HMODULE>(handle)) != 0;
}

void* LoadedLibrary::Export(const char* name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle.Get()), name));
}

std::u16string LoadedLibrary::FilePath() const {
  std::u16string path;
  return SUCCEEDED(GetModuleFilePath(static_cast<HINSTANCE>(m_handle.Get()), &path)) ? path : u"";
}

}  // namespace iniplugin::platform
