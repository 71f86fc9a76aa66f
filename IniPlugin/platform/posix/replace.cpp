#include "platform/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/posix/path.h"
#include "platform/unique.h"

namespace iniplugin::platform {

namespace {

struct FdTraits {
  using Type = int;
  static int Invalid() { return -1; }
  static bool Close(int fd) { return ::close(fd) == 0; }
};
using UniqueFd = UniqueResource<FdTraits>;

}  // namespace

struct FileReplacement::State {
  std::string target;
  std::string folder;
  std::string temporary;
  UniqueFd file;
  std::size_t written = 0;
  bool created = false;  // the temporary file exists
  bool ok = false;
  bool committed = false;
};

FileReplacement::FileReplacement(const std::u16string& path) : m_state(std::make_unique<State>()) {
  State& state = *m_state;
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  state.target = PathToUtf8(path);
  struct stat old;
  const bool exists = ::stat(state.target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return;
  // A file its owner cannot write is one the user marked read-only; Windows refuses to
  // replace those, and so do we (even where privileges would allow it).
  if (exists && !(old.st_mode & S_IWUSR)) return;
  if (exists) {
    // Replace what a symbolic link points at: renaming over the link would turn it into a
    // plain file and leave its target stale.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(state.target.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) return;
    state.target = resolved.get();
  }
  const std::size_t slash = state.target.rfind('/');
  state.folder = slash == std::string::npos ? "./" : state.target.substr(0, slash + 1);
  const std::string name =
      slash == std::string::npos ? state.target : state.target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    state.temporary = state.folder + "." + name + "." + std::to_string(::getpid()) + "." +
                      std::to_string(counter++) + ".tmp";
    // A new file gets the permissions any new file would get (0666 less the umask); a
    // replaced one gets its old bits below, so start private.
    fd = ::open(state.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return;
  }
  if (fd < 0) return;
  state.file.Reset(fd);
  state.created = true;
  state.ok = true;
  if (exists) {
    state.ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    // Keeping the owner needs privileges we usually lack; the permission bits matter more.
    (void)!::fchown(fd, old.st_uid, old.st_gid);
  }
}

FileReplacement::~FileReplacement() {
  State& state = *m_state;
  state.file.Reset();
  if (state.created && !state.committed) ::unlink(state.temporary.c_str());
}

bool FileReplacement::Ok() const { return m_state->ok; }

bool FileReplacement::Write(std::string_view bytes) {
  State& state = *m_state;
  if (!state.ok) return false;
  bool injectedFailure = false;
  bytes = AllowedPart(state.written, bytes, injectedFailure);
  while (!bytes.empty()) {
    const ssize_t written = ::write(state.file.Get(), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      state.ok = false;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    state.written += static_cast<std::size_t>(written);
  }
  state.ok = !injectedFailure;
  return state.ok;
}

bool FileReplacement::Commit() {
  State& state = *m_state;
  if (!state.ok) return false;
  state.ok = ::fsync(state.file.Get()) == 0;
  state.ok = state.file.Close() && state.ok;
  state.ok = state.ok && ::rename(state.temporary.c_str(), state.target.c_str()) == 0;
  if (!state.ok) return false;
  state.committed = true;
  // Make the rename itself durable; a failure here no longer endangers the content.
  UniqueFd directory(::open(state.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) (void)::fsync(directory.Get());
  return true;
}

bool CanReplaceFile(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  const std::string target = PathToUtf8(path);
  struct stat info;
  if (::stat(target.c_str(), &info) == 0) return S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace iniplugin::platform
