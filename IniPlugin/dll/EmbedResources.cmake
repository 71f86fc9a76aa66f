# Writes a C++ source holding resource files as the table platform/embedded_resources.h
# declares: the native module's stand-in for a resource section.
#   cmake -DOUTPUT=file.cpp "-DRESOURCES=TYPE:ID:path|TYPE:ID:path" -P EmbedResources.cmake
set(arrays "")
set(rows "")
set(index 0)
string(REPLACE "|" ";" RESOURCES "${RESOURCES}")
foreach(resource IN LISTS RESOURCES)
  string(REPLACE ":" ";" parts "${resource}")
  list(GET parts 0 type)
  list(GET parts 1 id)
  list(GET parts 2 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  string(APPEND arrays "const char kData${index}[] = \"${escaped}\";\n")
  string(APPEND rows "    {u\"${type}\", ${id}, {kData${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT}.new" CONTENT [[
// Generated from the module's resource files by EmbedResources.cmake. Do not edit.
#include "platform/embedded_resources.h"

namespace iniplugin::platform {

namespace {
@arrays@}  // namespace

extern const EmbeddedResource kEmbeddedResources[] = {
@rows@};
extern const std::size_t kEmbeddedResourceCount = @index@;

}  // namespace iniplugin::platform
]] @ONLY)
# Only a changed table is written, so an unchanged one rebuilds nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
