// The lock every writer of ours holds on a file from its read to the replacement of the
// file's content, so that two read-modify-writes of one file (two processes, or two
// navigators in one) never lose one another's change.
#pragma once

#include <memory>
#include <string>

namespace iniplugin::platform {

// An exclusive advisory lock on the file `path` names, symbolic links followed (a dangling
// one too): flock on POSIX, LockFileEx on a byte beyond any content on Windows, where the
// handle shares read, write and delete so that readers and the replacement go on. Other
// programs are not bound by it. A writer that had to wait checks that the path still names
// the file it locked (a replacement puts a new file there) and starts again if not.
//
// Once held, any temporary file a killed save of the same file left behind is gone, and a
// file a killed in-place rewrite left damaged has its old content back.
class FileLock {
 public:
  // What a missing file gets: a writer that creates files locks a new empty one (removed
  // again when the lock ends without a replacement); one that cannot, gets no lock.
  enum class Missing { Fail, Create };

  FileLock(const std::u16string& path, Missing missing);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // False when the file could not be opened or locked within the wait (see below).
  bool Held() const;

  struct State;  // per system

 private:
  friend class FileReplacement;
  std::unique_ptr<State> m_state;
};

// The longest a writer waits for another writer's lock before its save fails: long enough
// for any save of ours, short enough never to hang the host.
constexpr int kLockWaitMilliseconds = 3000;

// Tests only: the wait in milliseconds; a negative value restores kLockWaitMilliseconds.
void SetLockWaitForTesting(int milliseconds);
int LockWaitMilliseconds();

// The fixed-length name of the temporary file a save of the file named `name` (no folder)
// writes beside it, `suffix` telling its use: recognisable as ours, and telling whose it was.
std::u16string TemporaryName(std::u16string_view name, std::u16string_view suffix);

}  // namespace iniplugin::platform
