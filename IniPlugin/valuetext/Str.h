// Str: the small text class in which dates are written.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace iniplugin::valuetext {

class Str {
 public:
  // One argument of a pattern: a number for %d, a text for %s.
  using Arg = std::variant<int, std::u16string_view>;

  Str() = default;
  explicit Str(std::u16string_view text) : m_text(text) {}
  Str(const Str&) = default;
  Str& operator=(const Str&) = default;
  virtual ~Str() = default;

  // Replaces the whole text with `pattern` filled in by the printf rules, for the part of
  // printf that our layouts use: %d and %s, each with the flags '-' and '0' and a width,
  // and %%. "%04d" of -1 is "-001", a number wider than its width is written whole.
  // A pattern that does not fit its arguments is a programming error and throws
  // std::invalid_argument; the text is then unchanged.
  template <class... Args>
  void Format(std::u16string_view pattern, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      FormatList(pattern, {});
    } else {
      const Arg list[] = {Arg(args)...};
      FormatList(pattern, list);
    }
  }
  void FormatList(std::u16string_view pattern, std::span<const Arg> args);

  const std::u16string& Text() const { return m_text; }
  const char16_t* CStr() const { return m_text.c_str(); }

 private:
  std::u16string m_text;
};

}  // namespace iniplugin::valuetext
