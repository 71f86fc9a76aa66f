// The module's own fixed identifiers: chosen once, used alike by the object map, the
// registry scripts and the type library (IniPlugin.idl spells out the same values).
#pragma once

#include "platform/windows_types.h"

// C linkage: the marshaling code generated from IniPlugin.idl refers to the interface
// ids by these names.
extern "C" {
extern const IID IID_IIniFormat;
extern const IID IID_IIniFile;
extern const CLSID CLSID_IniFormat;
extern const CLSID CLSID_IniFile;
extern const GUID LIBID_INIPLUGINLib;
}

// The locale under which INIPLUGINLib is registered.
constexpr LCID kTypeLibraryLocale = 0;

// The module's own method-less interfaces; each class answers IUnknown with its one.
struct IIniFormat : IUnknown {};
struct IIniFile : IUnknown {};
