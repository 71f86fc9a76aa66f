// The IUnknown half of a component object. A class T implements its interfaces and:
//   - InternalQueryInterface(riid, ppv): sets *ppv, adding a reference, or E_NOINTERFACE;
//   - FinalConstruct(IUnknown* controllingUnknown): the last step of construction;
//   - kFreeThreaded: whether references may be counted from several threads at once.
// ComObject<T> is the plain (not aggregated) object; AggregatedObject<T> is the object
// inside an aggregate, whose identity and reference count belong to an outer object.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "module/ExceptionResult.h"
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
  // allocated, FinalConstruct's failure, or what the exception that its construction or
  // FinalConstruct threw stands for.
  static HRESULT CreateInstance(ComObject** object) {
    *object = nullptr;
    ComObject* created = nullptr;
    try {
      created = new (std::nothrow) ComObject();
    } catch (...) {
      return HResultFromCurrentException();
    }
    if (!created) return E_OUTOFMEMORY;
    // Guard the object while FinalConstruct hands its unknown to others. What it throws
    // becomes its failure, so that the half-made object is deleted below.
    created->m_refs.Increment();
    const HRESULT hr =
        ResultOf([&] { return created->FinalConstruct(created->ControllingUnknown()); });
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

// The class's interfaces as the outer object's own: their IUnknown methods go to the
// outer object. It does not count its reference to the outer object, which owns it.
template <class T>
class ContainedObject final : public T {
 public:
  explicit ContainedObject(IUnknown* outer) : m_outer(outer) {}
  ~ContainedObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return m_outer->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

  IUnknown* ControllingUnknown() { return m_outer; }
  using T::FinalConstruct;
  using T::InternalQueryInterface;

 private:
  IUnknown* m_outer;
};

// The object inside an aggregate. Its own IUnknown, which only the outer object holds,
// counts references and answers IUnknown with itself; every other interface comes from
// the contained object and so adds references to the outer object.
template <class T>
class AggregatedObject final : public IUnknown {
 public:
  // Creates an object with no references yet, aggregated by `outer` (not null).
  static HRESULT CreateInstance(IUnknown* outer, AggregatedObject** object) {
    *object = nullptr;
    AggregatedObject* created = nullptr;
    try {
      created = new (std::nothrow) AggregatedObject(outer);
    } catch (...) {
      return HResultFromCurrentException();
    }
    if (!created) return E_OUTOFMEMORY;
    created->m_refs.Increment();
    const HRESULT hr = ResultOf([&] { return created->m_contained.FinalConstruct(outer); });
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
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_contained.InternalQueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_refs.Increment(); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG count = m_refs.Decrement();
    if (count == 0) delete this;
    return count;
  }

  T* Contained() { return &m_contained; }

 private:
  explicit AggregatedObject(IUnknown* outer) : m_contained(outer) {}
  ~AggregatedObject() = default;

  RefCount<T::kFreeThreaded> m_refs;
  ContainedObject<T> m_contained;
};

// Creates an object of class T and queries it for riid: a plain object, or an aggregated
// one when `outer` is given (the caller has checked that riid is then IID_IUnknown).
template <class T>
HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv) {
  IUnknown* object = nullptr;
  if (!outer) {
    ComObject<T>* plain = nullptr;
    if (const HRESULT hr = ComObject<T>::CreateInstance(&plain); FAILED(hr)) return hr;
    object = plain->ControllingUnknown();
  } else {
    AggregatedObject<T>* aggregated = nullptr;
    if (const HRESULT hr = AggregatedObject<T>::CreateInstance(outer, &aggregated); FAILED(hr)) {
      return hr;
    }
    object = aggregated;
  }
  // The query holds the object or, when it fails, the release destroys it.
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace iniplugin
