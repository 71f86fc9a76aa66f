#include "dll/ObjectMap.h"

#include "module/ClassFactory.h"
#include "module/ComObject.h"
#include "plugin/Guids.h"
#include "dll/resource.h"
#include "plugin/CIniFile.h"
#include "plugin/CIniFormat.h"

namespace iniplugin {

namespace {

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_IniFormat, IDR_INIFORMAT, &ClassFactory::Create, &CreateComInstance<CIniFormat>},
    {&CLSID_IniFile, IDR_INIFILE, &ClassFactory::Create, &CreateComInstance<CIniFile>},
};

}  // namespace

std::span<const ObjectMapEntry> ObjectMap() { return kObjectMap; }

// Made on first use: the GUIDs it copies are another unit's constants, and the module
// object is bound to it from the load notification, which may come before this unit's
// static initialisation.
const ModuleDescription& IniPluginDescription() {
  static const ModuleDescription description = {
      kObjectMap,
      {LIBID_INIPLUGINLib, 1, 0, kTypeLibraryLocale, u"IniPlugin 1.0 Type Library"},
      // The marshaling code is known by the interface id of IIniFormat.
      IID_IIniFormat,
  };
  return description;
}

}  // namespace iniplugin
