// The application object: brings the module object up when the module is loaded and
// down when it is unloaded.
#pragma once

#include "module/Module.h"

namespace iniplugin {

class CIniPluginApp {
 public:
  explicit constexpr CIniPluginApp(ModuleObject& module) : m_module(module) {}

  // Process attach: binds the module object to this module's object map, its instance
  // handle and its type library. FALSE refuses the load.
  BOOL InitInstance(HINSTANCE instance);
  // Process detach: releases the cached class factories. Returns the exit code, 0.
  int ExitInstance();

 private:
  ModuleObject& m_module;
};

}  // namespace iniplugin
