// The profile functions for systems without them. Reads parse a file once and keep the
// parsed form until the file changes; writes replace only the characters they must and
// put the file down whole through an atomic replace.
#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/portable.h"
#include "platform/portable/profile_text.h"
#include "platform/system.h"
#include "platform/wide.h"

namespace iniplugin::portable {

namespace {

using platform::AsU16;

// One file's parsed form and what its content was when it was parsed.
struct CachedProfile {
  std::u16string path;
  platform::FileStamp stamp;
  // The stamp was taken so soon after a change that a second change could hide behind
  // it: the next use checks the content itself.
  bool unsure = false;
  std::size_t byteCount = 0;
  std::size_t contentHash = 0;
  ProfileText::Encoding encoding = ProfileText::Encoding::Ansi;
  bool writable = true;
  ProfileText text;
  std::uint64_t lastUse = 0;
};

enum class LoadStatus { Missing, Unreadable, Loaded };

struct Loaded {
  LoadStatus status = LoadStatus::Missing;
  CachedProfile* profile = nullptr;
};

// The parsed forms of the few files used last. Every member must be called with Mutex()
// held; the pointers handed out are valid while it is.
class ProfileCache {
 public:
  // A host works on one file at a time; a handful covers a read of one file interleaved
  // with another while keeping a 10 MB file's form (about four times its size) in bounds.
  static constexpr std::size_t kCapacity = 4;

  std::mutex& Mutex() { return m_mutex; }

  Loaded Load(const std::u16string& path) {
    const std::optional<platform::FileStamp> stamp = platform::QueryFileStamp(path);
    auto slot = Find(path);
    if (!stamp) {
      Forget(path);
      return {LoadStatus::Missing, nullptr};
    }
    if (slot != m_profiles.end() && !(*slot)->unsure && (*slot)->stamp.SameVersion(*stamp)) {
      return Use(**slot);
    }
    std::string bytes;
    if (platform::ReadFileBytes(path, bytes) != platform::ReadResult::Ok) {
      Forget(path);
      return {LoadStatus::Unreadable, nullptr};
    }
    const std::size_t hash = std::hash<std::string_view>()(bytes);
    if (slot != m_profiles.end() && (*slot)->byteCount == bytes.size() &&
        (*slot)->contentHash == hash) {
      (*slot)->stamp = *stamp;
      (*slot)->unsure = stamp->recent;
      return Use(**slot);
    }
    Forget(path);
    CachedProfile* stored = Store(path, *stamp, bytes);
    return stored ? Use(*stored) : Loaded{LoadStatus::Unreadable, nullptr};
  }

  // Parses `bytes`, the file's content as of `stamp`, and keeps the result. Returns
  // nullptr when the text is too long to index.
  CachedProfile* Store(const std::u16string& path, const platform::FileStamp& stamp,
                       std::string_view bytes) {
    Forget(path);
    DecodedProfile decoded = DecodeProfile(bytes);
    if (decoded.text.size() >= ProfileText::kNone) return nullptr;
    auto profile = std::make_unique<CachedProfile>(CachedProfile{
        path, stamp, stamp.recent, bytes.size(), std::hash<std::string_view>()(bytes),
        decoded.encoding, decoded.writable, ProfileText(std::move(decoded.text)), 0});
    if (m_profiles.size() >= kCapacity) {
      m_profiles.erase(std::min_element(
          m_profiles.begin(), m_profiles.end(),
          [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; }));
    }
    m_profiles.push_back(std::move(profile));
    return m_profiles.back().get();
  }

  void Forget(const std::u16string& path) {
    auto slot = Find(path);
    if (slot != m_profiles.end()) m_profiles.erase(slot);
  }

 private:
  using Slot = std::vector<std::unique_ptr<CachedProfile>>::iterator;

  Slot Find(const std::u16string& path) {
    return std::find_if(m_profiles.begin(), m_profiles.end(),
                        [&](const auto& profile) { return profile->path == path; });
  }
  Loaded Use(CachedProfile& profile) {
    profile.lastUse = ++m_clock;
    return {LoadStatus::Loaded, &profile};
  }

  std::mutex m_mutex;
  std::vector<std::unique_ptr<CachedProfile>> m_profiles;
  std::uint64_t m_clock = 0;
};

ProfileCache& Cache() {
  static ProfileCache cache;
  return cache;
}

std::u16string_view ViewOf(LPCWSTR text) {
  return text ? std::u16string_view(AsU16(text)) : std::u16string_view();
}

// Copies as much of `text` as fits, always terminated; returns the characters copied.
DWORD CopyText(std::u16string_view text, char16_t* out, DWORD size) {
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.data(), n, out);
  out[n] = u'\0';
  return static_cast<DWORD>(n);
}

// The default as the reader gives it back: trailing blanks and one pair of quotes removed.
DWORD CopyDefault(LPCWSTR defaultText, char16_t* out, DWORD size) {
  return CopyText(StripQuotes(TrimTrailingBlanks(ViewOf(defaultText))), out, size);
}

// Copies a list of names, each terminated, the list ended by a second terminator. A list
// that does not fit with a character to spare is cut: as much as fits in size - 2
// characters, then two terminators, and the result is size - 2.
DWORD CopyList(const std::vector<std::u16string_view>& names, char16_t* out, DWORD size) {
  std::size_t total = 0;
  for (std::u16string_view name : names) total += name.size() + 1;
  if (size >= total + 2) {
    for (std::u16string_view name : names) {
      out = std::copy(name.begin(), name.end(), out);
      *out++ = u'\0';
    }
    *out = u'\0';
    return static_cast<DWORD>(total);
  }
  if (size < 2) {
    out[0] = u'\0';
    return 0;
  }
  const std::size_t room = size - 2;
  std::size_t pos = 0;
  for (std::u16string_view name : names) {
    for (std::size_t i = 0; i <= name.size() && pos < room; ++i) {
      out[pos++] = i < name.size() ? name[i] : u'\0';
    }
  }
  out[size - 2] = out[size - 1] = u'\0';
  return size - 2;
}

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// A change of the text: characters [start, end) become `insert`.
struct Edit {
  std::size_t start = 0;
  std::size_t end = 0;
  std::u16string insert;
};

// The edit that sets (or, for a null value, deletes) the entry, or deletes the whole
// section for a null key. Nothing (nullopt) when a deletion finds nothing to delete.
std::optional<Edit> EditFor(const ProfileText& profile, std::u16string_view section,
                            LPCWSTR key, LPCWSTR value) {
  const std::u16string& text = profile.Text();
  const std::u16string_view br = profile.LineBreak();
  const ProfileText::Section* found = profile.FindSection(section);
  if (!key) {
    if (!found) return std::nullopt;
    return Edit{found->headerStart, found->end, {}};
  }
  const std::u16string_view name = TrimBlanks(ViewOf(key));
  const ProfileText::Entry* entry = found ? profile.FindEntry(*found, name) : nullptr;
  if (!value) {
    if (!entry) return std::nullopt;
    return Edit{entry->lineStart, entry->lineEnd, {}};
  }
  const std::u16string_view newValue = ViewOf(value);
  if (entry) {
    Edit edit{entry->editStart, entry->editEnd, {}};
    if (!entry->hasValue) edit.insert = u"=";
    edit.insert.append(newValue);
    return edit;
  }
  Edit edit;
  edit.start = edit.end = found ? found->insertAt : text.size();
  // The line we add after may be the file's last one, without a line break.
  if (edit.start > 0 && !IsLineBreak(text[edit.start - 1])) edit.insert.append(br);
  if (!found) edit.insert.append(u"[").append(section).append(u"]").append(br);
  edit.insert.append(name).append(u"=").append(newValue).append(br);
  return edit;
}

BOOL Write(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  const std::u16string path(ViewOf(file));
  ProfileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Mutex());
  if (!section) {
    // The call with nothing but a file is the platform's flush: our writes are on disk
    // before they return, so there is only the parsed form to drop. The platform answers
    // it with FALSE, and so do we.
    if (!key && !value) cache.Forget(path);
    return FALSE;
  }
  const std::u16string_view sectionName = TrimBlanks(ViewOf(section));
  const Loaded loaded = cache.Load(path);
  // A file we cannot read, or could only read with losses, is never overwritten.
  if (loaded.status == LoadStatus::Unreadable) return FALSE;
  if (loaded.status == LoadStatus::Loaded && !loaded.profile->writable) return FALSE;

  std::u16string newText;
  ProfileText::Encoding encoding = ProfileText::Encoding::Ansi;
  if (loaded.status == LoadStatus::Missing) {
    if (!key || !value) return TRUE;  // nothing to delete, and no file is made for it
    const ProfileText empty{std::u16string()};
    newText = EditFor(empty, sectionName, key, value)->insert;
  } else {
    const ProfileText& profile = loaded.profile->text;
    std::optional<Edit> edit = EditFor(profile, sectionName, key, value);
    if (!edit) return TRUE;
    const std::u16string& text = profile.Text();
    newText.reserve(text.size() - (edit->end - edit->start) + edit->insert.size());
    newText.append(text, 0, edit->start).append(edit->insert).append(text, edit->end);
    encoding = loaded.profile->encoding;
  }
  const std::string bytes = EncodeProfile(encoding, newText);
  newText = std::u16string();
  if (!platform::ReplaceFileContents(path, bytes)) {
    cache.Forget(path);
    return FALSE;
  }
  // Keep the form of what is now on disk, parsed from the bytes written, so that text the
  // ANSI code page could not hold reads back as it was stored.
  if (std::optional<platform::FileStamp> stamp = platform::QueryFileStamp(path)) {
    stamp->recent = true;
    cache.Store(path, *stamp, bytes);
  } else {
    cache.Forget(path);
  }
  return TRUE;
}

}  // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText,
                               LPWSTR buffer, DWORD size, LPCWSTR file) {
  if (!buffer || size == 0) return 0;
  char16_t* out = AsU16(buffer);
  try {
    const std::u16string path(ViewOf(file));
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    const Loaded loaded = cache.Load(path);
    const ProfileText* profile =
        loaded.status == LoadStatus::Loaded ? &loaded.profile->text : nullptr;
    if (!section) {
      return CopyList(profile ? profile->SectionNames() : std::vector<std::u16string_view>(), out,
                      size);
    }
    const ProfileText::Section* found =
        profile ? profile->FindSection(TrimBlanks(ViewOf(section))) : nullptr;
    if (found && !key) {
      // An empty list, or one that starts with an empty name, reads as no list at all.
      const DWORD written = CopyList(profile->EntryNames(*found), out, size);
      if (out[0] != u'\0') return written;
    } else if (found) {
      const ProfileText::Entry* entry = profile->FindEntry(*found, TrimBlanks(ViewOf(key)));
      if (entry && entry->hasValue) return CopyText(profile->Value(*entry), out, size);
    }
  } catch (const std::exception&) {
    // Out of memory, or a file too large to index: the reader has no way to say so and
    // answers as for an unreadable file.
  }
  if (!section) {
    out[0] = u'\0';
    return 0;
  }
  return CopyDefault(defaultText, out, size);
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (!file) return FALSE;
  try {
    return Write(section, key, value, file);
  } catch (const std::exception&) {
    return FALSE;
  }
}

}  // namespace iniplugin::portable
