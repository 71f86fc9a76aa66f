// The profile functions for systems without them. Reads parse a file once and keep the
// parsed form until the file changes. Writes are made in that parsed form and reach the
// file at the flush call for it (or when the process ends), one atomic replace for any
// number of writes: a host that sets a thousand variables rewrites the file once, not a
// thousand times. Reads in this process see the writes at once.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "inidoc/TextForm.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/portable.h"
#include "platform/replace.h"
#include "platform/unicode.h"
#include "platform/wide.h"
#include "profile/Profile.h"
#include "profile/ProfileText.h"

namespace iniplugin::profile {

namespace {

using platform::AsU16;

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
    const ProfileText::Range range = profile.EditRange(*entry);
    Edit edit{range.start, range.end, {}};
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


// A write as the caller made it, kept so that it can be made again should the file change
// behind our back before the flush.
struct LoggedWrite {
  std::u16string section;
  std::optional<std::u16string> key;
  std::optional<std::u16string> value;
};

// An entry added to a section of the parsed text and not yet folded into it.
struct AddedEntry {
  std::uint32_t section = 0;  // in the parsed text
  std::u16string name;
  std::u16string value;
};

// A new value for an entry of the parsed text, not yet folded into it.
struct ReplacedValue {
  std::u16string value;
  bool addEquals = false;  // the entry had no "="
};

// One file's parsed form, the version of the file it started from, and the writes made
// since, which the file does not hold yet.
//
// The common writes (a new value for an entry, a new entry in an existing section, with
// text that keeps the line structure) are kept beside the parsed text and answered from
// there; any other write, and any read of name lists, first folds them into the text and
// parses it again.
struct CachedProfile {
  std::u16string path;
  // The file as it was read: its stamp, whether it was there at all, and its content's
  // size and hash, for telling a change that leaves the stamp as it was.
  platform::FileStamp stamp;
  bool exists = true;
  // The stamp was taken so soon after a change that a second change could hide behind
  // it: the next use checks the content itself.
  bool unsure = false;
  std::size_t byteCount = 0;
  std::size_t contentHash = 0;
  ProfileText::Encoding encoding = ProfileText::Encoding::Ansi;
  bool writable = true;
  ProfileText text;
  std::uint64_t lastUse = 0;

  // The writes not in the file yet, in the order they were made.
  std::vector<LoggedWrite> log;
  // Of those, the ones not folded into `text` yet: by entry index, and in arrival order.
  std::unordered_map<std::uint32_t, ReplacedValue> replaced;
  std::vector<AddedEntry> added;
  std::unordered_map<std::u16string, std::uint32_t> addedIndex;

  bool Dirty() const { return !log.empty(); }
};

// The key under which an added entry is found: its section and its name without case.
std::u16string AddedKey(std::uint32_t section, std::u16string_view name) {
  std::u16string key;
  key.reserve(name.size() + 2);
  key.push_back(static_cast<char16_t>(section >> 16));
  key.push_back(static_cast<char16_t>(section & 0xFFFF));
  for (char16_t c : name) key.push_back(inidoc::FoldCase(c));
  return key;
}

// The text as it reads back from the file: what the file's encoding cannot hold becomes
// what the encoding makes of it ('?' in the ANSI code page, U+FFFD for a lone surrogate in
// UTF-8), so that a read before the flush answers as one after it.
std::u16string StoredForm(ProfileText::Encoding encoding, std::u16string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
    return std::u16string(text);
  }
  switch (encoding) {
    case ProfileText::Encoding::Ansi:
      return platform::AnsiToUtf16(platform::Utf16ToAnsi(text));
    case ProfileText::Encoding::Utf8:
      return platform::Utf8ToUtf16(platform::Utf16ToUtf8(text)).value_or(std::u16string(text));
    case ProfileText::Encoding::Utf16:
    case ProfileText::Encoding::Utf16BigEndian:
      break;
  }
  return std::u16string(text);
}

// Text that stays on its line: no line break, and no NUL that would cut the line short.
bool StaysOnItsLine(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos;
}

// A name that reads back as the name of the entry it is written as.
bool IsPlainName(std::u16string_view name) {
  return !name.empty() && StaysOnItsLine(name) && name.front() != u'[' &&
         name.find(u'=') == std::u16string_view::npos;
}

// The value the reader finds in a line "name=value".
std::u16string_view ValueAsRead(std::u16string_view stored) {
  return StripQuotes(TrimBlanks(stored));
}

// The text with the kept writes folded in.
std::u16string FoldedText(const CachedProfile& profile) {
  const ProfileText& parsed = profile.text;
  const std::u16string& text = parsed.Text();
  const std::u16string_view br = parsed.LineBreak();

  struct Change {
    std::size_t start, end;
    const ReplacedValue* replaced;
    const AddedEntry* added;
  };
  std::vector<Change> changes;
  changes.reserve(profile.replaced.size() + profile.added.size());
  for (const auto& [entry, value] : profile.replaced) {
    const ProfileText::Entry& at = parsed.EntryAt(entry);
    const ProfileText::Range range = parsed.EditRange(at);
    changes.push_back({range.start, range.end, &value, nullptr});
  }
  for (const AddedEntry& added : profile.added) {
    const std::size_t at = parsed.Sections()[added.section].insertAt;
    changes.push_back({at, at, nullptr, &added});
  }
  // Entries added at one place keep the order they were added in.
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.start < b.start; });

  std::size_t grow = 0;
  for (const Change& change : changes) {
    grow += change.replaced ? change.replaced->value.size() + 1
                            : change.added->name.size() + change.added->value.size() + 3;
  }
  std::u16string folded;
  folded.reserve(text.size() + grow);
  std::size_t copied = 0;
  for (const Change& change : changes) {
    folded.append(text, copied, change.start - copied);
    if (change.replaced) {
      if (change.replaced->addEquals) folded.push_back(u'=');
      folded.append(change.replaced->value);
    } else {
      folded.append(change.added->name).append(u"=").append(change.added->value).append(br);
    }
    copied = change.end;
  }
  folded.append(text, copied);
  return folded;
}

// Folds the kept writes into the text and parses it again.
void FoldWrites(CachedProfile& profile) {
  if (profile.replaced.empty() && profile.added.empty()) return;
  std::u16string folded = FoldedText(profile);
  profile.replaced.clear();
  profile.added.clear();
  profile.addedIndex.clear();
  profile.text = ProfileText(std::move(folded));
}

// Makes one write in the profile's parsed form. FALSE when the file cannot take writes.
BOOL ApplyWrite(CachedProfile& profile, std::u16string_view sectionName, LPCWSTR key,
                LPCWSTR value) {
  // A file we could only read with losses is never overwritten.
  if (!profile.writable) return FALSE;
  if (!profile.Dirty() && !platform::CanReplaceFile(profile.path)) return FALSE;
  const auto log = [&] {
    profile.log.push_back(LoggedWrite{
        std::u16string(sectionName),
        key ? std::optional<std::u16string>(ViewOf(key)) : std::nullopt,
        value ? std::optional<std::u16string>(ViewOf(value)) : std::nullopt});
  };

  const ProfileText& parsed = profile.text;
  const ProfileText::Section* section = key && value ? parsed.FindSection(sectionName) : nullptr;
  if (section && StaysOnItsLine(ViewOf(value))) {
    const std::u16string_view name = TrimBlanks(ViewOf(key));
    const std::uint32_t number = parsed.IndexOf(*section);
    std::u16string stored = StoredForm(profile.encoding, ViewOf(value));
    if (const ProfileText::Entry* entry = parsed.FindEntry(*section, name)) {
      profile.replaced[parsed.IndexOf(*entry)] = ReplacedValue{std::move(stored), !entry->hasValue};
      log();
      return TRUE;
    }
    const std::u16string storedName = StoredForm(profile.encoding, name);
    const auto found = profile.addedIndex.find(AddedKey(number, name));
    if (found != profile.addedIndex.end()) {
      profile.added[found->second].value = std::move(stored);
      log();
      return TRUE;
    }
    const std::uint32_t at = section->insertAt;
    // Adding after a last line without a line break needs one first: the general way.
    if (IsPlainName(storedName) && (at == 0 || IsLineBreak(parsed.Text()[at - 1]))) {
      profile.addedIndex.emplace(AddedKey(number, storedName),
                                 static_cast<std::uint32_t>(profile.added.size()));
      profile.added.push_back(AddedEntry{number, storedName, std::move(stored)});
      log();
      return TRUE;
    }
  }

  FoldWrites(profile);
  std::optional<Edit> edit = EditFor(profile.text, sectionName, key, value);
  if (!edit) return TRUE;
  const std::u16string& text = profile.text.Text();
  const std::u16string insert = StoredForm(profile.encoding, edit->insert);
  std::u16string changed;
  changed.reserve(text.size() - (edit->end - edit->start) + insert.size());
  changed.append(text, 0, edit->start).append(insert).append(text, edit->end);
  profile.text = ProfileText(std::move(changed));
  log();
  return TRUE;
}

enum class LoadStatus { Missing, Unreadable, Loaded };

// The innermost read batch open on this thread.
thread_local ProfileReadBatch* t_readBatch = nullptr;

struct Loaded {
  LoadStatus status = LoadStatus::Missing;
  CachedProfile* profile = nullptr;
};

// The parsed forms of the few files used last, with the writes not yet flushed. Every
// member must be called with Mutex() held; the pointers handed out are valid while it is.
class ProfileCache {
 public:
  // A host works on one file at a time; a handful covers a read of one file interleaved
  // with another while keeping a 10 MB file's form (about four times its size) in bounds.
  // Files with writes not yet flushed are kept beyond this.
  static constexpr std::size_t kCapacity = 4;

  ProfileCache() = default;
  ProfileCache(const ProfileCache&) = delete;
  ProfileCache& operator=(const ProfileCache&) = delete;
  // A process that ends without the flush call still expects its writes in its files.
  ~ProfileCache() {
    for (const auto& profile : m_profiles) {
      if (profile->Dirty()) {
        try {
          PutDown(*profile);
        } catch (const std::exception&) {
        }
      }
    }
  }

  std::mutex& Mutex() { return m_mutex; }

  // The file's parsed form with this process's writes, checked against the file: a file
  // changed behind our back is read again, and writes not flushed yet are made again on
  // the new version.
  // A read inside a batch whose file was checked already takes the parsed form as it is.
  Loaded LoadForRead(const std::u16string& path) {
    ProfileReadBatch* batch = t_readBatch;
    if (!batch || batch->Path() != path) return Load(path);
    if (batch->Checked()) {
      const auto slot = Find(path);
      if (slot != m_profiles.end()) return Use(**slot);
    }
    const Loaded loaded = Load(path);
    if (loaded.status == LoadStatus::Loaded) batch->MarkChecked();
    return loaded;
  }

  Loaded Load(const std::u16string& path) {
    const std::optional<platform::FileStamp> stamp = platform::QueryFileStamp(path);
    auto slot = Find(path);
    if (slot == m_profiles.end()) return LoadFromFile(path, stamp);
    CachedProfile& cached = **slot;
    if (!stamp) {
      if (!cached.exists) return Use(cached);
      if (!cached.Dirty()) {
        Forget(path);
        return {LoadStatus::Missing, nullptr};
      }
      return Rebase(path, stamp);
    }
    if (cached.exists && !cached.unsure && cached.stamp.SameVersion(*stamp)) return Use(cached);
    std::string bytes;
    if (cached.exists &&
        platform::ReadFileBytes(path, bytes) == platform::ReadResult::Ok &&
        cached.byteCount == bytes.size() &&
        cached.contentHash == std::hash<std::string_view>()(bytes)) {
      cached.stamp = *stamp;
      cached.unsure = stamp->recent;
      return Use(cached);
    }
    if (cached.Dirty()) return Rebase(path, stamp);
    Forget(path);
    return LoadFromFile(path, stamp);
  }

  // A profile for a file that does not exist yet, to take the first write that makes it.
  CachedProfile& Create(const std::u16string& path) {
    Forget(path);
    auto profile = std::make_unique<CachedProfile>(CachedProfile{
        path, {}, false, false, 0, 0, ProfileText::Encoding::Ansi, true,
        ProfileText(std::u16string()), 0, {}, {}, {}, {}});
    return Keep(std::move(profile));
  }

  // Puts the file's unflushed writes down, and drops its parsed form: the next read
  // parses the file again. The platform's flush answers FALSE, and so does ours; a
  // failure to write cannot be told, as with the platform's.
  // True when the file holds every write made to it: nothing was held, or what was held
  // was put down.
  bool Flush(const std::u16string& path) {
    if (Find(path) == m_profiles.end()) return true;
    bool putDown = true;
    try {
      const Loaded loaded = Load(path);
      if (loaded.profile && loaded.profile->Dirty()) putDown = PutDown(*loaded.profile);
    } catch (...) {
      // The parsed form goes whatever happened: writes that could not be put down must not
      // go on answering reads as if they were in the file.
      Forget(path);
      throw;
    }
    Forget(path);
    return putDown;
  }

 private:
  using Slot = std::vector<std::unique_ptr<CachedProfile>>::iterator;

  // Writes the profile's text to its file, atomically. The profile is dropped after it,
  // so the kept writes are folded into the bytes without parsing the text again.
  static bool PutDown(CachedProfile& profile) {
    const bool kept = !profile.replaced.empty() || !profile.added.empty();
    const std::string bytes =
        EncodeProfile(profile.encoding, kept ? FoldedText(profile) : profile.text.Text());
    if (!platform::ReplaceFileContents(profile.path, bytes)) return false;
    profile.log.clear();
    return true;
  }

  Loaded LoadFromFile(const std::u16string& path,
                      const std::optional<platform::FileStamp>& stamp) {
    if (!stamp) return {LoadStatus::Missing, nullptr};
    // A settled file needs no hash of its content: it is read, decoded and parsed a block
    // at a time, each block while it is still in the cache.
    if (!stamp->recent) {
      if (CachedProfile* streamed = Stream(path, *stamp)) return Use(*streamed);
    }
    std::string bytes;
    if (platform::ReadFileBytes(path, bytes) != platform::ReadResult::Ok) {
      return {LoadStatus::Unreadable, nullptr};
    }
    CachedProfile* stored = Store(path, *stamp, bytes);
    return stored ? Use(*stored) : Loaded{LoadStatus::Unreadable, nullptr};
  }

  // Reads the file a block at a time into its parsed form. nullptr when it must be read
  // whole instead: a read error, or a form the document model refuses and the reader
  // still reads (see DecodeProfile).
  CachedProfile* Stream(const std::u16string& path, const platform::FileStamp& stamp) {
    constexpr std::size_t kBlock = 1 << 16;
    const platform::UniqueFile file = platform::OpenFile(path, "rb");
    if (!file) return nullptr;
    const std::unique_ptr<char[]> block(new char[kBlock]);
    std::size_t got = std::fread(block.get(), 1, kBlock, file.Get());
    // A UTF-16 file has half as many units as bytes; the other forms at most one a byte.
    const bool utf16 = got >= 2 && block[0] == '\xFF' && block[1] == '\xFE';
    const std::uint64_t units = utf16 ? stamp.size / 2 : stamp.size;
    if (units >= ProfileText::kNone) return nullptr;
    ProfileText text(ProfileText::Incremental{}, static_cast<std::size_t>(units));
    inidoc::TextDecoder decoder(text.GrowingText());
    std::size_t total = 0;
    for (;;) {
      total += got;
      if (!decoder.Feed(std::string_view(block.get(), got))) return nullptr;
      text.TakeLines();
      if (got < kBlock) break;
      got = std::fread(block.get(), 1, kBlock, file.Get());
    }
    if (std::ferror(file.Get()) || !decoder.Finish()) return nullptr;
    text.Finish();
    Forget(path);
    return &Keep(std::make_unique<CachedProfile>(CachedProfile{
        path, stamp, true, false, total, 0, EncodingOf(decoder.Form()), true, std::move(text), 0, {}, {}, {}, {}}));
  }

  // The file changed while writes to it were waiting: they are made again on what the
  // file holds now, as they would have been had they come after the change.
  Loaded Rebase(const std::u16string& path, const std::optional<platform::FileStamp>& stamp) {
    std::vector<LoggedWrite> log = std::move((*Find(path))->log);
    Forget(path);
    Loaded loaded = LoadFromFile(path, stamp);
    if (loaded.status == LoadStatus::Unreadable) return loaded;
    CachedProfile& profile = loaded.profile ? *loaded.profile : Create(path);
    for (const LoggedWrite& write : log) {
      ApplyWrite(profile, write.section,
                 write.key ? platform::AsWide(write.key->c_str()) : nullptr,
                 write.value ? platform::AsWide(write.value->c_str()) : nullptr);
    }
    return Use(profile);
  }

  // Parses `bytes`, the file's content as of `stamp`, and keeps the result. Returns
  // nullptr when the text is too long to index.
  CachedProfile* Store(const std::u16string& path, const platform::FileStamp& stamp,
                       std::string_view bytes) {
    Forget(path);
    // Only a stamp that may hide a change needs the content to tell; hashing a large file
    // on every first read would cost a good part of parsing it.
    const std::size_t hash = stamp.recent ? std::hash<std::string_view>()(bytes) : 0;
    DecodedProfile decoded = DecodeProfile(bytes);
    if (decoded.text.size() >= ProfileText::kNone) return nullptr;
    auto profile = std::make_unique<CachedProfile>(CachedProfile{
        path, stamp, true, stamp.recent, bytes.size(), hash, decoded.encoding,
        decoded.writable, ProfileText(std::move(decoded.text)), 0, {}, {}, {}, {}});
    return &Keep(std::move(profile));
  }

  CachedProfile& Keep(std::unique_ptr<CachedProfile> profile) {
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
    }
    m_profiles.push_back(std::move(profile));
    return *m_profiles.back();
  }

  void Forget(const std::u16string& path) {
    auto slot = Find(path);
    if (slot != m_profiles.end()) m_profiles.erase(slot);
  }

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

BOOL Write(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  const std::u16string path(ViewOf(file));
  ProfileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Mutex());
  if (!section) {
    if (!key && !value) cache.Flush(path);
    return FALSE;
  }
  const std::u16string_view sectionName = TrimBlanks(ViewOf(section));
  const Loaded loaded = cache.Load(path);
  if (loaded.status == LoadStatus::Unreadable) return FALSE;
  if (loaded.status == LoadStatus::Missing) {
    if (!key || !value) return TRUE;  // nothing to delete, and no file is made for it
    if (!platform::CanReplaceFile(path)) return FALSE;
    return ApplyWrite(cache.Create(path), sectionName, key, value);
  }
  return ApplyWrite(*loaded.profile, sectionName, key, value);
}

// The answer to a read of one value, with the writes not folded into the text yet.
std::optional<std::u16string_view> FindValue(const CachedProfile& profile,
                                             const ProfileText::Section& section,
                                             std::u16string_view name) {
  const ProfileText& parsed = profile.text;
  if (const ProfileText::Entry* entry = parsed.FindEntry(section, name)) {
    const auto replaced = profile.replaced.find(parsed.IndexOf(*entry));
    if (replaced != profile.replaced.end()) return ValueAsRead(replaced->second.value);
    if (entry->hasValue) return parsed.Value(*entry);
    return std::nullopt;
  }
  if (profile.added.empty()) return std::nullopt;
  const auto added = profile.addedIndex.find(AddedKey(parsed.IndexOf(section), name));
  if (added == profile.addedIndex.end()) return std::nullopt;
  return ValueAsRead(profile.added[added->second].value);
}

}  // namespace

ProfileReadBatch::ProfileReadBatch(std::u16string path)
    : m_path(std::move(path)), m_outer(t_readBatch) {
  t_readBatch = this;
}

ProfileReadBatch::~ProfileReadBatch() { t_readBatch = m_outer; }

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText,
                               LPWSTR buffer, DWORD size, LPCWSTR file) {
  if (!buffer || size == 0) return 0;
  char16_t* out = AsU16(buffer);
  try {
    const std::u16string path(ViewOf(file));
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    const Loaded loaded = cache.LoadForRead(path);
    CachedProfile* profile = loaded.status == LoadStatus::Loaded ? loaded.profile : nullptr;
    // Name lists are read from the text with every write folded in.
    if (profile && (!section || !key)) FoldWrites(*profile);
    const ProfileText* parsed = profile ? &profile->text : nullptr;
    if (!section) {
      return CopyList(parsed ? parsed->SectionNames() : std::vector<std::u16string_view>(), out,
                      size);
    }
    const ProfileText::Section* found =
        parsed ? parsed->FindSection(TrimBlanks(ViewOf(section))) : nullptr;
    if (found && !key) {
      // An empty list, or one that starts with an empty name, reads as no list at all.
      const DWORD written = CopyList(parsed->EntryNames(*found), out, size);
      if (out[0] != u'\0') return written;
    } else if (found) {
      if (std::optional<std::u16string_view> value =
              FindValue(*profile, *found, TrimBlanks(ViewOf(key)))) {
        return CopyText(*value, out, size);
      }
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

bool FlushHeldWrites(LPCWSTR file) {
  if (!file) return false;
  try {
    const std::u16string path(ViewOf(file));
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    return cache.Flush(path);
  } catch (const std::exception&) {
    return false;
  }
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (!file) return FALSE;
  try {
    return Write(section, key, value, file);
  } catch (const std::exception&) {
    return FALSE;
  }
}

}  // namespace iniplugin::profile
