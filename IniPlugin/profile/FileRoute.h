// Whose profile functions serve a file. The system's own serve every file they read as the
// file is (Windows: ANSI, and UTF-16 little-endian after its mark); ours serve the files
// the system's would misread and damage (UTF-8 and big-endian UTF-16 after their marks,
// UTF-16 without a mark), and every file where the system has no profile functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system_profile.h"
#include "platform/windows_types.h"

namespace iniplugin::profile {

// The profile functions chosen for one file, by its mark as it is when constructed: a
// caller makes one for each call it serves, so that a file replaced meanwhile is looked
// at again.
class FileRoute {
 public:
  explicit FileRoute(const std::u16string& path);

  // Whether the file's text is kept in the ANSI code page: an unmarked file, or a missing
  // one, which the writer creates so.
  bool StoresAnsi() const;

  DWORD Read(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
             DWORD size) const;
  BOOL Write(LPCWSTR section, LPCWSTR key, LPCWSTR value) const;
  // The flush call: writes the functions still hold reach the file. False when they are
  // known not to have (ours tell; the system's do not, and count as having written).
  bool Flush() const;

 private:
  const std::u16string& m_path;
  const platform::SystemProfileFunctions* m_system = nullptr;  // null: ours
  // Known once the file was looked at: at once where the system has functions of its own
  // (the look chooses between them and ours), at the first question elsewhere, so that a
  // call that only reads opens the file once, not twice.
  mutable std::optional<bool> m_storesAnsi;
};

// One-off calls, each choosing for `file` afresh.
DWORD ReadProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
                        DWORD size, LPCWSTR file);
BOOL WriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

}  // namespace iniplugin::profile
