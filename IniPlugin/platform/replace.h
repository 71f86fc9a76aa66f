// Replacing a file's whole content so that no reader and no crash ever sees it half
// written.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace iniplugin::platform {

class FileLock;

// Replaces the whole content of the file at `path` (creating it if missing) so that the
// file is at every moment either entirely old or entirely new, also across a crash: the
// bytes go to a temporary file in the same folder, are flushed to the disk, and the
// temporary file takes the target's place. A symbolic link, dangling or not, is followed
// and the file it names written; the link stays a link.
//   Windows: ReplaceFileW, which keeps the file's ACL, owner, attributes, creation time and
//   streams; a sharing violation is retried for about a second.
//   POSIX: the new file gets the old one's permission bits, owner and group. Where the owner
//   cannot be given back, or the file has other hard links, the file is rewritten in place
//   instead, after a flushed copy of its old content beside it, which puts the old content
//   back when the rewrite fails (also at the next lock, after a crash).
// A read-only file is not replaced. Returns false, leaving the old file untouched and no
// temporary file behind, when any step fails.
// The path form takes the file's lock itself, for the whole replacement only: a writer
// that read the file first holds the lock from that read and passes it.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);
bool ReplaceFileContents(const FileLock& lock, std::string_view bytes);

// The same, with the new content written piece by piece, so that a large file is never
// held whole as bytes: construct, Write the pieces, Commit. The file is replaced only by a
// Commit that returns true; a replacement dropped before, or after any failure, leaves the
// old file untouched and no temporary file behind.
class FileReplacement {
 public:
  explicit FileReplacement(const std::u16string& path);
  // Replaces the locked file; `lock` outlives the replacement.
  explicit FileReplacement(const FileLock& lock);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  // False once anything failed (also when the replacement could not begin).
  bool Ok() const;
  bool Write(std::string_view bytes);
  bool Commit();

  struct State;  // per system

 private:
  std::unique_ptr<State> m_state;
};

// Whether ReplaceFileContents would go ahead with `path`: an existing file is a regular
// file that is not read-only, a missing one has a folder to be made in. Writers that put
// their writes down later ask this when they accept them. Not guaranteed: that the
// replacement then succeeds (the disk may fill, the file may change meanwhile).
bool CanReplaceFile(const std::u16string& path);

// Tests only: makes the following replacements fail after writing this many bytes, as a
// full disk would; a negative value turns the fault off.
void SetWriteFailureForTesting(long long bytesBeforeFailure);

// For the per-system replacements: the part of `bytes` a replacement that has put down
// `written` bytes may still write before the injected failure; all of them when none is
// injected. `cut` tells whether the failure falls within them.
std::string_view AllowedPart(std::size_t written, std::string_view bytes, bool& cut);

}  // namespace iniplugin::platform
