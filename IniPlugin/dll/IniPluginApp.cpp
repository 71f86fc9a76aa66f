#include "dll/IniPluginApp.h"

#include "dll/ObjectMap.h"

namespace iniplugin {

// The marshaling code needs no instance handle stored for it: the module object hands
// the handle over when it registers that code.
BOOL CIniPluginApp::InitInstance(HINSTANCE instance) {
  return SUCCEEDED(m_module.Init(IniPluginDescription(), instance)) ? TRUE : FALSE;
}

int CIniPluginApp::ExitInstance() {
  m_module.Term();
  return 0;
}

}  // namespace iniplugin
