// Any bytes as the registry file: opening either refuses them as malformed, changing
// nothing, or loads a tree that can be walked to its leaves, every listed key found and
// every listed value read. Nothing is committed, so the file stays as it was.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/portable.h"
#include "platform/registry.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Every input is written to a file: a folder in memory ($TMPDIR=/dev/shm) runs it several
// times faster than one on disk.
const std::string& FilePath() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/fuzz_registry_file." +
           std::to_string(::getpid()) + ".reg";
  }();
  return path;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace iniplugin;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << bytes;

  std::unique_ptr<platform::Registry> registry;
  const std::u16string file(FilePath().begin(), FilePath().end());
  const HRESULT opened = portable::OpenFileRegistry(file, u"", &registry);
  Require(opened == S_OK || opened == HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  if (opened == S_OK) {
    // Walked with a list of paths rather than by recursion: the tree is as deep as the
    // file says, up to the registry's limit.
    std::vector<std::pair<std::u16string, std::size_t>> pending = {{u"", 0}};
    while (!pending.empty()) {
      const auto [path, depth] = std::move(pending.back());
      pending.pop_back();
      Require(depth <= platform::kDeepestKey);
      Require(path.empty() || registry->KeyExists(path) == S_OK);
      std::vector<std::u16string> values;
      Require(registry->ListValues(path, &values) == S_OK);
      for (const std::u16string& name : values) {
        std::u16string text;
        Require(registry->GetValue(path, name, &text) == S_OK);
      }
      std::vector<std::u16string> subkeys;
      Require(registry->ListSubkeys(path, &subkeys) == S_OK);
      for (const std::u16string& name : subkeys) {
        pending.emplace_back(path.empty() ? name : path + u"\\" + name, depth + 1);
      }
    }
  } else {
    Require(registry == nullptr);
  }
  registry.reset();
  Require(Read(FilePath()) == bytes);
  return 0;
}
