// The module's own fixed identifiers: chosen once, used alike by the object map, the
// registry scripts and the type library.
#pragma once

#include "platform/windows_types.h"

extern const IID IID_IIniFormat;
extern const IID IID_IIniFile;
extern const CLSID CLSID_IniFormat;
extern const CLSID CLSID_IniFile;
extern const GUID LIBID_INIPLUGINLib;

// The module's own method-less interfaces; each class answers IUnknown with its one.
struct IIniFormat : IUnknown {};
struct IIniFile : IUnknown {};
