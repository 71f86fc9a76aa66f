// The class factory that the object map hands out, one per class.
#pragma once

#include <atomic>

#include "module/Module.h"
#include "platform/windows_types.h"

namespace iniplugin {

class ClassFactory final : public IClassFactory {
 public:
  // Creates a factory holding one reference, the object map's: that one does not lock
  // the module, every further one does (the count going from 1 to 2 locks it, from 2 to
  // 1 unlocks it). E_OUTOFMEMORY when it cannot be allocated.
  static HRESULT Create(CreateInstanceFn createInstance, IUnknown** factory);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // E_POINTER for a null ppv; CLASS_E_NOAGGREGATION when an outer object asks for
  // anything but IUnknown; otherwise the class's creation result.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  // Locks or unlocks the module. E_UNEXPECTED for an unlock that no LockServer(TRUE)
  // matches: it would release a lock that a live object holds.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  explicit ClassFactory(CreateInstanceFn createInstance) : m_createInstance(createInstance) {}
  ~ClassFactory() = default;

  std::atomic<ULONG> m_refs{1};
  CreateInstanceFn m_createInstance;
};

}  // namespace iniplugin
