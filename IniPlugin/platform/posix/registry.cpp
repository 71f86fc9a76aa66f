#include <cstdlib>

#include "platform/portable.h"
#include "platform/registry.h"

namespace iniplugin::platform {

std::u16string ClassesRootFile() {
  return portable::RegistryFileLocation(std::getenv("INIPLUGIN_REGISTRY"),
                                        std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

HRESULT OpenClassesRoot(std::unique_ptr<Registry>* registry, std::u16string_view under) {
  const std::u16string file = ClassesRootFile();
  if (file.empty()) {
    registry->reset();
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return portable::OpenFileRegistry(file, under, registry);
}

}  // namespace iniplugin::platform
