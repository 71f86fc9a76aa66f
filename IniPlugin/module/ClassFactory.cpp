#include "module/ClassFactory.h"

#include <new>

#include "module/ExceptionResult.h"

namespace iniplugin {

namespace {
// The locks taken through LockServer, across all factories. An unlock without a lock of
// its own would otherwise give away the lock of a live object, and the module could be
// unloaded under it.
std::atomic<LONG> g_serverLocks{0};
}  // namespace

HRESULT ClassFactory::Create(CreateInstanceFn createInstance, IUnknown** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  try {
    *factory = new (std::nothrow) ClassFactory(createInstance);
  } catch (...) {
    return HResultFromCurrentException();
  }
  return *factory ? S_OK : E_OUTOFMEMORY;
}

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG ClassFactory::AddRef() {
  const ULONG count = ++m_refs;
  if (count == 2) Module::Lock();
  return count;
}

ULONG ClassFactory::Release() {
  const ULONG count = --m_refs;
  if (count == 1) {
    Module::Unlock();
  } else if (count == 0) {
    delete this;
  }
  return count;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate must hold the inner object's own IUnknown, or it could never release it.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  try {
    return m_createInstance(outer, riid, ppv);
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ++g_serverLocks;
    Module::Lock();
    return S_OK;
  }
  LONG held = g_serverLocks.load();
  do {
    if (held <= 0) return E_UNEXPECTED;
  } while (!g_serverLocks.compare_exchange_weak(held, held - 1));
  Module::Unlock();
  return S_OK;
}

}  // namespace iniplugin
