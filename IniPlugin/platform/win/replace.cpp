#include "platform/replace.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "platform/unique.h"
#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

namespace {

struct HandleTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE handle) { return ::CloseHandle(handle) != 0; }
};
using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace

struct FileReplacement::State {
  std::wstring target;
  std::wstring temporary;
  UniqueHandle file;
  DWORD oldAttributes = INVALID_FILE_ATTRIBUTES;
  std::size_t written = 0;
  bool created = false;  // the temporary file exists
  bool ok = false;
  bool committed = false;
};

FileReplacement::FileReplacement(const std::u16string& path) : m_state(std::make_unique<State>()) {
  State& state = *m_state;
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  state.target = AsWide(path.c_str());
  state.oldAttributes = ::GetFileAttributesW(state.target.c_str());
  // Windows refuses to move over a read-only file; say so before writing anything, and the
  // same where the move would not refuse (Wine).
  if (state.oldAttributes != INVALID_FILE_ATTRIBUTES &&
      (state.oldAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return;
  }
  // The temporary file sits beside the target, so that the final move is a rename on one
  // volume and never a copy.
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && !state.file.Valid(); ++attempt) {
    state.temporary = state.target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                      std::to_wstring(counter++) + L".tmp";
    state.file.Reset(::CreateFileW(state.temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!state.file.Valid() && ::GetLastError() != ERROR_FILE_EXISTS) return;
  }
  state.created = state.ok = state.file.Valid();
}

FileReplacement::~FileReplacement() {
  State& state = *m_state;
  state.file.Reset();
  if (state.created && !state.committed) ::DeleteFileW(state.temporary.c_str());
}

bool FileReplacement::Ok() const { return m_state->ok; }

bool FileReplacement::Write(std::string_view bytes) {
  State& state = *m_state;
  if (!state.ok) return false;
  bool injectedFailure = false;
  bytes = AllowedPart(state.written, bytes, injectedFailure);
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(state.file.Get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
      state.ok = false;
      return false;
    }
    bytes.remove_prefix(written);
    state.written += written;
  }
  state.ok = !injectedFailure;
  return state.ok;
}

bool FileReplacement::Commit() {
  State& state = *m_state;
  if (!state.ok) return false;
  state.ok = ::FlushFileBuffers(state.file.Get()) != 0;
  state.ok = state.file.Close() && state.ok;
  if (state.ok && state.oldAttributes != INVALID_FILE_ATTRIBUTES) {
    // Hidden and system files stay so.
    const DWORD kept = state.oldAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                              FILE_ATTRIBUTE_ARCHIVE |
                                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept) ::SetFileAttributesW(state.temporary.c_str(), kept);
  }
  state.ok = state.ok && ::MoveFileExW(state.temporary.c_str(), state.target.c_str(),
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!state.ok) return false;
  state.committed = true;
  return true;
}

bool CanReplaceFile(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const DWORD attributes = ::GetFileAttributesW(AsWide(path.c_str()));
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  }
  const std::size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos) return true;  // the current folder
  const std::u16string folder = path.substr(0, slash + 1);
  const DWORD folderAttributes = ::GetFileAttributesW(AsWide(folder.c_str()));
  return folderAttributes != INVALID_FILE_ATTRIBUTES &&
         (folderAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace iniplugin::platform
