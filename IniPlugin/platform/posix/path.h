// File names as the POSIX calls take them.
#pragma once

#include <string>

#include "platform/unicode.h"

namespace iniplugin::platform {

// File names on POSIX systems are bytes; we hand them UTF-8. Unpaired surrogates cannot
// name a file and become U+FFFD.
inline std::string PathToUtf8(const std::u16string& path) { return Utf16ToUtf8(path); }

}  // namespace iniplugin::platform
