// File paths as the system resolves them.
#pragma once

#include <string>

namespace iniplugin::platform {

// `path` made absolute against the current folder, once, so that every later use names
// the same file whatever the current folder becomes and whoever looks the name up (the
// system's profile functions look a bare file name up in the Windows folder, everything
// else in the current folder). Links are not resolved. The path as given where it cannot
// be made absolute.
std::u16string FullPath(const std::u16string& path);

}  // namespace iniplugin::platform
