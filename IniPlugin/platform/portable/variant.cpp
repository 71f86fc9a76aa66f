#include <cstring>

#include "platform/portable.h"

namespace iniplugin::portable {

namespace {

bool IsKnownBaseType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// The type tags a VARIANT may carry: a known base type, optionally by reference.
// VT_VARIANT only by reference, VT_EMPTY and VT_NULL never by reference.
bool IsValidTag(VARTYPE vt) {
  if (vt & (VT_VECTOR | VT_ARRAY)) return false;  // no SAFEARRAY support here
  const VARTYPE base = vt & ~VT_BYREF;
  if (!IsKnownBaseType(base)) return false;
  if (vt & VT_BYREF) return base != VT_EMPTY && base != VT_NULL;
  return base != VT_VARIANT;
}

}  // namespace

void VariantInit(VARIANTARG* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  if (!IsValidTag(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR:
      portable::SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v->punkVal) v->punkVal->Release();
      break;
    default:
      break;
  }
  v->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsValidTag(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  HRESULT hr = portable::VariantClear(dest);
  if (FAILED(hr)) return hr;
  if (src->vt == VT_BSTR) {
    BSTR copy = nullptr;
    if (src->bstrVal) {
      copy = portable::SysAllocStringLen(src->bstrVal, portable::SysStringLen(src->bstrVal));
      if (!copy) return E_OUTOFMEMORY;
    }
    std::memcpy(static_cast<void*>(dest), src, sizeof(VARIANT));
    dest->bstrVal = copy;
    return S_OK;
  }
  std::memcpy(static_cast<void*>(dest), src, sizeof(VARIANT));
  if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) src->punkVal->AddRef();
  return S_OK;
}

}  // namespace iniplugin::portable
