// What any reader or writer pays at least, with the system's own file calls: reading a
// file through one fixed buffer and finding every line end and the first "=" of every
// line; reading a small file whole; writing a file and flushing it to the disk. Each
// system has its file (Floor_posix.cpp, Floor_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace iniplugin::bench {

// Counts the lines of text fed in blocks, and the lines that hold an "=".
class LineCounter {
 public:
  void Add(const char* p, const char* end) {
    while (p < end) {
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
      const char* lineEnd = lf ? lf : end;
      if (!m_seenEquals && std::memchr(p, '=', lineEnd - p)) {
        m_seenEquals = true;
        ++m_equals;
      }
      if (!lf) break;
      ++m_lines;
      m_seenEquals = false;
      p = lf + 1;
    }
  }
  std::size_t Lines() const { return m_lines; }
  std::size_t Equals() const { return m_equals; }

 private:
  std::size_t m_lines = 0, m_equals = 0;
  bool m_seenEquals = false;
};

// Reads the file through one 64 KB buffer into `counter`; false when it cannot be read.
bool ReadCounting(const std::filesystem::path& path, LineCounter& counter);
// Opens, reads and closes a file of at most `size` bytes; its size, or -1.
long long ReadSmall(const std::filesystem::path& path, char* buffer, std::size_t size);
// Writes `bytes` as the whole file and flushes it to the disk; false on any failure.
bool WriteFlushed(const std::filesystem::path& path, std::string_view bytes);

}  // namespace iniplugin::bench
