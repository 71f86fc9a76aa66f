// A module loaded by its path, for drivers and tests that call a module's exports the
// way the system's component runtime does.
#pragma once

#include <memory>
#include <string>

#include "platform/unique.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

class LoadedLibrary {
 public:
  // Loads the module; null when it cannot be loaded.
  static std::unique_ptr<LoadedLibrary> Load(const std::u16string& path);

  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // The address of an exported function; null when there is none.
  void* Export(const char* name) const;
  // The full path of the loaded module file, as the module itself would report it.
  std::u16string FilePath() const;

  // Takes the calling thread's error object from a module that keeps its own (it exports
  // GetErrorInfo, as the native build's module does); S_FALSE when it keeps none or has
  // none to give.
  HRESULT TakeOwnErrorInfo(IErrorInfo** info) const {
    using GetErrorInfoFunction = HRESULT(STDMETHODCALLTYPE*)(ULONG, IErrorInfo**);
    auto own = reinterpret_cast<GetErrorInfoFunction>(Export("GetErrorInfo"));
    *info = nullptr;
    return own ? own(0, info) : S_FALSE;
  }

 private:
  // Dropping the object unloads the module (the system may keep it while others hold it).
  struct Unloader {
    using Type = void*;
    static void* Invalid() { return nullptr; }
    static bool Close(void* handle);  // per system
  };

  explicit LoadedLibrary(void* handle) : m_handle(handle) {}
  UniqueResource<Unloader> m_handle;
};

}  // namespace iniplugin::platform
