#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/portable.h"
#include "platform/system.h"

namespace iniplugin::platform {

namespace {

// File names on POSIX systems are bytes; we hand them UTF-8. Unpaired surrogates cannot
// name a file and become U+FFFD.
std::string PathToUtf8(const std::u16string& path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t c = path[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) { return portable::AnsiToUtf16(bytes); }
std::string Utf16ToAnsi(std::u16string_view text) { return portable::Utf16ToAnsi(text); }

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return nullptr;
  return UniqueFile(std::fopen(PathToUtf8(path).c_str(), mode));
}

HRESULT CreateFreeThreadedMarshaler(IUnknown*, IUnknown** marshaler) {
  *marshaler = nullptr;
  return S_OK;
}

}  // namespace iniplugin::platform
