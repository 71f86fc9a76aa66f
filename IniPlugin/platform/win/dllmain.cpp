// The system's load and unload notifications for IniPlugin.dll. Linked into the module
// only: a test program has no DllMain of its own to give.
#include "platform/server.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return iniplugin::platform::OnModuleLoad(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      iniplugin::platform::OnModuleUnload();
      break;
    default:
      break;
  }
  return TRUE;
}
