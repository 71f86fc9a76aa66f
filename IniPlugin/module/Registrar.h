// The registrar: applies a registry script to a registry, in either direction.
//
// The script language, as the module's scripts use it:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {8D9885B2-...} = s 'IniFormat Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Both'
//               }
//           }
//       }
//   }
//
// - The root is HKCR (or HKEY_CLASSES_ROOT); it is the registry's root and never changes.
// - A key is a name, bare or in single quotes ('' stands for a quote inside), optionally
//   preceded by NoRemove or ForceRemove, optionally followed by "= s 'text'" (its default
//   value) and by a block of further keys and named values ("val name = s 'text'").
//   Keywords ignore case; a quoted name is never a keyword. Only string values exist.
// - %NAME% stands for a replacement's text (names ignore case), %% for a single %. The
//   replacement is made inside one name or text after the script is read, so a
//   replacement's text never changes the script's structure: a module path with a quote in
//   it is registered as it is.
//
// Register: each key is created and its values set, in script order. A ForceRemove key
// is deleted with everything below it first, so nothing stale survives below it.
// Unregister: the script's named values are deleted and its keys from the deepest up,
// each only when no subkey is left below it (someone else's subkey keeps its key). A
// NoRemove key, and its values, stay. Keys already gone are passed over.
//
// A script is read whole before the registry is touched: a malformed script fails with
// kMalformedScript and changes nothing. A registration that fails part-way is undone by
// the unregister pass, and its changes are not committed, so no half-registration stays.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/windows_types.h"

namespace iniplugin {

// HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
extern const HRESULT kMalformedScript;

class Registrar {
 public:
  // Where a script stopped being readable, for diagnostics (1-based line).
  struct ScriptError {
    int line = 0;
    std::string reason;
  };

  // Adds or replaces the text that %name% stands for.
  void AddReplacement(std::u16string_view name, std::u16string_view text);

  HRESULT Register(std::u16string_view script, platform::Registry& registry,
                   ScriptError* error = nullptr) const;
  HRESULT Unregister(std::u16string_view script, platform::Registry& registry,
                     ScriptError* error = nullptr) const;

 private:
  HRESULT Apply(std::u16string_view script, platform::Registry& registry, bool doRegister,
                ScriptError* error) const;

  std::vector<std::pair<std::u16string, std::u16string>> m_replacements;
};

}  // namespace iniplugin
