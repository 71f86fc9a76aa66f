#include "platform/replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/file_lock.h"
#include "platform/file_problem.h"
#include "platform/posix/path.h"
#include "platform/unicode.h"
#include "platform/unique.h"

namespace iniplugin::platform {

namespace {

struct FdTraits {
  using Type = int;
  static int Invalid() { return -1; }
  static bool Close(int fd) { return ::close(fd) == 0; }
};
using UniqueFd = UniqueResource<FdTraits>;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name a chain of symbolic links ends at, whether or not that file exists: a link is
// a name for its target, and writing through it must leave it a link.
std::optional<std::string> FollowLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return path;
      return std::nullopt;
    }
    if (!S_ISLNK(info.st_mode)) return path;
    std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return std::nullopt;
    link.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    path = link.front() == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  return std::nullopt;  // a loop
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Copies everything `from` holds to `to`'s start, drops what `to` held beyond, and flushes.
bool CopyContent(int from, int to) {
  char buffer[1 << 16];
  off_t total = 0;
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(from, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (::lseek(to, at, SEEK_SET) < 0 || !WriteAll(to, std::string_view(buffer, got))) return false;
    at += got;
    total = at;
  }
  return ::ftruncate(to, total) == 0 && ::fsync(to) == 0;
}

void SyncFolder(const std::string& folder) {
  UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) (void)::fsync(directory.Get());
}

// Puts the copy at `backup` back into `target` and removes it; the copy stays when that
// fails, for the next lock to try again.
bool RestoreFrom(const std::string& backup, const std::string& target) {
  UniqueFd from(::open(backup.c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd to(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
  if (!from.Valid() || !to.Valid() || !CopyContent(from.Get(), to.Get())) return false;
  return ::unlink(backup.c_str()) == 0;
}

}  // namespace

struct FileLock::State {
  std::string target;  // links followed
  std::string folder;  // ends with '/'
  std::string temporary;  // where a replacement writes the new content
  std::string backup;     // where an in-place rewrite keeps the old content
  UniqueFd file;
  struct stat identity {};
  bool created = false;   // the lock made the file
  bool replaced = false;  // a replacement put new content there
};

FileLock::FileLock(const std::u16string& path, Missing missing)
    : m_state(std::make_unique<State>()) {
  State& state = *m_state;
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  const std::optional<std::string> target = FollowLinks(PathToUtf8(path));
  if (!target) return;
  state.target = *target;
  const std::size_t slash = state.target.rfind('/');
  state.folder = slash == std::string::npos ? "./" : state.target.substr(0, slash + 1);
  const std::u16string name =
      Utf8ToUtf16(slash == std::string::npos ? state.target : state.target.substr(slash + 1))
          .value_or(u"");
  state.temporary = state.folder + PathToUtf8(TemporaryName(name, u".tmp"));
  state.backup = state.folder + PathToUtf8(TemporaryName(name, u".old"));

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(LockWaitMilliseconds());
  auto pause = std::chrono::microseconds(50);
  for (;;) {
    state.created = false;
    int fd = -1;
    if (missing == Missing::Create) {
      fd = ::open(state.target.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      state.created = fd >= 0;
      if (fd < 0 && errno != EEXIST) {
        NoteSystemFileProblem();
        return;
      }
    }
    if (fd < 0) fd = ::open(state.target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT && missing == Missing::Create) continue;  // removed meanwhile
      NoteSystemFileProblem();
      return;
    }
    // The lock is held only once the descriptor is in state.file: a wait that ran out
    // must not leave a descriptor behind that Held() would take for the lock.
    UniqueFd file(fd);
    if (::fstat(fd, &state.identity) != 0 || !S_ISREG(state.identity.st_mode)) {
      NoteFileProblem(FileProblem::NotAFile);
      return;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        NoteSystemFileProblem();
        return;
      }
      if (Clock::now() >= deadline) {
        NoteFileProblem(FileProblem::Held);
        return;
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(4000));
    }
    // The writer before us may have put a new file in the name's place: that one is
    // the file now, and the lock on the old one guards nothing.
    struct stat now;
    if (::stat(state.target.c_str(), &now) == 0 && SameFile(now, state.identity)) {
      state.file = std::move(file);
      break;
    }
    if (Clock::now() >= deadline) {
      NoteFileProblem(FileProblem::Held);
      return;
    }
  }
  // What a killed save left: its half-written new content goes, and an in-place rewrite's
  // copy of the old content goes back where it came from.
  ::unlink(state.temporary.c_str());
  if (::access(state.backup.c_str(), F_OK) == 0 && RestoreFrom(state.backup, state.target)) {
    SyncFolder(state.folder);
  }
  (void)::fstat(state.file.Get(), &state.identity);
}

FileLock::~FileLock() {
  State& state = *m_state;
  if (!state.file.Valid()) return;
  // A file the lock made for a replacement that never came is taken away again.
  struct stat now;
  if (state.created && !state.replaced && ::stat(state.target.c_str(), &now) == 0 &&
      SameFile(now, state.identity) && now.st_size == 0) {
    ::unlink(state.target.c_str());
  }
  state.file.Reset();  // the lock ends with the descriptor
}

bool FileLock::Held() const { return m_state->file.Valid(); }

struct FileReplacement::State {
  std::unique_ptr<FileLock> ownLock;  // when the replacement locked the file itself
  FileLock::State* lock = nullptr;
  UniqueFd file;          // the temporary file, or the target itself when in place
  std::size_t written = 0;
  bool inPlace = false;   // rewriting the target, with its old content kept at `backup`
  bool created = false;   // the temporary file (or the backup) exists
  bool ok = false;
  bool committed = false;
};

namespace {

// Opens the temporary file with the old file's permission bits, owner and group. False
// when the owner or group cannot be given (another user's file, without the privilege).
bool OpenTemporary(FileLock::State& lock, const struct stat& old, UniqueFd& file, bool& created,
                   bool& ownerKept) {
  ownerKept = false;
  // Private until it has the old bits.
  file.Reset(::open(lock.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file.Valid()) return false;
  created = true;
  if (::fchmod(file.Get(), old.st_mode & 07777) != 0) return false;
  ownerKept = ::fchown(file.Get(), old.st_uid, old.st_gid) == 0;
  // fchown may clear the set-id bits; give them back.
  if (ownerKept && (old.st_mode & (S_ISUID | S_ISGID))) {
    ownerKept = ::fchmod(file.Get(), old.st_mode & 07777) == 0;
  }
  return true;
}

}  // namespace

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
  FileLock::State& locked = *state.lock;
  const struct stat& old = locked.identity;
  // A file its owner cannot write is one the user marked read-only; Windows refuses to
  // replace those, and so do we (even where privileges would allow it).
  if (!(old.st_mode & S_IWUSR)) {
    NoteFileProblem(FileProblem::ReadOnly);
    return;
  }
  bool ownerKept = false;
  if (old.st_nlink <= 1) {
    if (!OpenTemporary(locked, old, state.file, state.created, ownerKept)) {
      NoteSystemFileProblem();
      return;
    }
    if (ownerKept) {
      state.ok = true;
      return;
    }
    state.file.Reset();
    ::unlink(locked.temporary.c_str());
    state.created = false;
  }
  // A new file would lose the other hard links, or the owner: the content changes in
  // place instead, once a flushed copy of the old content is beside it, under a name that
  // tells the next lock to put it back should we die half way.
  state.inPlace = true;
  {
    UniqueFd copy(::open(locked.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy.Valid()) {
      NoteSystemFileProblem();
      return;
    }
    state.created = true;
    if (!CopyContent(locked.file.Get(), copy.Get()) || !copy.Close() ||
        ::rename(locked.temporary.c_str(), locked.backup.c_str()) != 0) {
      NoteSystemFileProblem();
      ::unlink(locked.temporary.c_str());
      state.created = false;
      return;
    }
  }
  SyncFolder(locked.folder);
  state.file.Reset(::open(locked.target.c_str(), O_WRONLY | O_CLOEXEC));
  state.ok = state.file.Valid();
  if (!state.ok) NoteSystemFileProblem();
}

FileReplacement::~FileReplacement() {
  if (!m_state) return;  // moved into the path form
  State& state = *m_state;
  state.file.Reset();
  if (state.created && !state.committed) {
    if (state.inPlace) {
      if (RestoreFrom(state.lock->backup, state.lock->target)) SyncFolder(state.lock->folder);
    } else {
      ::unlink(state.lock->temporary.c_str());
    }
  }
}

bool FileReplacement::Ok() const { return m_state->ok; }

bool FileReplacement::Write(std::string_view bytes) {
  State& state = *m_state;
  if (!state.ok) return false;
  bool injectedFailure = false;
  bytes = AllowedPart(state.written, bytes, injectedFailure);
  if (!WriteAll(state.file.Get(), bytes)) {
    NoteSystemFileProblem();
    state.ok = false;
    return false;
  }
  state.written += bytes.size();
  state.ok = !injectedFailure;
  if (injectedFailure) NoteFileProblem(FileProblem::DiskFull);
  return state.ok;
}

bool FileReplacement::Commit() {
  State& state = *m_state;
  if (!state.ok) return false;
  FileLock::State& locked = *state.lock;
  if (state.inPlace) {
    state.ok = ::ftruncate(state.file.Get(), static_cast<off_t>(state.written)) == 0;
    state.ok = state.ok && ::fsync(state.file.Get()) == 0;
    state.ok = state.file.Close() && state.ok;
    if (!state.ok) {
      NoteSystemFileProblem();
      return false;
    }
    state.committed = locked.replaced = true;
    ::unlink(locked.backup.c_str());
    SyncFolder(locked.folder);
    return true;
  }
  state.ok = ::fsync(state.file.Get()) == 0;
  state.ok = state.file.Close() && state.ok;
  state.ok = state.ok && ::rename(locked.temporary.c_str(), locked.target.c_str()) == 0;
  if (!state.ok) {
    NoteSystemFileProblem();
    return false;
  }
  state.committed = locked.replaced = true;
  // Make the rename itself durable; a failure here no longer endangers the content.
  SyncFolder(locked.folder);
  return true;
}

bool CanReplaceFile(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const std::optional<std::string> target = FollowLinks(PathToUtf8(path));
  if (!target) return false;
  struct stat info;
  if (::stat(target->c_str(), &info) == 0) return S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR);
  const std::size_t slash = target->rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target->substr(0, slash + 1);
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace iniplugin::platform
