// The SDK-named functions of a system without the SDK: each forwards to its portable
// stand-in, so module code calls the same names in both builds.
#include "platform/portable.h"
#include "platform/windows_types.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B,
                                  {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B,
                                   {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace portable = iniplugin::portable;

BSTR SysAllocString(const OLECHAR* text) { return portable::SysAllocString(text); }
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return portable::SysAllocStringLen(text, length);
}
void SysFreeString(BSTR text) { portable::SysFreeString(text); }
UINT SysStringLen(BSTR text) { return portable::SysStringLen(text); }
void VariantInit(VARIANTARG* v) { portable::VariantInit(v); }
HRESULT VariantClear(VARIANTARG* v) { return portable::VariantClear(v); }
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  return portable::VariantCopy(dest, src);
}
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  return portable::VariantChangeType(dest, src, flags, vt);
}
INT VariantTimeToSystemTime(DOUBLE time, SYSTEMTIME* st) {
  return portable::VariantTimeToSystemTime(time, st);
}
LCID GetUserDefaultLCID() { return portable::GetUserDefaultLCID(); }
BOOL GetVersionExW(OSVERSIONINFOW* info) { return portable::GetVersionExW(info); }
HRESULT CreateErrorInfo(ICreateErrorInfo** created) { return portable::CreateErrorInfo(created); }
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  return portable::SetErrorInfo(reserved, info);
}
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  return portable::GetErrorInfo(reserved, info);
}
