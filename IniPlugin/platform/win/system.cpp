#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

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

std::u16string ResolveWriteTarget(const std::u16string& path) { return path; }

UniqueFile CreateFileBeside(const std::u16string& target, std::u16string& created) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = ".~" + std::to_string(::GetCurrentProcessId()) + "-" +
                               std::to_string(counter++);
    std::u16string candidate = target;
    for (char c : suffix) candidate.push_back(static_cast<char16_t>(c));
    const int fd = ::_wopen(AsWide(candidate.c_str()), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "wb");
    if (!file) {
      ::_close(fd);
      ::DeleteFileW(AsWide(candidate.c_str()));
      return nullptr;
    }
    created = candidate;
    return UniqueFile(file);
  }
  return nullptr;
}

// Windows keeps a file's access rights in its folder's inheritance and its attributes;
// MoveFileExW refuses to replace a read-only file, which is what its owner asked for.
void CopyPermissions(const std::u16string&, std::FILE*) {}

bool FlushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && ::_commit(::_fileno(file)) == 0;
}

bool MoveOver(const std::u16string& from, const std::u16string& to) {
  return ::MoveFileExW(AsWide(from.c_str()), AsWide(to.c_str()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const std::u16string& path) { ::DeleteFileW(AsWide(path.c_str())); }

HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  return ::CoCreateFreeThreadedMarshaler(outer, marshaler);
}

}  // namespace iniplugin::platform
