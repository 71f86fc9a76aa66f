#include "platform/file.h"

#include <cstdio>

#include "platform/file_problem.h"

namespace iniplugin::platform {

namespace {
thread_local FileProblem t_fileProblem = FileProblem::Unknown;
}  // namespace

FileProblem LastFileProblem() { return t_fileProblem; }
void NoteFileProblem(FileProblem problem) { t_fileProblem = problem; }

ReadResult ReadFileBytes(const std::u16string& path, std::string& bytes) {
  FileStamp stamp;
  UniqueFile file = OpenFile(path, "rb", &stamp);
  if (!file) return ReadResult::CannotOpen;
  std::string content;
  if (stamp.size >= content.max_size()) return ReadResult::TooLarge;
  // Sized once from the file's length, so that a large file is not copied as it grows.
  content.reserve(static_cast<std::size_t>(stamp.size));
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.Get());
    content.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.Get())) return ReadResult::ReadError;
  bytes = std::move(content);
  return ReadResult::Ok;
}

}  // namespace iniplugin::platform
