#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/wide.h"

namespace iniplugin::platform {

namespace {

// Owns a file handle.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Close();
    m_handle = std::exchange(other.m_handle, INVALID_HANDLE_VALUE);
    return *this;
  }
  ~UniqueHandle() { Close(); }
  HANDLE Get() const { return m_handle; }
  bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!Valid()) return true;
    return ::CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE m_handle;
};

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

// How long (in 100 ns ticks) after a change another change could still leave the same
// timestamp: a few clock ticks where timestamps carry fractions of a second (NTFS), two
// seconds where they are whole seconds (FAT counts in two-second steps).
std::int64_t TimestampWindowTicks(std::int64_t modified) {
  return modified % 10'000'000 != 0 ? 1'000'000 : 20'000'000;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  const std::size_t allowed = AllowedWriteBytes(bytes.size());
  const bool injectedFailure = allowed < bytes.size();
  bytes = bytes.substr(0, allowed);
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return !injectedFailure;
}

}  // namespace

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

std::optional<FileStamp> QueryFileStamp(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(AsWide(path.c_str()), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = Ticks(data.ftLastWriteTime);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  stamp.recent = Ticks(now) - stamp.modified < TimestampWindowTicks(stamp.modified);
  return stamp;
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const std::wstring target(AsWide(path.c_str()));
  const DWORD oldAttributes = ::GetFileAttributesW(target.c_str());
  // Windows refuses to move over a read-only file; say so before writing anything, and the
  // same where the move would not refuse (Wine).
  if (oldAttributes != INVALID_FILE_ATTRIBUTES &&
      (oldAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return false;
  }
  // The temporary file sits beside the target, so that the final move is a rename on one
  // volume and never a copy.
  static std::atomic<unsigned> counter{0};
  std::wstring temporary;
  UniqueHandle file(INVALID_HANDLE_VALUE);
  for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
    temporary = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                std::to_wstring(counter++) + L".tmp";
    file = UniqueHandle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file.Valid()) return false;
  bool ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
  ok = file.Close() && ok;
  if (ok && oldAttributes != INVALID_FILE_ATTRIBUTES) {
    // Hidden and system files stay so.
    const DWORD kept = oldAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept) ::SetFileAttributesW(temporary.c_str(), kept);
  }
  ok = ok && ::MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

HRESULT CreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  return ::CoCreateFreeThreadedMarshaler(outer, marshaler);
}

}  // namespace iniplugin::platform
