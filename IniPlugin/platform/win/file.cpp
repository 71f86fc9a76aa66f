#include "platform/file.h"

#include <io.h>

#include <string>

#include "platform/file_problem.h"
#include "platform/wide.h"
#include "platform/win/replacement_pause.h"
#include "platform/windows_types.h"

namespace iniplugin::platform {

namespace {

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

FileStamp StampOf(DWORD sizeHigh, DWORD sizeLow, const FILETIME& lastWrite) {
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  stamp.modified = Ticks(lastWrite);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  stamp.recent = Ticks(now) - stamp.modified < TimestampWindowTicks(stamp.modified);
  return stamp;
}

}  // namespace

void NoteSystemFileProblem() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      NoteFileProblem(FileProblem::Missing);
      break;
    case ERROR_ACCESS_DENIED: NoteFileProblem(FileProblem::Denied); break;
    case ERROR_WRITE_PROTECT: NoteFileProblem(FileProblem::ReadOnly); break;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
      NoteFileProblem(FileProblem::Held);
      break;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL:
      NoteFileProblem(FileProblem::DiskFull);
      break;
    default: NoteFileProblem(FileProblem::Unknown); break;
  }
}

UniqueFile OpenFile(const std::u16string& path, const char* mode, FileStamp* stamp) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return {};
  // A device name (CON, COM1, a pipe) is no file: what reads from it can wait forever.
  // Only what the system calls a disk file is kept open.
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  const LPCWSTR name = AsWide(path.c_str());
  UniqueFile file(::_wfopen(name, wideMode.c_str()));
  if (!file && (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_SHARING_VIOLATION)) {
    // Under Wine, a save of ours may have had the name without a file just then, or held
    // the file without sharing while it moved it aside.
    const ReplacementPause pause(name);
    if (pause.Held()) file.Reset(::_wfopen(name, wideMode.c_str()));
  }
  if (!file) {
    NoteSystemFileProblem();
    return {};
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file.Get())));
  // Size and time only: the whole of GetFileInformationByHandle also asks for the volume's
  // serial number, which under Wine is a round trip to its mount manager and cost more
  // than the rest of a small file's read.
  FILE_STANDARD_INFO standard;
  FILETIME lastWrite;
  if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) ||
      standard.Directory || !::GetFileTime(handle, nullptr, nullptr, &lastWrite)) {
    NoteFileProblem(FileProblem::NotAFile);
    return {};
  }
  if (stamp) {
    const auto size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    *stamp = StampOf(static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), lastWrite);
  }
  return file;
}

std::optional<FileStamp> QueryFileStamp(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  const LPCWSTR name = AsWide(path.c_str());
  WIN32_FILE_ATTRIBUTE_DATA data;
  bool found = ::GetFileAttributesExW(name, GetFileExInfoStandard, &data) != 0;
  if (!found && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    const ReplacementPause pause(name);  // as in OpenFile
    found = pause.Held() && ::GetFileAttributesExW(name, GetFileExInfoStandard, &data) != 0;
  }
  if (!found || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return StampOf(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

bool IsMarkedReadOnly(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const DWORD attributes = ::GetFileAttributesW(AsWide(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace iniplugin::platform
