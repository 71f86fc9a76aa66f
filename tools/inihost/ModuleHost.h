// Loads the plug-in module the way the vault does and hands out its objects.
#pragma once

#include <memory>
#include <string>

#include "host/OrvHost.h"
#include "platform/com.h"
#include "platform/library.h"

namespace inihost {

class ModuleHost {
 public:
  // Loads the module file. On failure returns null and sets `error`.
  static std::unique_ptr<ModuleHost> Load(const std::u16string& modulePath, std::string& error);
  ~ModuleHost();

  // A new format object through the module's class object for the IniFormat class.
  HRESULT CreateFormat(iniplugin::platform::ComPtr<IOrvFileFormat>& format);
  HRESULT Register();
  HRESULT Unregister();
  // Takes the calling thread's error object: from the module, where it keeps its own (the
  // native build), else from the system, which keeps it for every module.
  HRESULT TakeErrorInfo(IErrorInfo** info);

 private:
  explicit ModuleHost(std::unique_ptr<iniplugin::platform::LoadedLibrary> library)
      : m_library(std::move(library)) {}
  HRESULT CallEntry(const char* name);

  std::unique_ptr<iniplugin::platform::LoadedLibrary> m_library;
};

}  // namespace inihost
