// Owners for the Automation and COM resources the module holds: every BSTR, VARIANT and
// interface pointer lives in one of these, so early returns and exceptions release it.
#pragma once

#include <new>
#include <string_view>
#include <utility>

#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR owned) : m_text(owned) {}
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : m_text(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueBstr() { Reset(); }

  // A copy of the text; null when the allocation failed (the caller decides how to fail).
  static UniqueBstr FromText_nothrow(std::u16string_view text) {
    return UniqueBstr(SysAllocStringLen(AsWide(text.data()), static_cast<UINT>(text.size())));
  }
  // As FromText_nothrow, but allocation failure throws std::bad_alloc.
  static UniqueBstr FromText(std::u16string_view text) {
    UniqueBstr result = FromText_nothrow(text);
    if (!result.Get()) throw std::bad_alloc();
    return result;
  }

  BSTR Get() const { return m_text; }
  // Gives up ownership: the caller (usually the host, through an out-parameter) frees it.
  BSTR Release() { return std::exchange(m_text, nullptr); }
  void Reset(BSTR owned = nullptr) {
    BSTR old = std::exchange(m_text, owned);
    if (old) SysFreeString(old);
  }
  // Frees the current text and hands out the slot for an API that allocates into it.
  BSTR* Receive() {
    Reset();
    return &m_text;
  }
  std::u16string_view View() const { return BstrView(m_text); }

 private:
  BSTR m_text = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&m_value); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { VariantClear(&m_value); }

  VARIANT* Get() { return &m_value; }
  const VARIANT* Get() const { return &m_value; }
  VARIANT* operator->() { return &m_value; }
  const VARIANT* operator->() const { return &m_value; }
  // Clears the current value and hands out the slot for an API that fills it.
  VARIANT* Receive() {
    VariantClear(&m_value);
    return &m_value;
  }

 private:
  VARIANT m_value;
};

// Holds one reference to an interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(const ComPtr& other) : m_ptr(other.m_ptr) {
    if (m_ptr) m_ptr->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_ptr, other.m_ptr);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* owned) {
    ComPtr result;
    result.m_ptr = owned;
    return result;
  }

  T* Get() const { return m_ptr; }
  T* operator->() const { return m_ptr; }
  explicit operator bool() const { return m_ptr != nullptr; }
  T* Detach() { return std::exchange(m_ptr, nullptr); }
  void Reset() {
    if (T* old = std::exchange(m_ptr, nullptr)) old->Release();
  }
  T** Receive() {
    Reset();
    return &m_ptr;
  }
  // For QueryInterface-style out-parameters typed void**.
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>* out) const {
    return m_ptr->QueryInterface(iid, out->ReceiveVoid());
  }

 private:
  T* m_ptr = nullptr;
};

}  // namespace iniplugin::platform
