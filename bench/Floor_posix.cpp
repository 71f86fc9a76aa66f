#include "Floor.h"

#include <fcntl.h>
#include <unistd.h>

namespace iniplugin::bench {

bool ReadCounting(const std::filesystem::path& path, LineCounter& counter) {
  static char buffer[1 << 16];
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) counter.Add(buffer, buffer + got);
  ::close(fd);
  return got == 0;
}

long long ReadSmall(const std::filesystem::path& path, char* buffer, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  const ssize_t got = ::read(fd, buffer, size);
  ::close(fd);
  return got;
}

bool WriteFlushed(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  ok = ok && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

}  // namespace iniplugin::bench
