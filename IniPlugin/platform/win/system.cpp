#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/wide.h"

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

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return nullptr;
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(::_wfopen(AsWide(path.c_str()), wideMode.c_str()));
}

HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  return ::CoCreateFreeThreadedMarshaler(outer, marshaler);
}

}  // namespace iniplugin::platform
