#include "plugin/CIniFormat.h"

#include <string>

#include "module/ComObject.h"
#include "module/HostBoundary.h"
#include "platform/com_runtime.h"
#include "plugin/CIniFile.h"

namespace iniplugin {

namespace {
constexpr std::u16string_view kMaker = u"QUARRYLINE";
constexpr std::u16string_view kDescription = u"Plugin for Windows ini-files.";
constexpr std::u16string_view kExtensions = u"ini,taf";
}  // namespace

HRESULT CIniFormat::InternalQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IIniFormat)) {
    *ppv = static_cast<IIniFormat*>(this);
  } else if (IsEqualIID(riid, IID_IOrvFileFormat)) {
    *ppv = static_cast<IOrvFileFormat*>(this);
  } else if (IsEqualIID(riid, IID_IMarshal) && m_marshaler) {
    return m_marshaler->QueryInterface(riid, ppv);
  } else {
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

HRESULT CIniFormat::FinalConstruct(IUnknown* controllingUnknown) {
  return platform::CreateFreeThreadedMarshaler(controllingUnknown, m_marshaler.Receive());
}

HRESULT CIniFormat::GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) {
  if (!maker || !description || !extensions) return E_POINTER;
  try {
    platform::UniqueBstr makerText = platform::UniqueBstr::FromText(kMaker);
    // A failed allocation here leaves the empty text (a null BSTR); the host accepts that.
    platform::UniqueBstr descriptionText = platform::UniqueBstr::FromText_nothrow(kDescription);
    platform::UniqueBstr extensionsText = platform::UniqueBstr::FromText_nothrow(kExtensions);
    *maker = makerText.Release();
    *description = descriptionText.Release();
    *extensions = extensionsText.Release();
    return S_OK;
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT CIniFormat::GetFormatValue(LONG, LONG* value) {
  if (!value) return E_POINTER;
  *value = 8;
  return S_OK;
}

HRESULT CIniFormat::CreateNavigator(BSTR filePath, INT_PTR initWord,
                                    IOrvFileNavigator** navigator) {
  if (!navigator) return E_POINTER;
  *navigator = nullptr;
  try {
    ComObject<CIniFile>* created = nullptr;
    // Out of memory, or what constructing the navigator threw.
    if (const HRESULT hr = ComObject<CIniFile>::CreateInstance(&created); FAILED(hr)) return hr;
    platform::ComPtr<ComObject<CIniFile>> holder;
    created->AddRef();
    holder = platform::ComPtr<ComObject<CIniFile>>::Attach(created);
    const HRESULT hr = static_cast<IOrvFileNavigatorInit*>(created)->Init(filePath, initWord);
    if (FAILED(hr)) return hr;  // the holder destroys the navigator
    *navigator = static_cast<IOrvFileNavigator*>(holder.Detach());
    return S_OK;
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT CIniFormat::FormatMethod6(INT_PTR, INT_PTR, INT_PTR, INT_PTR, void* a5) {
  return a5 ? E_NOTIMPL : E_POINTER;
}

HRESULT CIniFormat::FormatMethod7(INT_PTR, void* a2) { return a2 ? E_NOTIMPL : E_POINTER; }

}  // namespace iniplugin
