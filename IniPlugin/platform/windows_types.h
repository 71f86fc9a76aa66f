// The one include through which the rest of the module sees the Windows API.
// On Windows it is the real SDK; elsewhere, declarations of exactly the slice the module
// uses, spelled as the SDK spells them, implemented by the portable stand-ins.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#else
#include "platform/portable_types.h"
#endif
