#include "platform/profile_api.h"

namespace iniplugin::platform {

const SystemProfileFunctions* SystemProfile() { return nullptr; }

}  // namespace iniplugin::platform
