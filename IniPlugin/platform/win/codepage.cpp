#include "platform/codepage.h"

#include "platform/unicode.h"
#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

std::u16string AnsiToUtf16(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, AsWide(text.data()), needed);
  return text;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_ACP, 0, AsWide(text.data()), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, AsWide(text.data()), size, bytes.data(), needed, nullptr,
                        nullptr);
  return bytes;
}

void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text) {
  if (bytes.empty()) return;
  const int size = static_cast<int>(bytes.size());
  // A byte never becomes more than one unit, so the room is known without asking.
  AppendWritten(text, bytes.size(), [&](char16_t* out) {
    const int got = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, AsWide(out), size);
    return static_cast<std::size_t>(got > 0 ? got : 0);
  });
}

void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes) {
  if (text.empty()) return;
  const int size = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_ACP, 0, AsWide(text.data()), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  AppendWritten(bytes, static_cast<std::size_t>(needed), [&](char* out) {
    const int got =
        ::WideCharToMultiByte(CP_ACP, 0, AsWide(text.data()), size, out, needed, nullptr, nullptr);
    return static_cast<std::size_t>(got > 0 ? got : 0);
  });
}

bool AnsiHoldsExactly(std::u16string_view text) {
  if (text.empty()) return true;
  BOOL usedDefault = FALSE;
  const int needed = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AsWide(text.data()),
                                           static_cast<int>(text.size()), nullptr, 0, nullptr,
                                           &usedDefault);
  return needed > 0 && !usedDefault;
}

}  // namespace iniplugin::platform
