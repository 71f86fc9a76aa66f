// The parsed forms of the few files used last, with the writes not yet flushed: a file is
// parsed once, not once a read, and its held writes reach it in one atomic replace.
#pragma once

#include <cstddef>
#include <cstring>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/file_lock.h"

namespace iniplugin::text {
struct TextRead;
}

namespace iniplugin::profile {

struct HeldProfile;
class ProfileText;

// Whether two paths are the same text. Every profile call compares its path with the kept
// ones, and the standard comparison of 16-bit strings goes a unit at a time through a
// folder name they all share.
inline bool SamePath(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

enum class LoadStatus { Missing, Unreadable, Loaded };

struct Loaded {
  LoadStatus status = LoadStatus::Missing;
  HeldProfile* profile = nullptr;
};

// Every member must be called with Mutex() held; the pointers handed out are valid while
// it is.
class ProfileCache {
 public:
  // A host works on one file at a time; a handful covers a read of one file interleaved
  // with another while keeping a 10 MB file's form (about four times its size) in bounds.
  // Files with writes not yet flushed are kept beyond this.
  static constexpr std::size_t kCapacity = 4;

  ProfileCache();
  ProfileCache(const ProfileCache&) = delete;
  ProfileCache& operator=(const ProfileCache&) = delete;
  // A process that ends without the flush call still expects its writes in its files.
  ~ProfileCache();

  std::mutex& Mutex() { return m_mutex; }

  // The file's parsed form with this process's writes, checked against the file: a file
  // changed behind our back is read again, and writes not flushed yet are made again on
  // the new version.
  Loaded Load(const std::u16string& path);

  // The file's parsed form as it was when last checked, without looking at the file;
  // nullptr when none is kept.
  HeldProfile* Kept(std::u16string_view path);

  // The file's bytes as someone else read them at `stamp`, whole: parsed and kept as a
  // load would, so that the read to come opens nothing. Nothing changes where the cache
  // already holds that version, or writes to the file are held.
  void Adopt(const std::u16string& path, const platform::FileStamp& stamp, std::string_view bytes);

  // Changes whenever a kept profile goes: a profile handed out earlier is still kept while
  // this is what it was then.
  std::uint64_t Generation() const { return m_generation; }

  // A profile for a file that does not exist yet, to take the first write that makes it.
  HeldProfile& Create(const std::u16string& path);

  // Puts the file's unflushed writes down. True when the file holds every write made to
  // it (nothing was held, or what was held was put down). The platform's flush call
  // answers FALSE whatever happened, and so does ours; FlushHeldWrites tells.
  // After a failure the parsed form is dropped, so that no write that missed the file
  // answers a read. After a success it is dropped when `form` says so, and otherwise
  // kept: a read-back right after a flush then checks the file's bytes against the ones
  // written instead of parsing them again.
  enum class AfterFlush { Drop, Keep };
  bool Flush(const std::u16string& path, AfterFlush form);

 private:
  struct CachedProfile;
  using Slot = std::vector<std::unique_ptr<CachedProfile>>::iterator;

  static std::optional<std::string> PutDown(HeldProfile& profile,
                                            const platform::FileLock& lock);
  void Written(const std::u16string& path, std::string_view bytes);
  Loaded LoadFromFile(const std::u16string& path);
  Loaded Rebase(const std::u16string& path);
  CachedProfile& Keep(std::unique_ptr<CachedProfile> profile);
  CachedProfile& KeepRead(const std::u16string& path, const platform::FileStamp& stamp,
                          const text::TextRead& read, ProfileText text, std::uint64_t hash);
  void Forget(const std::u16string& path);
  Slot Find(std::u16string_view path);
  Loaded Use(CachedProfile& profile);

  std::mutex m_mutex;
  std::vector<std::unique_ptr<CachedProfile>> m_profiles;
  std::uint64_t m_clock = 0;
  std::uint64_t m_generation = 0;
};

}  // namespace iniplugin::profile
