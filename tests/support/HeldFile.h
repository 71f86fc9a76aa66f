// Another program holding a file open without sharing it: no writer can open it. Only the
// Windows build has writers of the system's own, which no injected failure reaches; made
// elsewhere, it fails the test.
#pragma once

#include <filesystem>

namespace iniplugin::test {

class HeldWithoutSharing {
 public:
  explicit HeldWithoutSharing(const std::filesystem::path& path);
  ~HeldWithoutSharing();
  HeldWithoutSharing(const HeldWithoutSharing&) = delete;
  HeldWithoutSharing& operator=(const HeldWithoutSharing&) = delete;

 private:
  void* m_handle = nullptr;
};

}  // namespace iniplugin::test
