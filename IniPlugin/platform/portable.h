// The portable stand-ins. They are plain C++ and compile in both builds: on Linux the
// SDK-named functions forward to them; in the Windows build the tests run them beside the
// real functions on the same inputs, which is how we know the two agree.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/windows_types.h"

namespace iniplugin::portable {

// BSTR: a 32-bit byte count, then the UTF-16 text and a terminating NUL. Memory comes from
// this allocator, so a portable BSTR is freed only by portable::SysFreeString.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

void VariantInit(VARIANTARG* v);
HRESULT VariantClear(VARIANTARG* v);
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);

// Converts to text (VT_BSTR) only, with flags 0, as Windows does in the English (United
// States) locale, by-reference values included; any other target type or flag gives
// E_NOTIMPL. `dest` is left untouched when the conversion fails. A DECIMAL with a scale
// above 28 and a NaN date are not values and are refused with E_INVALIDARG; an object's
// default property is not asked for (DISP_E_TYPEMISMATCH).
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
// Breaks an Automation date into calendar fields, rounded to the nearest second (so the
// milliseconds are 0); 0, with the record untouched, for NaN and for dates outside
// 1 January 100 to 31 December 9999.
INT VariantTimeToSystemTime(DOUBLE time, SYSTEMTIME* st);
// The locale whose conventions the conversions above follow: English (United States).
LCID GetUserDefaultLCID();

// The calling thread's error object, and the object to fill one: as the system keeps them,
// one per thread; reading it takes it away.
HRESULT CreateErrorInfo(ICreateErrorInfo** created);
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

// Reports the version named by INIPLUGIN_OS_VERSION ("PLATFORM.MAJOR", e.g. "2.4");
// without it there is no Windows version to report and the call fails.
BOOL GetVersionExW(OSVERSIONINFOW* info);
// Reads "PLATFORM.MAJOR" into the record; false (record untouched) for anything else.
bool ParseOsVersion(const char* text, OSVERSIONINFOW* info);

// Windows-1252, the ANSI code page of an English system. The five bytes that 1252 leaves
// unassigned map to the C1 controls of the same value, as Windows does, so every byte
// survives a load and a save.
std::u16string AnsiToUtf16(std::string_view bytes);
// Characters that 1252 cannot hold become '?', the code page's default character.
std::string Utf16ToAnsi(std::u16string_view text);
// The same, appending to a string the caller owns.
void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text);
void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes);
// Whether 1252 holds every character of `text` as itself, without a default character.
bool AnsiHoldsExactly(std::u16string_view text);

// A registry kept in a text file in the form of a REGEDIT4 export (UTF-8, LF line ends),
// so that a person can read it. The registry serves HKEY_CLASSES_ROOT\`under`; keys of
// other hives in the file are kept as they are. A missing file is an empty registry; a
// file not in the form fails with HRESULT_FROM_WIN32(ERROR_INVALID_DATA) and is never
// overwritten. Names and texts holding CR, LF or NUL cannot be stored (E_INVALIDARG).
// Commit takes the file's lock, reads the file again, makes this object's changes once
// more on what it holds now and replaces the file whole, so that two committers (in one
// process or two) lose neither's keys and a failed write leaves the old file as it was.
HRESULT OpenFileRegistry(const std::u16string& file, std::u16string_view under,
                         std::unique_ptr<platform::Registry>* registry);

// Whether a registry key path is one every registry can hold: names separated by single
// '\', none empty, none holding a control character. The empty path (the root) is valid.
bool ValidRegistryPath(std::u16string_view path);

// Where the registry file is kept: `registryFile` ($INIPLUGIN_REGISTRY) when set, else
// iniplugin/registry.reg under `dataHome` ($XDG_DATA_HOME, if absolute) or under
// `home`/.local/share. Empty when none of them is usable.
std::u16string RegistryFileLocation(const char* registryFile, const char* dataHome,
                                    const char* home);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as StringFromGUID2 writes it.
std::u16string GuidToString(const GUID& guid);
// The way back, in any case of the hex digits; false for anything not in that form.
bool GuidFromString(std::u16string_view text, GUID* guid);

}  // namespace iniplugin::portable
