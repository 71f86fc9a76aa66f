// The registry as registration sees it: one hive of keys holding string values. On
// Windows it is the system's HKEY_CLASSES_ROOT; elsewhere a registry kept in a text file
// (portable::FileRegistry) stands in for it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

namespace iniplugin::platform {

// How many levels keys nest at most, as in the system's registry. Deeper paths are
// refused, so that what walks a tree of keys one level a call (writing it out, freeing
// it, applying a script) stays within the stack.
constexpr std::size_t kDeepestKey = 512;

// Keys are named by paths below the hive's root with parts separated by '\' (for example
// "CLSID\{...}\InprocServer32"); the empty path is the root itself. Values are strings;
// the empty value name is the key's default value. Names compare without regard to case
// and keep the case they were created with, as in the system's registry.
//
// Results: failures are HRESULTs from Win32 errors, the same in every implementation
// (a missing key is HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); S_FALSE marks the
// harmless "there was nothing there" cases named below.
class Registry {
 public:
  virtual ~Registry() = default;

  // S_OK when the key exists, S_FALSE when it does not.
  virtual HRESULT KeyExists(std::u16string_view path) = 0;
  // Creates the key and any missing key above it; an existing key is left as it is.
  virtual HRESULT CreateKey(std::u16string_view path) = 0;
  // Deletes a key and its values, but only when it has no subkeys (then it fails with
  // HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)). S_FALSE when there is no such key.
  virtual HRESULT DeleteKey(std::u16string_view path) = 0;
  // Deletes a key with everything below it. S_FALSE when there is no such key.
  virtual HRESULT DeleteTree(std::u16string_view path) = 0;
  // The names of the key's direct subkeys, in the registry's order.
  virtual HRESULT ListSubkeys(std::u16string_view path, std::vector<std::u16string>* names) = 0;

  // Sets a string value of an existing key.
  virtual HRESULT SetValue(std::u16string_view path, std::u16string_view name,
                           std::u16string_view text) = 0;
  // Reads a string value. S_FALSE, with *text empty, when the key has no such value.
  virtual HRESULT GetValue(std::u16string_view path, std::u16string_view name,
                           std::u16string* text) = 0;
  // S_FALSE when the key or the value does not exist.
  virtual HRESULT DeleteValue(std::u16string_view path, std::u16string_view name) = 0;
  // The names of the key's values; the default value, when set, is the empty name.
  virtual HRESULT ListValues(std::u16string_view path, std::vector<std::u16string>* names) = 0;

  // Makes the changes lasting. The system's registry has written them already; a file
  // registry writes its file here, and changes never committed are never written.
  virtual HRESULT Commit() = 0;
};

// Where OpenClassesRoot keeps its keys: the path of the registry file, or empty where the
// system's own registry serves.
std::u16string ClassesRootFile();

// HKEY_CLASSES_ROOT, or the key `under` below it (a scratch key for tests).
HRESULT OpenClassesRoot(std::unique_ptr<Registry>* registry, std::u16string_view under = {});

}  // namespace iniplugin::platform
