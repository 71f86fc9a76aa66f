// The text Windows gives an Automation value when it converts it to VT_BSTR with flags 0
// in the English (United States) locale. Every rule here was taken from the system's own
// conversion and is checked against it by the differential tests.
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/portable.h"
#include "platform/wide.h"

namespace iniplugin::portable {

namespace {

// Type tags the stand-in needs beyond the module's slice of VARENUM.
constexpr VARTYPE kRecord = 36;
constexpr VARTYPE kClsid = 72;

constexpr BYTE kMaxDecimalScale = 28;

void Append(std::u16string& out, std::string_view ascii) {
  out.append(ascii.begin(), ascii.end());
}

template <class Integer>
void AppendInteger(std::u16string& out, Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  Append(out, std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

// A float or double written with `precision` significant digits, as the C run-time's
// "%.<precision>G" writes it on Windows: the exact binary value rounded half away from
// zero, trailing zeros dropped, fixed notation for decimal exponents from -4 up to
// precision - 1 and "d.dddE+XX" otherwise. Zero has no sign; NaN and infinity are words.
void AppendReal(std::u16string& out, double value, int precision) {
  if (std::isnan(value)) {
    Append(out, std::signbit(value) ? "-NAN(IND)" : "NAN");
    return;
  }
  if (std::isinf(value)) {
    Append(out, value < 0 ? "-INF" : "INF");
    return;
  }
  if (value == 0) {
    Append(out, "0");
    return;
  }

  // The exact decimal expansion: no double needs more than 767 significant digits.
  char exact[800];
  const auto written =
      std::to_chars(exact, exact + sizeof exact, std::fabs(value), std::chars_format::scientific,
                    770);
  const std::string_view text(exact, static_cast<std::size_t>(written.ptr - exact));
  const std::size_t e = text.find('e');
  std::string digits;  // significant digits, the first one non-zero
  digits += text[0];
  digits.append(text.substr(2, e - 2));
  int exponent = 0;  // value = d.ddd * 10^exponent
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);

  const bool roundUp = digits[static_cast<std::size_t>(precision)] >= '5';
  digits.resize(static_cast<std::size_t>(precision));
  if (roundUp) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    } else {
      ++digits[i - 1];
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  if (value < 0) Append(out, "-");
  if (exponent < -4 || exponent >= precision) {
    out += static_cast<char16_t>(digits[0]);
    if (digits.size() > 1) {
      Append(out, ".");
      Append(out, std::string_view(digits).substr(1));
    }
    Append(out, exponent < 0 ? "E-" : "E+");
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) Append(out, "0");
    AppendInteger(out, magnitude);
  } else if (exponent < 0) {
    Append(out, "0.");
    out.append(static_cast<std::size_t>(-exponent - 1), u'0');
    Append(out, digits);
  } else {
    const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
      Append(out, digits);
      out.append(integerDigits - digits.size(), u'0');
    } else {
      Append(out, std::string_view(digits).substr(0, integerDigits));
      Append(out, ".");
      Append(out, std::string_view(digits).substr(integerDigits));
    }
  }
}

// A whole number of 10^-scale units, written with as many decimals as it needs: no
// trailing zeros, no decimal point for whole values, no sign for zero.
void AppendScaled(std::u16string& out, bool negative, std::string digits, unsigned scale) {
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  std::string_view whole(digits.data(), digits.size() - scale);
  std::string_view fraction(digits.data() + whole.size(), scale);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if (negative && (whole != "0" || !fraction.empty())) Append(out, "-");
  Append(out, whole);
  if (!fraction.empty()) {
    Append(out, ".");
    Append(out, fraction);
  }
}

void AppendCurrency(std::u16string& out, const CY& value) {
  const bool negative = value.int64 < 0;
  // Through unsigned arithmetic so that the most negative amount has a magnitude too.
  const ULONGLONG magnitude =
      negative ? 0 - static_cast<ULONGLONG>(value.int64) : static_cast<ULONGLONG>(value.int64);
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude);
  AppendScaled(out, negative, std::string(buffer, result.ptr), 4);
}

HRESULT AppendDecimal(std::u16string& out, const DECIMAL& value) {
  // Larger scales are not decimals at all; the system's conversion misreads them.
  if (value.scale > kMaxDecimalScale) return E_INVALIDARG;
  // The 96-bit magnitude as three 32-bit limbs, most significant first, divided by ten
  // until nothing is left.
  ULONG limbs[3] = {value.Hi32, value.Mid32, value.Lo32};
  std::string digits;
  do {
    ULONGLONG remainder = 0;
    for (ULONG& limb : limbs) {
      const ULONGLONG current = (remainder << 32) | limb;
      limb = static_cast<ULONG>(current / 10);
      remainder = current % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
  } while (limbs[0] != 0 || limbs[1] != 0 || limbs[2] != 0);
  // Any sign bit counts, not only DECIMAL_NEG.
  AppendScaled(out, value.sign != 0, std::move(digits), value.scale);
  return S_OK;
}

// A fraction of a day below this (under a tenth of a microsecond) is rounding noise, not
// a time of day.
constexpr double kLeastTimeOfDay = 1e-12;

// The short date "M/d/yyyy" and the long time "h:mm:ss tt" of English (United States).
// A date without a time of day is written alone, a time on day 0 likewise. The decision
// looks at the value, not at the rounded fields: 23:59:59.9 rounds to the next midnight
// and is still written with its time.
HRESULT AppendDate(std::u16string& out, DATE value) {
  SYSTEMTIME st;
  if (!portable::VariantTimeToSystemTime(value, &st)) return E_INVALIDARG;
  const double whole = std::trunc(value);
  const bool showDate = whole != 0;
  const bool showTime = !showDate || std::fabs(value - whole) >= kLeastTimeOfDay;
  if (showDate) {
    AppendInteger(out, st.wMonth);
    Append(out, "/");
    AppendInteger(out, st.wDay);
    Append(out, "/");
    AppendInteger(out, st.wYear);
  }
  if (showTime) {
    if (showDate) Append(out, " ");
    const int hour = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
    AppendInteger(out, hour);
    Append(out, st.wMinute < 10 ? ":0" : ":");
    AppendInteger(out, st.wMinute);
    Append(out, st.wSecond < 10 ? ":0" : ":");
    AppendInteger(out, st.wSecond);
    Append(out, st.wHour < 12 ? " AM" : " PM");
  }
  return S_OK;
}

template <class T>
T Read(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// The text of a value of base type `type` stored at `data` (the VARIANT's own union, or
// what a by-reference VARIANT points to).
HRESULT AppendValue(std::u16string& out, VARTYPE type, const void* data) {
  switch (type) {
    case VT_EMPTY:
      return S_OK;
    case VT_I1: AppendInteger(out, static_cast<int>(Read<signed char>(data))); return S_OK;
    case VT_UI1: AppendInteger(out, static_cast<unsigned>(Read<BYTE>(data))); return S_OK;
    case VT_I2: AppendInteger(out, Read<SHORT>(data)); return S_OK;
    case VT_UI2: AppendInteger(out, Read<USHORT>(data)); return S_OK;
    case VT_I4: AppendInteger(out, Read<LONG>(data)); return S_OK;
    case VT_UI4: AppendInteger(out, Read<ULONG>(data)); return S_OK;
    case VT_INT: AppendInteger(out, Read<INT>(data)); return S_OK;
    case VT_UINT: AppendInteger(out, Read<UINT>(data)); return S_OK;
    case VT_I8: AppendInteger(out, Read<LONGLONG>(data)); return S_OK;
    case VT_UI8: AppendInteger(out, Read<ULONGLONG>(data)); return S_OK;
    // With flags 0 a boolean is its number: VARIANT_TRUE is -1, and any other stored
    // value is written as it is.
    case VT_BOOL: AppendInteger(out, Read<VARIANT_BOOL>(data)); return S_OK;
    case VT_R4: AppendReal(out, Read<FLOAT>(data), 7); return S_OK;
    case VT_R8: AppendReal(out, Read<DOUBLE>(data), 15); return S_OK;
    case VT_CY: AppendCurrency(out, Read<CY>(data)); return S_OK;
    case VT_DECIMAL: return AppendDecimal(out, Read<DECIMAL>(data));
    case VT_DATE: return AppendDate(out, Read<DATE>(data));
    case VT_BSTR: {
      // The whole string, embedded NULs included.
      const BSTR text = Read<BSTR>(data);
      if (text) out.append(platform::AsU16(text), portable::SysStringLen(text));
      return S_OK;
    }
    case VT_DISPATCH:
      // An object's text would be its default property; the stand-in cannot ask for it.
      return Read<IDispatch*>(data) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    case VT_NULL:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_VARIANT:
    case kRecord:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

HRESULT AppendText(std::u16string& out, const VARIANT& src, bool insideReference) {
  const VARTYPE vt = src.vt;
  if (vt & VT_VECTOR) return DISP_E_BADVARTYPE;
  if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;  // no SAFEARRAY has a text here
  if (!(vt & VT_BYREF)) {
    // VT_DECIMAL fills the whole VARIANT, its type tag in the reserved first field.
    const void* data = vt == VT_DECIMAL ? static_cast<const void*>(&src.decVal)
                                        : static_cast<const void*>(&src.llVal);
    return AppendValue(out, vt, data);
  }
  const VARTYPE base = vt & ~VT_BYREF;
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
      return DISP_E_BADVARTYPE;
    case kRecord:
    case kClsid:
      return E_INVALIDARG;
    default:
      break;
  }
  if (!src.byref) return DISP_E_TYPEMISMATCH;
  if (base == VT_VARIANT) {
    // One level of VARIANT reference is followed; a reference to a reference is not.
    if (insideReference) return E_INVALIDARG;
    const VARIANT* inner = src.pvarVal;
    if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    return AppendText(out, *inner, true);
  }
  return AppendValue(out, base, src.byref);
}

}  // namespace

LCID GetUserDefaultLCID() {
  return 0x0409;  // English (United States)
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (vt != VT_BSTR || flags != 0) return E_NOTIMPL;
  try {
    std::u16string text;
    HRESULT hr = AppendText(text, *src, false);
    if (FAILED(hr)) return hr;
    // The text is built before `dest` is cleared, so converting a VARIANT in place works.
    BSTR result =
        portable::SysAllocStringLen(platform::AsWide(text.data()), static_cast<UINT>(text.size()));
    if (!result) return E_OUTOFMEMORY;
    hr = portable::VariantClear(dest);
    if (FAILED(hr)) {
      portable::SysFreeString(result);
      return hr;
    }
    dest->vt = VT_BSTR;
    dest->bstrVal = result;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace iniplugin::portable
