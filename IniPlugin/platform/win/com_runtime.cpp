#include "platform/com_runtime.h"

#include <string>

#include "platform/wide.h"

namespace iniplugin::platform {

namespace {
bool g_initialised = false;
}  // namespace

HRESULT CreateRegisteredObject(std::u16string_view progId, REFIID riid, void** object) {
  *object = nullptr;
  if (!g_initialised) {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return hr;
    g_initialised = true;
  }
  const std::u16string name(progId);
  CLSID clsid;
  const HRESULT hr = ::CLSIDFromProgID(AsWide(name.c_str()), &clsid);
  if (FAILED(hr)) return hr;
  return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
}

HRESULT TakeErrorInfo(IErrorInfo** info) { return ::GetErrorInfo(0, info); }

void ReleaseRegisteredObjects() {
  if (g_initialised) ::CoUninitialize();
  g_initialised = false;
}

HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  return ::CoCreateFreeThreadedMarshaler(outer, marshaler);
}

}  // namespace iniplugin::platform
