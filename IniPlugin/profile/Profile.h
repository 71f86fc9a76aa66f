// Our own profile functions, for systems without them; built in both builds, so that the
// Windows build can test them against the system's own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/windows_types.h"

namespace iniplugin::profile {

struct HeldProfile;

// The profile functions. They read and write INI files as the platform's own do: names
// without regard to case, blanks and one pair of quotes around values ignored, the name
// lists for a null key or section, the default text, and every answer cut to the buffer
// size and terminated. Unlike the platform's, a write changes only the line it sets (or
// adds a line, or removes what it deletes) and keeps every other byte and the file's
// encoding (ANSI, UTF-16 either way round, UTF-8 with its mark). Writes are held in the
// file's parsed form, where every read in the process sees them, and reach the file,
// replaced atomically, at the flush call for it (or when the process ends); a read-only
// file or a missing folder refuses the write at once. Reads keep each file's parsed form
// until the file changes. Safe to call from several threads at once.
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText,
                               LPWSTR buffer, DWORD size, LPCWSTR file);
// A null value deletes the key, a null key the section. With a null section, key and value
// it puts the file's held writes down, drops its parsed form and, as the platform does,
// returns FALSE.
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);
// The flush call, telling what the platform's cannot: true when the file holds every write
// made to it (nothing was held, or the held writes were put down). After a failure its
// parsed form is dropped, so that no write that failed to reach the file answers a read;
// after a success it is kept, and the next read compares the file's bytes with those
// written rather than parsing them again.
bool FlushHeldWrites(LPCWSTR file);

// The whole of `file`'s bytes as a caller read them, with the stamp the file had when it
// was opened: kept as the reads' parsed form, so that the reads to come need not open the
// file again.
void AdoptFileBytes(const std::u16string& file, const platform::FileStamp& stamp,
                    std::string_view bytes);

// While one is alive on a thread, that thread's reads of `path` see the file as it was at
// the first of them (with every write the process makes): its stamp is checked once, not at
// each read, where the check would cost more than the read itself. A run of reads that
// belong together (one GetValues) so also never mixes two versions of the file. Batches
// nest. A write checks the file unless writes to it are held already: their flush checks it.
// `path` must outlive the batch, unchanged: reads that name the file by its very string
// are known to be the batch's without comparing it.
class ProfileReadBatch {
 public:
  explicit ProfileReadBatch(const std::u16string& path);
  ProfileReadBatch(const ProfileReadBatch&) = delete;
  ProfileReadBatch& operator=(const ProfileReadBatch&) = delete;
  ~ProfileReadBatch();

  const std::u16string& Path() const { return m_path; }
  // Whether `file` names the batch's file.
  bool Reads(LPCWSTR file) const;
  bool Checked() const { return m_checked; }
  // The profile the check found, while the cache's generation is still `generation`.
  void MarkChecked(HeldProfile* profile, std::uint64_t generation) {
    m_checked = true;
    m_profile = profile;
    m_generation = generation;
  }
  HeldProfile* Profile(std::uint64_t generation) const {
    return generation == m_generation ? m_profile : nullptr;
  }

 private:
  const std::u16string& m_path;
  bool m_checked = false;
  HeldProfile* m_profile = nullptr;
  std::uint64_t m_generation = 0;
  ProfileReadBatch* m_outer;
};

}  // namespace iniplugin::profile
