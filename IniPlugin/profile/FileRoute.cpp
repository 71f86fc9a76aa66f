#include "profile/FileRoute.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/file_problem.h"
#include "platform/system_profile.h"
#include "platform/wide.h"
#include "profile/Profile.h"
#include "profile/ProfileText.h"
#include "text/Encoding.h"

namespace iniplugin::profile {

namespace {

// Whether the system's functions read and write the file as it is: ANSI, or UTF-16 after
// its mark. They would misread and damage the rest: UTF-8 or big-endian UTF-16 after its
// mark, UTF-16 without one, UTF-16 of odd length (their writer rewrites it whole, stray
// byte lost). Ours serve those, and the files that cannot be read, saying that they cannot.
bool SystemServes(const std::optional<text::FileStart>& start) {
  return start && start->refusal == text::Refusal::None &&
         (start->form == text::Form::Ansi || start->form == text::Form::Utf16);
}

// A file ours serve that is no larger than this is read whole by the look that chose
// them, and its bytes handed to them: opening a file costs more than reading a small one,
// under Wine several times more.
constexpr std::uint64_t kHandedOver = 1 << 16;

// Reads the rest of a small file whose first `start` bytes were read, and hands the whole
// to our functions, as they would have read it at `stamp`.
void HandOver(const std::u16string& path, std::FILE* file, const platform::FileStamp& stamp,
              std::string_view start) {
  std::string bytes(start);
  bytes.resize(static_cast<std::size_t>(stamp.size));
  const std::size_t rest = bytes.size() - start.size();
  if (std::fread(bytes.data() + start.size(), 1, rest, file) != rest) return;
  AdoptFileBytes(path, stamp, bytes);
}

// What the file's first bytes tell of it. A missing file counts as an empty ANSI one: the
// writer would create it so. One that is there but cannot be read (held, denied) may be of
// any form: nullopt, and the system's writer must not take it for ANSI. With `handOver`,
// a small file ours serve goes to them whole.
std::optional<text::FileStart> StartOf(const std::u16string& path, bool handOver) {
  platform::FileStamp stamp;
  platform::UniqueFile file = platform::OpenFile(path, "rb", &stamp);
  if (!file) {
    if (platform::LastFileProblem() == platform::FileProblem::Missing) return text::FileStart{};
    return std::nullopt;
  }
  // The first line is enough to tell UTF-16 without a mark: a character of its has a
  // NUL byte.
  char start[256];
  const std::size_t got = std::fread(start, 1, sizeof start, file.Get());
  const text::FileStart told = text::TellForm(std::string_view(start, got), stamp.size);
  if (handOver && !SystemServes(told) && got <= stamp.size && stamp.size <= kHandedOver) {
    HandOver(path, file.Get(), stamp, std::string_view(start, got));
  }
  return told;
}

bool IsAnsi(const std::optional<text::FileStart>& start) {
  return start && start->refusal == text::Refusal::None && start->form == text::Form::Ansi;
}

}  // namespace

FileRoute::FileRoute(const std::u16string& path) : m_path(path) {
  const platform::SystemProfileFunctions* system = platform::SystemProfile();
  if (!system) return;
  const std::optional<text::FileStart> start = StartOf(path, true);
  m_storesAnsi = IsAnsi(start);
  if (SystemServes(start)) m_system = system;
}

bool FileRoute::StoresAnsi() const {
  if (!m_storesAnsi) m_storesAnsi = IsAnsi(StartOf(m_path, false));
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
