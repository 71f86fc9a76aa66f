// Replacing a file's whole content so that no reader and no crash ever sees it half
// written.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace iniplugin::platform {

// Replaces the whole content of the file at `path` (creating it if missing) so that the
// file is at every moment either entirely old or entirely new, also across a crash: the
// bytes go to a temporary file in the same folder, are flushed to the disk, and the
// temporary file is renamed over the target. A replaced file keeps its permission bits
// (POSIX) or its hidden/system attributes (Windows); on POSIX a symbolic link is followed
// and its target replaced.
// A read-only file is not replaced. Returns false, leaving the old file untouched and no
// temporary file behind, when any step fails. Not guaranteed: that no other writer replaces the file between our read and
// this replace; callers that read-modify-write serialise among themselves.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// The same, with the new content written piece by piece, so that a large file is never
// held whole as bytes: construct, Write the pieces, Commit. The file is replaced only by a
// Commit that returns true; a replacement dropped before, or after any failure, leaves the
// old file untouched and no temporary file behind.
class FileReplacement {
 public:
  explicit FileReplacement(const std::u16string& path);
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
