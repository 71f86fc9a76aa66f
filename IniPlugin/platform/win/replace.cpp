#include "platform/replace.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_problem.h"
#include "platform/unique.h"
#include "platform/win/replacement_pause.h"
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

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The locked byte lies beyond any content a file of ours can have: a byte-range lock on
// Windows also stops other handles' reads of what it covers.
OVERLAPPED LockedByte() {
  OVERLAPPED where{};
  where.Offset = 0xFFFFFFFEu;
  where.OffsetHigh = 0x7FFFFFFFu;
  return where;
}

bool Identity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  return ::GetFileInformationByHandle(file, &info) != 0;
}

// The attributes alone, where the file's identity is not needed: the whole of
// GetFileInformationByHandle also asks for the volume's serial number, which under Wine is
// a round trip to its mount manager.
bool AttributesOnly(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
  info = BY_HANDLE_FILE_INFORMATION{};
  info.dwFileAttributes = basic.FileAttributes;
  return true;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// The name the open file has after every link and junction on the way.
std::wstring FinalName(HANDLE file, const std::wstring& fallback) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(),
                                                      static_cast<DWORD>(buffer.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) break;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return fallback;
}

// Wine's ReplaceFileW moves the old file aside before it moves the new one in, and Wine
// moves nothing over a file that is open, as the lock's own handle is. For that moment the
// name names no file: a writer that opened it then would make a new, empty one and lock
// that, and the move could not replace it (both saves lost). Windows replaces in one step.
// Under Wine, writers of ours therefore also take a mutex named for the file, held from
// before the file is opened until the lock ends.
bool ReplacesInTwoSteps() {
  static const bool wine = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

// The mutex's name: the full path without regard to case, hashed (a name has a length
// limit a path has not).
std::wstring MutexName(const std::wstring& path) {
  std::vector<wchar_t> full(MAX_PATH);
  DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length + 1);
    length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  const std::wstring name = length > 0 && length < full.size() ? std::wstring(full.data(), length) : path;
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (wchar_t c : name) {
    hash = (hash ^ static_cast<std::uint16_t>(::towupper(c))) * 0x100000001B3ull;
  }
  std::wstring text = L"Local\\IniPlugin.FileLock.";
  for (int shift = 60; shift >= 0; shift -= 4) text.push_back(L"0123456789ABCDEF"[(hash >> shift) & 0xF]);
  return text;
}

struct MutexTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool Close(HANDLE handle) {
    ::ReleaseMutex(handle);
    return ::CloseHandle(handle) != 0;
  }
};
using HeldMutex = UniqueResource<MutexTraits>;

// The mutex of `path`'s replacements, held; none when the wait ran out.
HeldMutex TakeReplacementMutex(const std::wstring& path) {
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(path).c_str());
  if (!mutex) return {};
  const DWORD waited = ::WaitForSingleObject(mutex, static_cast<DWORD>(LockWaitMilliseconds()));
  // A holder that died leaves it abandoned, and ours.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return HeldMutex(mutex);
  ::CloseHandle(mutex);  // never held: nothing to release
  return {};
}

}  // namespace

struct FileLock::State {
  HeldMutex mutex;         // Wine only: see ReplacesInTwoSteps
  std::wstring target;     // links followed
  std::wstring temporary;  // where a replacement writes the new content
  UniqueHandle file;
  BY_HANDLE_FILE_INFORMATION identity{};  // under the mutex, its attributes only
  bool created = false;   // the lock made the file
  bool replaced = false;  // a replacement put new content there
};

FileLock::FileLock(const std::u16string& path, Missing missing)
    : m_state(std::make_unique<State>()) {
  State& state = *m_state;
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  const std::wstring given = AsWide(path.c_str());
  const DWORD deadline = ::GetTickCount() + static_cast<DWORD>(LockWaitMilliseconds());
  const auto late = [&] { return static_cast<LONG>(::GetTickCount() - deadline) >= 0; };
  if (ReplacesInTwoSteps()) {
    state.mutex = TakeReplacementMutex(given);
    if (!state.mutex.Valid()) {
      NoteFileProblem(FileProblem::Held);
      return;
    }
  }
  for (;;) {
    // Shared for reading, writing and deleting: readers go on, and ReplaceFileW may put the
    // new file in this one's place while the lock is held.
    ::SetLastError(ERROR_SUCCESS);
    state.file.Reset(::CreateFileW(given.c_str(), GENERIC_READ, kShareAll, nullptr,
                                   missing == Missing::Create ? OPEN_ALWAYS : OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!state.file.Valid()) {
      if (::GetLastError() != ERROR_SHARING_VIOLATION || late()) {
        NoteSystemFileProblem();
        return;
      }
      ::Sleep(10);
      continue;
    }
    state.created = missing == Missing::Create && ::GetLastError() != ERROR_ALREADY_EXISTS;
    // Under the mutex only the attributes are asked for: see below.
    const bool known = state.mutex.Valid() ? AttributesOnly(state.file.Get(), state.identity)
                                           : Identity(state.file.Get(), state.identity);
    if (!known || (state.identity.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      state.file.Reset();
      NoteFileProblem(FileProblem::NotAFile);
      return;
    }
    OVERLAPPED where = LockedByte();
    bool locked = false;
    DWORD pause = 1;
    while (!(locked = ::LockFileEx(state.file.Get(),
                                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                                   &where) != 0)) {
      if (::GetLastError() != ERROR_LOCK_VIOLATION || late()) break;
      ::Sleep(pause);
      pause = std::min<DWORD>(pause * 2, 8);
      where = LockedByte();
    }
    if (!locked) {
      NoteSystemFileProblem();  // still locked when the wait ran out: a lock violation
      state.file.Reset();
      return;
    }
    // Under Wine every writer of ours holds the mutex from before it opens the file until
    // its lock ends, so none can have put a new file in the name's place meanwhile. (The
    // identity check would cost two round trips to Wine's mount manager there.)
    if (state.mutex.Valid()) break;
    // The writer before us may have put a new file in the name's place: that one is
    // the file now, and the lock on the old one guards nothing.
    UniqueHandle now(::CreateFileW(given.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION nowIdentity{};
    if (now.Valid() && Identity(now.Get(), nowIdentity) && SameFile(nowIdentity, state.identity)) {
      break;
    }
    state.file.Reset();
    if (late()) {
      NoteFileProblem(FileProblem::Held);
      return;
    }
  }
  state.target = FinalName(state.file.Get(), given);
  const std::size_t slash = state.target.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : state.target.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? state.target : state.target.substr(slash + 1);
  state.temporary = folder + AsWide(TemporaryName(AsU16(name.c_str()), u".tmp").c_str());
  // What a killed save left behind.
  ::DeleteFileW(state.temporary.c_str());
}

FileLock::~FileLock() {
  State& state = *m_state;
  if (!state.file.Valid()) return;
  // A file the lock made for a replacement that never came is taken away again.
  LARGE_INTEGER size{};
  if (state.created && !state.replaced && ::GetFileSizeEx(state.file.Get(), &size) &&
      size.QuadPart == 0) {
    ::DeleteFileW(state.target.c_str());
  }
  OVERLAPPED where = LockedByte();
  ::UnlockFileEx(state.file.Get(), 0, 1, 0, &where);
  state.file.Reset();
}

bool FileLock::Held() const { return m_state->file.Valid(); }

struct FileReplacement::State {
  std::unique_ptr<FileLock> ownLock;  // when the replacement locked the file itself
  FileLock::State* lock = nullptr;
  UniqueHandle file;
  std::size_t written = 0;
  bool created = false;  // the temporary file exists
  bool ok = false;
  bool committed = false;
};

FileReplacement::FileReplacement(const std::u16string& path) {
  auto lock = std::make_unique<FileLock>(path, FileLock::Missing::Create);
  FileReplacement locked(*lock);
  m_state = std::move(locked.m_state);
  m_state->ownLock = std::move(lock);
}

FileReplacement::FileReplacement(const FileLock& lock) : m_state(std::make_unique<State>()) {
  State& state = *m_state;
  if (!lock.Held()) return;
  state.lock = lock.m_state.get();
  // Windows refuses to replace a read-only file; say so before writing anything.
  if (state.lock->identity.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    NoteFileProblem(FileProblem::ReadOnly);
    return;
  }
  // The temporary file sits beside the target, so that the final move is a rename on one
  // volume and never a copy.
  state.file.Reset(::CreateFileW(state.lock->temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  state.created = state.ok = state.file.Valid();
  if (!state.ok) NoteSystemFileProblem();
}

FileReplacement::~FileReplacement() {
  if (!m_state) return;  // moved into the path form
  State& state = *m_state;
  state.file.Reset();
  if (state.created && !state.committed) ::DeleteFileW(state.lock->temporary.c_str());
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
      NoteSystemFileProblem();
      state.ok = false;
      return false;
    }
    bytes.remove_prefix(written);
    state.written += written;
  }
  state.ok = !injectedFailure;
  if (injectedFailure) NoteFileProblem(FileProblem::DiskFull);
  return state.ok;
}

bool FileReplacement::Commit() {
  State& state = *m_state;
  if (!state.ok) return false;
  FileLock::State& locked = *state.lock;
  state.ok = ::FlushFileBuffers(state.file.Get()) != 0;
  state.ok = state.file.Close() && state.ok;
  if (!state.ok) {
    NoteSystemFileProblem();
    return false;
  }
  // ReplaceFileW keeps what makes the file itself (ACL, owner, attributes, creation time,
  // streams), where a move would give it the folder's. A reader that opened the file
  // without delete sharing holds it for a moment: wait for about a second.
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (::ReplaceFileW(locked.target.c_str(), locked.temporary.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      break;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND &&
        ::GetFileAttributesW(locked.target.c_str()) == INVALID_FILE_ATTRIBUTES) {
      // Only a file that was not there is made by a move.
      state.ok = ::MoveFileExW(locked.temporary.c_str(), locked.target.c_str(),
                               MOVEFILE_WRITE_THROUGH) != 0;
      if (!state.ok) {
        NoteSystemFileProblem();
        return false;
      }
      break;
    }
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
                      error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
    if (!busy || ::GetTickCount() - start >= 1000) {
      ::SetLastError(error);
      NoteSystemFileProblem();
      state.ok = false;
      return false;
    }
    ::Sleep(50);
  }
  state.committed = locked.replaced = true;
  return true;
}

ReplacementPause::ReplacementPause(const std::wstring& path) {
  if (!ReplacesInTwoSteps() || path.empty()) return;
  // A look that finds the file missing reports why: the mutex calls must not change that.
  const DWORD error = ::GetLastError();
  m_mutex = TakeReplacementMutex(path).Release();
  ::SetLastError(error);
}

ReplacementPause::~ReplacementPause() {
  if (m_mutex) MutexTraits::Close(m_mutex);
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
