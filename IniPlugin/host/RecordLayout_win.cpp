// The host's record as the vault client lays it out, checked where that layout is the
// system's: the Windows builds, of either process size. (A native build has no such host,
// and its stand-in VARIANT is smaller.)
#include <cstddef>

#include "host/OrvHost.h"

namespace iniplugin {

constexpr bool kWideHost = sizeof(void*) == 8;
static_assert(sizeof(OrvVariableRecord) == (kWideHost ? 48 : 32),
              "the host's records are 32 bytes, or 48 in a 64-bit process");
static_assert(offsetof(OrvVariableRecord, keyName) == 0);
static_assert(offsetof(OrvVariableRecord, sectionName) == (kWideHost ? 8 : 4));
static_assert(offsetof(OrvVariableRecord, value) == (kWideHost ? 16 : 8));
static_assert(offsetof(OrvVariableRecord, handled) == (kWideHost ? 40 : 24));
static_assert(offsetof(OrvVariableRecord, reserved) == (kWideHost ? 44 : 28));

}  // namespace iniplugin
