#include "profile/ProfileCache.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/file.h"
#include "platform/replace.h"
#include "platform/wide.h"
#include "profile/HeldWrites.h"
#include "profile/ProfileText.h"
#include "text/FileText.h"

namespace iniplugin::profile {

namespace {

// A hash of a file's bytes, eight at a time, to tell them from the bytes of another version
// of the same size: a read-back after every flush takes one of the whole file, where the
// standard string hash costs about as much as reading it. Fed in pieces of any size.
class ContentHash {
 public:
  ContentHash& Add(std::string_view bytes) {
    m_size += bytes.size();
    if (m_heldCount > 0) {
      const std::size_t take = std::min(bytes.size(), sizeof m_held - m_heldCount);
      std::memcpy(m_held + m_heldCount, bytes.data(), take);
      m_heldCount += take;
      bytes.remove_prefix(take);
      if (m_heldCount < sizeof m_held) return *this;
      Step(m_held);
      m_heldCount = 0;
    }
    for (; bytes.size() >= 8; bytes.remove_prefix(8)) Step(bytes.data());
    std::memcpy(m_held, bytes.data(), bytes.size());
    m_heldCount = bytes.size();
    return *this;
  }

  std::uint64_t Value() const {
    std::uint64_t last = 0;
    std::memcpy(&last, m_held, m_heldCount);
    const std::uint64_t hash = (m_hash ^ last ^ (m_size * kMultiplier)) * kMultiplier;
    return hash ^ (hash >> 32);
  }

 private:
  static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  void Step(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    m_hash = std::rotl((m_hash ^ word) * kMultiplier, 31);
  }

  std::uint64_t m_hash = kMultiplier;
  std::uint64_t m_size = 0;
  char m_held[8] = {};
  std::size_t m_heldCount = 0;
};

// A file's text into its parsed form, each block parsed while it is still in the cache,
// its bytes hashed on the way when asked.
class ProfileReader final : public text::TextSink {
 public:
  // Only a stamp that may hide a change needs the content to tell; hashing a large file
  // on every first read would cost a good part of parsing it.
  void Opened(const platform::FileStamp& stamp) override { m_hash = stamp.recent; }
  std::u16string& Start(std::size_t mostUnits) override {
    m_text.emplace(ProfileText::Incremental{}, mostUnits);
    return m_text->GrowingText();
  }
  void Bytes(std::string_view bytes) override {
    if (m_hash) m_content.Add(bytes);
  }
  void Decoded() override { m_text->TakeLines(); }

  ProfileText Finish() {
    m_text->Finish();
    return std::move(*m_text);
  }
  std::uint64_t Hash() const { return m_hash ? m_content.Value() : 0; }

 private:
  bool m_hash = false;
  ContentHash m_content;
  std::optional<ProfileText> m_text;
};

}  // namespace

// One file's held profile and the version of the file it started from.
struct ProfileCache::CachedProfile {
  // A file that is not there yet, to take the first write that makes it.
  explicit CachedProfile(const std::u16string& path)
      : held(path, text::Form::Ansi, true, ProfileText(std::u16string())),
        exists(false) {}

  // The file as it was read at `stamp`: `byteCount` bytes, and `contentHash` their hash,
  // which only a stamp too recent to be trusted alone needs (0 for any other).
  CachedProfile(HeldProfile held, const platform::FileStamp& stamp, std::size_t byteCount,
                std::uint64_t contentHash)
      : held(std::move(held)),
        stamp(stamp),
        unsure(stamp.recent),
        byteCount(byteCount),
        contentHash(contentHash) {}

  bool Dirty() const { return held.Dirty(); }
  // Whether this is the version of the file `now` stamps, without looking at its bytes.
  bool Holds(const platform::FileStamp& now) const {
    return exists && !unsure && stamp.SameVersion(now);
  }

  HeldProfile held;
  // The file as it was read: its stamp, whether it was there at all, and its content's
  // size and hash, for telling a change that leaves the stamp as it was.
  platform::FileStamp stamp{};
  bool exists = true;
  // The stamp was taken so soon after a change that a second change could hide behind
  // it: the next use checks the content itself.
  bool unsure = false;
  std::size_t byteCount = 0;
  std::uint64_t contentHash = 0;
  std::uint64_t lastUse = 0;
};

ProfileCache::ProfileCache() = default;

ProfileCache::~ProfileCache() {
  for (const auto& profile : m_profiles) {
    if (profile->Dirty()) {
      try {
        const platform::FileLock lock(profile->held.path, platform::FileLock::Missing::Create);
        PutDown(profile->held, lock);
      } catch (const std::exception&) {
      }
    }
  }
}

Loaded ProfileCache::Load(const std::u16string& path) {
  auto slot = Find(path);
  // A file read anew is stamped as it is opened: a look at its stamp first would cost a
  // second walk of its path.
  if (slot == m_profiles.end()) return LoadFromFile(path);
  const std::optional<platform::FileStamp> stamp = platform::QueryFileStamp(path);
  CachedProfile& cached = **slot;
  if (!stamp) {
    if (!cached.exists) return Use(cached);
    if (!cached.Dirty()) {
      Forget(path);
      return {LoadStatus::Missing, nullptr};
    }
    return Rebase(path);
  }
  if (cached.Holds(*stamp)) return Use(cached);
  std::string bytes;
  if (cached.exists && cached.byteCount == stamp->size &&
      platform::ReadFileBytes(path, bytes) == platform::ReadResult::Ok &&
      cached.byteCount == bytes.size() &&
      cached.contentHash == ContentHash().Add(bytes).Value()) {
    cached.stamp = *stamp;
    cached.unsure = stamp->recent;
    return Use(cached);
  }
  if (cached.Dirty()) return Rebase(path);
  Forget(path);
  return LoadFromFile(path);
}

HeldProfile* ProfileCache::Kept(std::u16string_view path) {
  const auto slot = Find(path);
  return slot != m_profiles.end() ? Use(**slot).profile : nullptr;
}

void ProfileCache::Adopt(const std::u16string& path, const platform::FileStamp& stamp,
                         std::string_view bytes) {
  if (const auto slot = Find(path); slot != m_profiles.end()) {
    const CachedProfile& cached = **slot;
    if (cached.Dirty() || cached.Holds(stamp)) return;
  }
  ProfileReader reader;
  reader.Opened(stamp);
  const text::TextRead read = text::ReadTextBytes(bytes, text::Losses::Read, reader);
  if (!read) return;
  Forget(path);
  KeepRead(path, stamp, read, reader.Finish(), reader.Hash());
}

HeldProfile& ProfileCache::Create(const std::u16string& path) {
  Forget(path);
  return Keep(std::make_unique<CachedProfile>(path)).held;
}

bool ProfileCache::Flush(const std::u16string& path, AfterFlush form) {
  const auto slot = Find(path);
  if (slot == m_profiles.end()) return true;
  bool putDown = !(*slot)->Dirty();
  try {
    if (!putDown) {
      // Held from the look at the file to its replacement: Load sees any other writer's
      // change made before, and makes our writes again on it, and none comes in between.
      const platform::FileLock lock(path, platform::FileLock::Missing::Create);
      if (lock.Held()) {
        const Loaded loaded = Load(path);
        if (!loaded.profile) {
          // The file turned into one that cannot be read (too large, say) while the writes
          // waited: they are not in it, and cannot be made there.
          putDown = false;
        } else if (!loaded.profile->Dirty()) {
          putDown = true;
        } else if (const std::optional<std::string> bytes = PutDown(*loaded.profile, lock)) {
          putDown = true;
          // Stamped while the lock still keeps other writers of ours out.
          Written(path, *bytes);
        }
      }
    }
  } catch (...) {
    // The parsed form goes whatever happened: writes that could not be put down must not
    // go on answering reads as if they were in the file.
    Forget(path);
    throw;
  }
  if (!putDown || form == AfterFlush::Drop) Forget(path);
  return putDown;
}

// Writes the profile's text to its file, atomically, and returns the bytes written. The
// kept writes are folded into the bytes without parsing the text again: the profile goes
// on answering them from where they are kept, as a parse of the new file would.
std::optional<std::string> ProfileCache::PutDown(HeldProfile& profile,
                                                 const platform::FileLock& lock) {
  const bool kept = !profile.replaced.empty() || !profile.added.empty();
  std::string bytes =
      text::EncodeFile(profile.form, kept ? FoldedText(profile) : profile.text.Text());
  if (!platform::ReplaceFileContents(lock, bytes)) return std::nullopt;
  profile.log.clear();
  return bytes;
}

// The profile's writes reached its file as `bytes`: it stays the file's form. The stamp
// is taken an instant after a change, so a second change could hide behind it: the next
// use compares the file's bytes with these, which costs a read and a hash, not a parse.
void ProfileCache::Written(const std::u16string& path, std::string_view bytes) {
  const auto slot = Find(path);
  if (slot == m_profiles.end()) return;
  const std::optional<platform::FileStamp> stamp = platform::QueryFileStamp(path);
  if (!stamp) {
    Forget(path);
    return;
  }
  CachedProfile& cached = **slot;
  cached.stamp = *stamp;
  cached.exists = true;
  cached.unsure = true;
  cached.byteCount = bytes.size();
  cached.contentHash = ContentHash().Add(bytes).Value();
}

Loaded ProfileCache::LoadFromFile(const std::u16string& path) {
  ProfileReader reader;
  const text::TextRead read = text::ReadTextFile(path, text::Losses::Read, reader);
  if (!read) {
    // What could not be opened counts as missing where the look at its stamp finds nothing
    // (not there, a folder), as unreadable where it finds a file.
    if (read.status == text::TextRead::Status::Unopened && !platform::QueryFileStamp(path)) {
      return {LoadStatus::Missing, nullptr};
    }
    return {LoadStatus::Unreadable, nullptr};
  }
  Forget(path);
  return Use(KeepRead(path, read.stamp, read, reader.Finish(), reader.Hash()));
}

ProfileCache::CachedProfile& ProfileCache::KeepRead(const std::u16string& path,
                                                    const platform::FileStamp& stamp,
                                                    const text::TextRead& read, ProfileText text,
                                                    std::uint64_t hash) {
  // A file read with losses stays readable; a write would damage what it did not touch.
  HeldProfile held(path, read.form, read.refusal == text::Refusal::None, std::move(text));
  return Keep(std::make_unique<CachedProfile>(std::move(held), stamp,
                                              static_cast<std::size_t>(read.bytes), hash));
}

// The file changed while writes to it were waiting: they are made again on what the
// file holds now, as they would have been had they come after the change.
Loaded ProfileCache::Rebase(const std::u16string& path) {
  std::vector<LoggedWrite> log = std::move((*Find(path))->held.log);
  Forget(path);
  Loaded loaded = LoadFromFile(path);
  if (loaded.status == LoadStatus::Unreadable) return loaded;
  HeldProfile& profile = loaded.profile ? *loaded.profile : Create(path);
  for (const LoggedWrite& write : log) {
    ApplyWrite(profile, write.section,
               write.key ? platform::AsWide(write.key->c_str()) : nullptr,
               write.value ? platform::AsWide(write.value->c_str()) : nullptr);
  }
  // Used again, so that a profile made just now counts as used.
  return Use(**Find(path));
}

ProfileCache::CachedProfile& ProfileCache::Keep(std::unique_ptr<CachedProfile> profile) {
  std::size_t clean = 0;
  for (const auto& kept : m_profiles) clean += kept->Dirty() ? 0 : 1;
  if (clean >= kCapacity) {
    auto oldest = m_profiles.end();
    for (auto it = m_profiles.begin(); it != m_profiles.end(); ++it) {
      if (!(*it)->Dirty() && (oldest == m_profiles.end() || (*it)->lastUse < (*oldest)->lastUse)) {
        oldest = it;
      }
    }
    m_profiles.erase(oldest);
    ++m_generation;
  }
  m_profiles.push_back(std::move(profile));
  return *m_profiles.back();
}

void ProfileCache::Forget(const std::u16string& path) {
  auto slot = Find(path);
  if (slot == m_profiles.end()) return;
  m_profiles.erase(slot);
  ++m_generation;
}

ProfileCache::Slot ProfileCache::Find(std::u16string_view path) {
  return std::find_if(m_profiles.begin(), m_profiles.end(),
                      [&](const auto& profile) { return SamePath(profile->held.path, path); });
}

Loaded ProfileCache::Use(CachedProfile& profile) {
  profile.lastUse = ++m_clock;
  return {LoadStatus::Loaded, &profile.held};
}

}  // namespace iniplugin::profile
