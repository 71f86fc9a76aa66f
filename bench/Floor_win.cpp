#include "Floor.h"

#include <windows.h>

namespace iniplugin::bench {

bool ReadCounting(const std::filesystem::path& path, LineCounter& counter) {
  static char buffer[1 << 16];
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  bool ok;
  while ((ok = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) {
    counter.Add(buffer, buffer + got);
  }
  ::CloseHandle(file);
  return ok;
}

long long ReadSmall(const std::filesystem::path& path, char* buffer, std::size_t size) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  const bool ok = ::ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr) != FALSE;
  ::CloseHandle(file);
  return ok ? static_cast<long long>(got) : -1;
}

bool WriteFlushed(const std::filesystem::path& path, std::string_view bytes) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
            wrote == bytes.size();
  ok = ::FlushFileBuffers(file) && ok;
  return ::CloseHandle(file) && ok;
}

}  // namespace iniplugin::bench
