// The only place where text crosses between char16_t (inside the module) and WCHAR
// (the API's character type). On Windows WCHAR is the 16-bit wchar_t, elsewhere it is
// char16_t itself; both hold UTF-16 code units, so the casts reinterpret, never convert.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows_types.h"

namespace iniplugin::platform {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR must be a UTF-16 code unit");

inline const WCHAR* AsWide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }
inline WCHAR* AsWide(char16_t* text) { return reinterpret_cast<WCHAR*>(text); }
inline const char16_t* AsU16(const WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }
inline char16_t* AsU16(WCHAR* text) { return reinterpret_cast<char16_t*>(text); }

// Text of a NUL-terminated wide string; a null pointer is the empty text.
inline std::u16string U16FromWide(const WCHAR* text) {
  return text ? std::u16string(AsU16(text)) : std::u16string();
}

// The same text, not copied: valid while `text` is.
inline std::u16string_view WideView(const WCHAR* text) {
  return text ? std::u16string_view(AsU16(text)) : std::u16string_view();
}

// The whole text of a BSTR by its length prefix; a null BSTR is the empty text.
inline std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(AsU16(text), SysStringLen(text)) : std::u16string_view();
}

// A BSTR's text up to its first NUL, as the SDK's string functions see it.
inline std::u16string_view BstrCText(BSTR text) {
  std::u16string_view all = BstrView(text);
  return all.substr(0, all.find(u'\0'));
}

}  // namespace iniplugin::platform
