// The three forms a file the tests and benchmarks write can take, and their bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/unicode.h"

namespace iniplugin::test {

enum class Form { Ansi, Utf16, Utf8 };
constexpr Form kForms[] = {Form::Ansi, Form::Utf16, Form::Utf8};

inline std::string FormName(Form form) {
  return form == Form::Ansi ? "ANSI" : form == Form::Utf16 ? "UTF-16" : "UTF-8";
}

// The file's bytes: its mark, then the text (Latin-1 only, for ANSI).
inline std::string Encode(Form form, std::u16string_view text) {
  switch (form) {
    case Form::Utf16: {
      std::string bytes = "\xFF\xFE";
      platform::AppendAsUtf16Le(text, bytes);
      return bytes;
    }
    case Form::Utf8:
      return "\xEF\xBB\xBF" + platform::Utf16ToUtf8(text);
    case Form::Ansi:
      break;
  }
  std::string bytes;
  for (char16_t c : text) bytes.push_back(static_cast<char>(c));
  return bytes;
}

}  // namespace iniplugin::test
