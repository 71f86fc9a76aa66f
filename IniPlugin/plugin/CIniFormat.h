// CIniFormat: the format object. Describes the plug-in and opens navigators. It holds no
// state but its reference count and the free-threaded marshaler, so one object may be
// called from any number of threads at once.
#pragma once

#include "host/OrvHost.h"
#include "plugin/Guids.h"
#include "module/Module.h"
#include "platform/com.h"

namespace iniplugin {

class CIniFormat : public IIniFormat, public IOrvFileFormat, public ISupportErrorInfo {
 public:
  static constexpr bool kFreeThreaded = true;

  // IOrvFileFormat
  HRESULT STDMETHODCALLTYPE GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) override;
  HRESULT STDMETHODCALLTYPE GetFormatValue(LONG unused, LONG* value) override;
  HRESULT STDMETHODCALLTYPE CreateNavigator(BSTR filePath, INT_PTR initWord,
                                            IOrvFileNavigator** navigator) override;
  HRESULT STDMETHODCALLTYPE FormatMethod6(INT_PTR, INT_PTR, INT_PTR, INT_PTR, void* a5) override;
  HRESULT STDMETHODCALLTYPE FormatMethod7(INT_PTR, void* a2) override;

  // ISupportErrorInfo: every failing call of the host's interfaces sets an error object.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

 protected:
  CIniFormat() = default;
  virtual ~CIniFormat() = default;

  HRESULT InternalQueryInterface(REFIID riid, void** ppv);
  HRESULT FinalConstruct(IUnknown* controllingUnknown);
  IUnknown* PrimaryUnknown() { return static_cast<IIniFormat*>(this); }

 private:
  ModuleLockHolder m_moduleLock;
  // The aggregated free-threaded marshaler's inner unknown; null where there is none.
  platform::ComPtr<IUnknown> m_marshaler;
};

}  // namespace iniplugin
