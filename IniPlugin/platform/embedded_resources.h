// Where the system has no resource section in its module files, the build compiles the
// module's resources into it as this table (generated from the resource files).
#pragma once

#include <cstddef>
#include <string_view>

namespace iniplugin::platform {

struct EmbeddedResource {
  std::u16string_view type;
  int id;
  std::string_view bytes;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace iniplugin::platform
