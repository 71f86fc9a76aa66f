#include <atomic>
#include <new>
#include <optional>
#include <string>

#include "platform/portable.h"
#include "platform/wide.h"

namespace iniplugin::portable {

namespace {

// A null text stays null, as the system's object keeps what it was given.
std::optional<std::u16string> Copy(const OLECHAR* text) {
  if (!text) return std::nullopt;
  return platform::U16FromWide(text);
}

HRESULT Give(const std::optional<std::u16string>& text, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!text) return S_OK;
  *out = portable::SysAllocStringLen(platform::AsWide(text->data()), static_cast<UINT>(text->size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

class ErrorObject final : public ICreateErrorInfo, public IErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IErrorInfo)) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_ICreateErrorInfo)) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
    m_guid = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Keep(m_source, text); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
    return Keep(m_description, text);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Keep(m_helpFile, text); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    m_helpContext = context;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = m_guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* text) override { return Give(m_source, text); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* text) override {
    return Give(m_description, text);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* text) override { return Give(m_helpFile, text); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
    if (!context) return E_INVALIDARG;
    *context = m_helpContext;
    return S_OK;
  }

 private:
  static HRESULT Keep(std::optional<std::u16string>& field, const OLECHAR* text) {
    try {
      field = Copy(text);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> m_references{1};
  GUID m_guid{};
  std::optional<std::u16string> m_source, m_description, m_helpFile;
  DWORD m_helpContext = 0;
};

// Each thread has its own error object, as each thread's calls have their own failures.
struct ThreadErrorSlot {
  IErrorInfo* info = nullptr;
#ifndef _WIN32
  // On Windows these stand-ins serve only the tests that compare them with the system's.
  ~ThreadErrorSlot() {
    if (info) info->Release();
  }
#endif
};
thread_local ThreadErrorSlot t_error;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** created) {
  if (!created) return E_INVALIDARG;
  *created = new (std::nothrow) ErrorObject;
  return *created ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  if (info) info->AddRef();
  IErrorInfo* old = t_error.info;
  t_error.info = info;
  if (old) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (reserved != 0 || !info) return E_INVALIDARG;
  // Reading the error object takes it: the next failure starts afresh.
  *info = t_error.info;
  t_error.info = nullptr;
  return *info ? S_OK : S_FALSE;
}

}  // namespace iniplugin::portable
