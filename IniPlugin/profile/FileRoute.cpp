#include "profile/FileRoute.h"

#include <cstdio>
#include <string_view>

#include "text/Encoding.h"
#include "platform/file.h"
#include "platform/file_problem.h"
#include "platform/system_profile.h"
#include "platform/wide.h"
#include "profile/Profile.h"
#include "profile/ProfileText.h"

namespace iniplugin::profile {

namespace {

enum class Form {
  Ansi,     // no mark: the system's functions read and write it (a missing file too)
  Utf16,    // FF FE: so do they
  Foreign,  // anything they would misread and damage: UTF-8 or big-endian UTF-16 after
            // its mark, UTF-16 without one (NUL bytes in its first line), UTF-16 of odd
            // length (the system's writer rewrites it whole, stray byte lost)
};

// What the file's first bytes say it is. A missing file counts as ANSI: the writer would
// create it so. One that is there but cannot be read (held, denied) may be of any form, and
// the system's writer must not take it for ANSI: ours serve it, and say that they cannot.
Form FormOf(const std::u16string& path) {
  platform::FileStamp stamp;
  platform::UniqueFile file = platform::OpenFile(path, "rb", &stamp);
  if (!file) {
    return platform::LastFileProblem() == platform::FileProblem::Missing ? Form::Ansi
                                                                         : Form::Foreign;
  }
  char start[256];
  const std::size_t got = std::fread(start, 1, sizeof start, file.Get());
  const std::string_view first(start, got);
  switch (text::MarkAt(first)) {
    case text::Mark::Utf16:
      return stamp.size % 2 == 0 ? Form::Utf16 : Form::Foreign;
    case text::Mark::Utf16BigEndian:
    case text::Mark::Utf8:
      return Form::Foreign;
    case text::Mark::None:
      break;
  }
  return first.find('\0') == std::string_view::npos ? Form::Ansi : Form::Foreign;
}

}  // namespace

FileRoute::FileRoute(const std::u16string& path) : m_path(path) {
  const platform::SystemProfileFunctions* system = platform::SystemProfile();
  if (!system) return;
  const Form form = FormOf(path);
  m_storesAnsi = form == Form::Ansi;
  if (form != Form::Foreign) m_system = system;
}

bool FileRoute::StoresAnsi() const {
  if (!m_storesAnsi) m_storesAnsi = FormOf(m_path) == Form::Ansi;
  return *m_storesAnsi;
}

DWORD FileRoute::Read(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
                      DWORD size) const {
  const LPCWSTR file = platform::AsWide(m_path.c_str());
  if (m_system) return m_system->read(section, key, defaultText, buffer, size, file);
  return GetPrivateProfileStringW(section, key, defaultText, buffer, size, file);
}

BOOL FileRoute::Write(LPCWSTR section, LPCWSTR key, LPCWSTR value) const {
  const LPCWSTR file = platform::AsWide(m_path.c_str());
  if (m_system) {
    const BOOL wrote = m_system->write(section, key, value, file);
    if (!wrote) platform::NoteSystemFileProblem();  // what a failed Commit will tell
    return wrote;
  }
  return WritePrivateProfileStringW(section, key, value, file);
}

bool FileRoute::Flush() const {
  const LPCWSTR file = platform::AsWide(m_path.c_str());
  if (!m_system) return FlushHeldWrites(file);
  m_system->write(nullptr, nullptr, nullptr, file);
  return true;
}

std::u16string_view ValueAsRead(std::u16string_view written) {
  return StripQuotes(TrimBlanks(written));
}

DWORD ReadProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR buffer,
                        DWORD size, LPCWSTR file) {
  const std::u16string path = platform::U16FromWide(file);
  return FileRoute(path).Read(section, key, defaultText, buffer, size);
}

BOOL WriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  const std::u16string path = platform::U16FromWide(file);
  return FileRoute(path).Write(section, key, value);
}

}  // namespace iniplugin::profile
