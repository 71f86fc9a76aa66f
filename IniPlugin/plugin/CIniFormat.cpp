#include "plugin/CIniFormat.h"

#include <string>

#include "module/ComObject.h"
#include "platform/com_runtime.h"
#include "plugin/CIniFile.h"
#include "plugin/CallFrame.h"

namespace iniplugin {

namespace {
constexpr std::u16string_view kMaker = u"QUARRYLINE";
constexpr std::u16string_view kDescription = u"Plugin for Windows ini-files.";
constexpr std::u16string_view kExtensions = u"ini,taf";
constexpr std::u16string_view kSource = u"IniPlugin.IniFormat";
}  // namespace

HRESULT CIniFormat::InternalQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IIniFormat)) {
    *ppv = static_cast<IIniFormat*>(this);
  } else if (IsEqualIID(riid, IID_IOrvFileFormat)) {
    *ppv = static_cast<IOrvFileFormat*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
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

HRESULT CIniFormat::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_IOrvFileFormat) || IsEqualIID(riid, IID_IIniFormat) ? S_OK
                                                                                   : S_FALSE;
}

HRESULT CIniFormat::GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) {
  CallFrame call(IID_IOrvFileFormat, kSource);
  if (!maker || !description || !extensions) return call.Finish(E_POINTER);
  return Answer(call, [&] {
    platform::UniqueBstr makerText = platform::UniqueBstr::FromText(kMaker);
    // A failed allocation here leaves the empty text (a null BSTR); the host accepts that.
    platform::UniqueBstr descriptionText = platform::UniqueBstr::FromText_nothrow(kDescription);
    platform::UniqueBstr extensionsText = platform::UniqueBstr::FromText_nothrow(kExtensions);
    *maker = makerText.Release();
    *description = descriptionText.Release();
    *extensions = extensionsText.Release();
    return S_OK;
  });
}

HRESULT CIniFormat::GetFormatValue(LONG, LONG* value) {
  CallFrame call(IID_IOrvFileFormat, kSource);
  if (!value) return call.Finish(E_POINTER);
  *value = 8;
  return call.Finish(S_OK);
}

HRESULT CIniFormat::CreateNavigator(BSTR filePath, INT_PTR,
                                    IOrvFileNavigator** navigator) {
  CallFrame call(IID_IOrvFileFormat, kSource);
  if (!navigator) return call.Finish(E_POINTER);
  *navigator = nullptr;
  return Answer(call, [&] {
    ComObject<CIniFile>* created = nullptr;
    // Out of memory, or what constructing the navigator threw.
    if (const HRESULT hr = ComObject<CIniFile>::CreateInstance(&created); FAILED(hr)) return hr;
    platform::ComPtr<ComObject<CIniFile>> holder;
    created->AddRef();
    holder = platform::ComPtr<ComObject<CIniFile>>::Attach(created);
    // Opened as part of this call, so that its failure is told as this call's.
    const HRESULT hr = created->Open(filePath, call);
    if (FAILED(hr)) return hr;  // the holder destroys the navigator
    *navigator = static_cast<IOrvFileNavigator*>(holder.Detach());
    return S_OK;
  });
}

HRESULT CIniFormat::FormatMethod6(INT_PTR, INT_PTR, INT_PTR, INT_PTR, void* a5) {
  return CallFrame(IID_IOrvFileFormat, kSource).Finish(a5 ? E_NOTIMPL : E_POINTER);
}

HRESULT CIniFormat::FormatMethod7(INT_PTR, void* a2) {
  return CallFrame(IID_IOrvFileFormat, kSource).Finish(a2 ? E_NOTIMPL : E_POINTER);
}

}  // namespace iniplugin
