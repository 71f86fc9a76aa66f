/* The marshaling code that widl generates from IniPlugin.idl, compiled as one unit.
   - The cross headers declare the IUnknown proxy functions only for C++; the generated
     proxy tables need them in C.
   - The generated dlldata routines get the prefix Prx, which keeps them apart from the
     module's own exports; the four functions at the end enter the marshaling code with
     the module's own choice of class id (platform/win/server.cpp calls them).
   - The dummy _purecall that dlldata.c would define is left out, so that a pure virtual
     call still reaches the C run-time's handler. */
#define ENTRY_PREFIX Prx
#define USE_COMPILER_EXCEPTIONS

#include <objbase.h>
#include <rpcproxy.h>

#undef DLLDUMMYPURECALL
#define DLLDUMMYPURECALL

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "IniPlugin_p.c"
#include "dlldata.c"

HRESULT ProxyStubEntryGetClassObject(const CLSID* proxyClsid, const CLSID* rclsid,
                                     const IID* riid, void** ppv) {
  return NdrDllGetClassObject(rclsid, riid, ppv, aProxyFileList, proxyClsid, &gPFactory);
}

HRESULT ProxyStubEntryCanUnloadNow(void) { return NdrDllCanUnloadNow(&gPFactory); }

HRESULT ProxyStubEntryRegister(HINSTANCE instance, const CLSID* proxyClsid) {
  return NdrDllRegisterProxy(instance, aProxyFileList, proxyClsid);
}

HRESULT ProxyStubEntryUnregister(HINSTANCE instance, const CLSID* proxyClsid) {
  return NdrDllUnregisterProxy(instance, aProxyFileList, proxyClsid);
}
