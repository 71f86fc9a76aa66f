#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/file_problem.h"
#include "platform/posix/path.h"

namespace iniplugin::platform {

namespace {

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// How long after a change another change could still leave the same timestamp. Where
// timestamps carry fractions of a second they come from the kernel's coarse clock (a few
// milliseconds); where they are whole seconds the file system may count in two-second
// steps (FAT).
std::int64_t TimestampWindowNs(const struct timespec& modified) {
  return modified.tv_nsec != 0 ? 100'000'000 : 2'000'000'000;
}

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modified = Nanoseconds(info.st_mtim);
  // A rename over the file changes the inode; a write in place changes the ctime.
  const std::int64_t changed = Nanoseconds(info.st_ctim);
  stamp.identity = (static_cast<std::uint64_t>(info.st_ino) * 0x9E3779B97F4A7C15ull) ^
                   static_cast<std::uint64_t>(changed);
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t latest = std::max(stamp.modified, changed);
  stamp.recent = Nanoseconds(now) - latest < TimestampWindowNs(info.st_mtim);
  return stamp;
}

// The open(2) flags of a C stdio mode.
int OpenFlags(const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  const int exclusive = std::strchr(mode, 'x') != nullptr ? O_EXCL : 0;
  switch (mode[0]) {
    case 'w': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | exclusive;
    case 'a': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default: return update ? O_RDWR : O_RDONLY;
  }
}

}  // namespace

void NoteSystemFileProblem() {
  switch (errno) {
    case ENOENT: case ENOTDIR: NoteFileProblem(FileProblem::Missing); break;
    case EACCES: case EPERM: NoteFileProblem(FileProblem::Denied); break;
    case EROFS: NoteFileProblem(FileProblem::ReadOnly); break;
    case ETXTBSY: case EWOULDBLOCK: NoteFileProblem(FileProblem::Held); break;
    case EISDIR: case ENXIO: NoteFileProblem(FileProblem::NotAFile); break;
    case ENOSPC: case EDQUOT: case EFBIG: NoteFileProblem(FileProblem::DiskFull); break;
    default: NoteFileProblem(FileProblem::Unknown); break;
  }
}

UniqueFile OpenFile(const std::u16string& path, const char* mode, FileStamp* stamp) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return {};
  // Without O_NONBLOCK, opening a FIFO waits for its other end; with it the open returns
  // at once and the type check below turns the FIFO away.
  const int fd = ::open(PathToUtf8(path).c_str(), OpenFlags(mode) | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    NoteSystemFileProblem();
    return {};
  }
  UniqueFile file;
  struct stat info;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 &&
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
    file.Reset(::fdopen(fd, mode));
  }
  if (!file) {
    NoteFileProblem(FileProblem::NotAFile);
    ::close(fd);
    return {};
  }
  if (stamp) *stamp = StampOf(info);
  return file;
}

std::optional<FileStamp> QueryFileStamp(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  struct stat info;
  if (::stat(PathToUtf8(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return StampOf(info);
}

bool IsMarkedReadOnly(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  struct stat info;
  return ::stat(PathToUtf8(path).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         !(info.st_mode & S_IWUSR);
}

}  // namespace iniplugin::platform
