// Test helpers for the Automation conversions: one table of calls for the system's
// functions and one for the portable stand-ins, and input values that can be built for
// either. A BSTR made by one side must be freed by the same side.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/portable.h"
#include "platform/wide.h"
#include "platform/windows_types.h"
#include "support/Hresult.h"

namespace iniplugin::test {

struct AutomationApi {
  const char* name;
  bool isSystem;
  BSTR (*allocStringLen)(const OLECHAR*, UINT);
  void (*freeString)(BSTR);
  UINT (*stringLen)(BSTR);
  HRESULT (*clear)(VARIANTARG*);
  HRESULT (*changeType)(VARIANTARG*, const VARIANTARG*, USHORT, VARTYPE);
  INT (*timeToSystemTime)(DOUBLE, SYSTEMTIME*);
};

namespace detail {
inline BSTR SystemAllocLen(const OLECHAR* t, UINT n) { return ::SysAllocStringLen(t, n); }
inline void SystemFree(BSTR s) { ::SysFreeString(s); }
inline UINT SystemLen(BSTR s) { return ::SysStringLen(s); }
inline HRESULT SystemClear(VARIANTARG* v) { return ::VariantClear(v); }
// The SDK declares the source without const; the call does not change it.
inline HRESULT SystemChangeType(VARIANTARG* d, const VARIANTARG* s, USHORT f, VARTYPE t) {
  return ::VariantChangeType(d, const_cast<VARIANTARG*>(s), f, t);
}
inline INT SystemTimeToSystemTime(DOUBLE t, SYSTEMTIME* st) {
  return ::VariantTimeToSystemTime(t, st);
}
}  // namespace detail

inline const AutomationApi kSystemApi = {
    "system", true, detail::SystemAllocLen, detail::SystemFree, detail::SystemLen,
    detail::SystemClear, detail::SystemChangeType, detail::SystemTimeToSystemTime};
inline const AutomationApi kPortableApi = {
    "portable", false, portable::SysAllocStringLen, portable::SysFreeString,
    portable::SysStringLen, portable::VariantClear, portable::VariantChangeType,
    portable::VariantTimeToSystemTime};

constexpr LCID kEnglishUnitedStates = 0x0409;

// The system's conversions follow the user's locale; the expected texts are those of
// English (United States).
inline bool SystemLocaleIsEnglishUs() { return GetUserDefaultLCID() == kEnglishUnitedStates; }

// Printable form of a text: ASCII as it is, everything else as \uXXXX.
inline std::string Printable(std::u16string_view text) {
  std::ostringstream out;
  out << '"';
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out << static_cast<char>(c);
    } else {
      out << "\\u" << std::hex << std::setw(4) << std::setfill('0') << static_cast<unsigned>(c)
          << std::dec;
    }
  }
  out << '"';
  return out.str();
}

// One input value: a type tag and the bytes of its payload, or the text of a BSTR.
struct Value {
  VARTYPE vt = VT_EMPTY;
  unsigned char payload[sizeof(DECIMAL)] = {};
  const char16_t* text = nullptr;  // VT_BSTR; null gives a null BSTR
  std::size_t textLength = 0;
};

template <class T>
Value Of(VARTYPE vt, T payload) {
  static_assert(sizeof(T) <= sizeof(Value::payload));
  Value value{vt};
  std::memcpy(value.payload, &payload, sizeof payload);
  return value;
}
inline Value Empty() { return {VT_EMPTY}; }
inline Value Null() { return {VT_NULL}; }
inline Value I1(CHAR v) { return Of(VT_I1, v); }
inline Value UI1(BYTE v) { return Of(VT_UI1, v); }
inline Value I2(SHORT v) { return Of(VT_I2, v); }
inline Value UI2(USHORT v) { return Of(VT_UI2, v); }
inline Value I4(LONG v) { return Of(VT_I4, v); }
inline Value UI4(ULONG v) { return Of(VT_UI4, v); }
inline Value Int(INT v) { return Of(VT_INT, v); }
inline Value UInt(UINT v) { return Of(VT_UINT, v); }
inline Value I8(LONGLONG v) { return Of(VT_I8, v); }
inline Value UI8(ULONGLONG v) { return Of(VT_UI8, v); }
inline Value Bool(VARIANT_BOOL v) { return Of(VT_BOOL, v); }
inline Value Error(std::uint32_t v) { return Of(VT_ERROR, v); }
inline Value Cy(LONGLONG tenThousandths) { return Of(VT_CY, tenThousandths); }
inline Value R4(FLOAT v) { return Of(VT_R4, v); }
inline Value R8(DOUBLE v) { return Of(VT_R8, v); }
inline Value R8Bits(std::uint64_t bits) { return Of(VT_R8, bits); }
inline Value Date(DATE v) { return Of(VT_DATE, v); }
inline Value Dec(BYTE scale, BYTE sign, ULONG hi, ULONGLONG lo) {
  DECIMAL d{};
  d.scale = scale;
  d.sign = sign;
  d.Hi32 = hi;
  d.Lo64 = lo;
  return Of(VT_DECIMAL, d);
}
template <std::size_t N>
Value Bstr(const char16_t (&text)[N]) {
  return {VT_BSTR, {}, text, N - 1};
}
inline Value NullBstr() { return {VT_BSTR}; }
// A bare type tag with a zero payload, for the tags that have no text.
inline Value Tag(VARTYPE vt) { return {vt}; }

// How a value reaches the conversion.
enum class Passing { Direct, ByReference, ThroughVariant };

inline const char* PassingName(Passing passing) {
  switch (passing) {
    case Passing::Direct: return "direct";
    case Passing::ByReference: return "by reference";
    case Passing::ThroughVariant: return "through a VARIANT reference";
  }
  return "?";
}

// A VARIANT holding a Value passed one way, with its BSTR (if any) made by, and freed by,
// one implementation.
class BuiltVariant {
 public:
  BuiltVariant(const AutomationApi& api, const Value& value, Passing passing) : m_api(api) {
    std::memset(static_cast<void*>(&m_direct), 0, sizeof m_direct);
    std::memset(static_cast<void*>(&m_outer), 0, sizeof m_outer);
    if (value.vt == VT_BSTR && value.text) {
      m_bstr = api.allocStringLen(platform::AsWide(value.text),
                                  static_cast<UINT>(value.textLength));
    }
    Fill(value);
    switch (passing) {
      case Passing::Direct:
        m_outer = m_direct;
        break;
      case Passing::ByReference:
        m_outer.vt = value.vt | VT_BYREF;
        m_outer.byref = value.vt == VT_DECIMAL ? static_cast<void*>(&m_direct.decVal)
                                               : static_cast<void*>(&m_direct.llVal);
        break;
      case Passing::ThroughVariant:
        m_outer.vt = VT_BYREF | VT_VARIANT;
        m_outer.pvarVal = &m_direct;
        break;
    }
  }
  BuiltVariant(const BuiltVariant&) = delete;
  BuiltVariant& operator=(const BuiltVariant&) = delete;
  ~BuiltVariant() {
    if (m_bstr) m_api.freeString(m_bstr);
  }

  const VARIANT* Get() const { return &m_outer; }

 private:
  void Fill(const Value& value) {
    // A DECIMAL fills the whole VARIANT, its reserved first field under the type tag.
    if (value.vt == VT_DECIMAL) {
      std::memcpy(static_cast<void*>(&m_direct.decVal), value.payload, sizeof(DECIMAL));
    } else {
      std::memcpy(static_cast<void*>(&m_direct.llVal), value.payload, sizeof(LONGLONG));
    }
    m_direct.vt = value.vt;
    if (value.vt == VT_BSTR) m_direct.bstrVal = m_bstr;
  }

  const AutomationApi& m_api;
  BSTR m_bstr = nullptr;
  VARIANT m_direct;
  VARIANT m_outer;
};

// Converts to VT_BSTR; the text is copied out and the result freed by the same side.
struct ConvertResult {
  HRESULT hr;
  std::u16string text;
};

inline ConvertResult ConvertToText(const AutomationApi& api, const VARIANT* source) {
  VARIANT out;
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  out.vt = VT_EMPTY;
  ConvertResult result{api.changeType(&out, source, 0, VT_BSTR), {}};
  if (SUCCEEDED(result.hr)) {
    EXPECT_EQ(out.vt, VT_BSTR) << api.name;
    if (out.vt == VT_BSTR) {
      EXPECT_NE(out.bstrVal, nullptr) << api.name << ": the text is allocated, even when empty";
      if (out.bstrVal) {
        result.text.assign(platform::AsU16(out.bstrVal), api.stringLen(out.bstrVal));
      }
      api.clear(&out);
    }
  }
  return result;
}

}  // namespace iniplugin::test
