#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// The way back, for names the system hands us. Bytes that are not UTF-8 pass one by one,
// so that the name survives the round trip through PathToUtf8 when it was ASCII.
std::u16string PathFromUtf8(const std::string& path) {
  std::u16string out;
  for (std::size_t i = 0; i < path.size();) {
    const auto lead = static_cast<unsigned char>(path[i]);
    const std::size_t extra = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    bool valid = lead < 0x80 || (extra > 0 && i + extra < path.size());
    char32_t c = extra == 0 ? lead : lead & (0x7F >> (extra + 1));
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(path[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
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

std::u16string ResolveWriteTarget(const std::u16string& path) {
  const std::string name = PathToUtf8(path);
  struct stat info;
  if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (!realpath(name.c_str(), resolved)) return path;  // a dangling link: replace the link
  return PathFromUtf8(resolved);
}

UniqueFile CreateFileBeside(const std::u16string& target, std::u16string& created) {
  static std::atomic<unsigned> counter{0};
  const std::string base = PathToUtf8(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        base + ".~" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
      close(fd);
      unlink(candidate.c_str());
      return nullptr;
    }
    created = PathFromUtf8(candidate);
    return UniqueFile(file);
  }
  return nullptr;
}

void CopyPermissions(const std::u16string& from, std::FILE* to) {
  struct stat info;
  if (stat(PathToUtf8(from).c_str(), &info) == 0) fchmod(fileno(to), info.st_mode & 07777);
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveOver(const std::u16string& from, const std::u16string& to) {
  return std::rename(PathToUtf8(from).c_str(), PathToUtf8(to).c_str()) == 0;
}

void RemoveFile(const std::u16string& path) { unlink(PathToUtf8(path).c_str()); }

HRESULT CreateFreeThreadedMarshaler(IUnknown*, IUnknown** marshaler) {
  *marshaler = nullptr;
  return S_OK;
}

}  // namespace iniplugin::platform
