// Names of the result codes a host sees from the plug-in, for messages.
#pragma once

#include <string>

#include "platform/windows_types.h"

namespace inihost {

// "0x80004005"
std::string HexResult(HRESULT hr);
// "E_FAIL"; a code without a name gives "unknown".
std::string ResultName(HRESULT hr);

}  // namespace inihost
