#include "platform/system_profile.h"

namespace iniplugin::platform {

const SystemProfileFunctions* SystemProfile() { return nullptr; }

}  // namespace iniplugin::platform
