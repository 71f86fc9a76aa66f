// Opening files by UTF-16 path: the only per-system piece of file access.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace iniplugin::platform {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with a C stdio mode ("rb", "wb" ...). A path with an embedded NUL would
// name a different file and is refused.
UniqueFile OpenFile(const std::u16string& path, const char* mode);

// The per-system steps of ReplaceFileContents (system.h).

// The file a write to `path` should really replace: a symbolic link's target, so that
// replacing the file does not replace the link.
std::u16string ResolveWriteTarget(const std::u16string& path);
// Creates a new, empty file in the folder of `target`, under a name no file has yet,
// open for binary writing. Null when the folder does not exist or cannot be written.
UniqueFile CreateFileBeside(const std::u16string& target, std::u16string& created);
// Gives the new file the old file's permission bits, where the system has them.
void CopyPermissions(const std::u16string& from, std::FILE* to);
// Pushes the file's data through to the disk.
bool FlushToDisk(std::FILE* file);
// Puts `from` in the place of `to` in one step, replacing it.
bool MoveOver(const std::u16string& from, const std::u16string& to);
void RemoveFile(const std::u16string& path);

}  // namespace iniplugin::platform
