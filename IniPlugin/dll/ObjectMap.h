// The classes this module serves and what its module object is bound to.
#pragma once

#include "module/Module.h"

namespace iniplugin {

// The object map: IniFormat, then IniFile. Registration follows this order.
std::span<const ObjectMapEntry> ObjectMap();

// The object map, the type library INIPLUGINLib 1.0 and the marshaling code's class id.
const ModuleDescription& IniPluginDescription();

}  // namespace iniplugin
