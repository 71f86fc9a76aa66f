// The IUnknown half of a component object. A class T implements its interfaces and:
//   - InternalQueryInterface(riid, ppv): sets *ppv, adding a reference, or E_NOINTERFACE;
//   - FinalConstruct(IUnknown* controllingUnknown): the last step of construction;
//   - kFreeThreaded: whether references may be counted from several threads at once.
// ComObject<T> is the plain (not aggregated) object.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "platform/windows_types.h"

namespace iniplugin {

template <bool FreeThreaded>
class RefCount;

template <>
class RefCount<true> {
 public:
  ULONG Increment() { return ++m_count; }
  ULONG Decrement() { return --m_count; }

 private:
  std::atomic<LONG> m_count{0};
};

// Apartment objects are used by one thread at a time: plain increments suffice.
template <>
class RefCount<false> {
 public:
  ULONG Increment() { return static_cast<ULONG>(++m_count); }
  ULONG Decrement() { return static_cast<ULONG>(--m_count); }

 private:
  LONG m_count = 0;
};

template <class T>
class ComObject final : public T {
 public:
  // Creates an object with no references yet. Returns E_OUTOFMEMORY when it cannot be
  // allocated or constructed, or FinalConstruct's failure.
  static HRESULT CreateInstance(ComObject** object) {
    *object = nullptr;
    ComObject* created = nullptr;
    try {
      created = new (std::nothrow) ComObject();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (!created) return E_OUTOFMEMORY;
    // Guard the object while FinalConstruct hands its unknown to others.
    created->m_refs.Increment();
    const HRESULT hr = created->FinalConstruct(created->ControllingUnknown());
    created->m_refs.Decrement();
    if (FAILED(hr)) {
      delete created;
      return hr;
    }
    *object = created;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return T::InternalQueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_refs.Increment(); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG count = m_refs.Decrement();
    if (count == 0) delete this;
    return count;
  }

  IUnknown* ControllingUnknown() { return T::PrimaryUnknown(); }

 private:
  ComObject() = default;
  ~ComObject() = default;

  RefCount<T::kFreeThreaded> m_refs;
};

}  // namespace iniplugin
