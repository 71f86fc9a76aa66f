// The profile functions for systems without them. Reads parse a file once and keep the
// parsed form until the file changes. Writes are made in that parsed form and reach the
// file at the flush call for it (or when the process ends), one atomic replace for any
// number of writes: a host that sets a thousand variables rewrites the file once, not a
// thousand times. Reads in this process see the writes at once.
#include "profile/Profile.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/replace.h"
#include "platform/wide.h"
#include "profile/HeldWrites.h"
#include "profile/ProfileCache.h"
#include "profile/ProfileText.h"

namespace iniplugin::profile {

namespace {

using platform::AsU16;
using platform::WideView;

// Copies as much of `text` as fits, always terminated; returns the characters copied.
DWORD CopyText(std::u16string_view text, char16_t* out, DWORD size) {
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.data(), n, out);
  out[n] = u'\0';
  return static_cast<DWORD>(n);
}

// The default as the reader gives it back: trailing spaces and one pair of quotes removed.
DWORD CopyDefault(LPCWSTR defaultText, char16_t* out, DWORD size) {
  return CopyText(StripQuotes(TrimTrailingSpaces(WideView(defaultText))), out, size);
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

// The innermost read batch open on this thread.
thread_local ProfileReadBatch* t_readBatch = nullptr;

ProfileCache& Cache() {
  static ProfileCache cache;
  return cache;
}

// Load, except that a read inside a batch whose file was checked already takes the parsed
// form as it is: most reads of a GetValues come after its first has looked, and find
// the profile the batch remembers without looking for it by path.
Loaded LoadForRead(ProfileCache& cache, LPCWSTR file) {
  ProfileReadBatch* batch = t_readBatch;
  if (!batch || !batch->Reads(file)) return cache.Load(std::u16string(WideView(file)));
  if (batch->Checked()) {
    if (HeldProfile* kept = batch->Profile(cache.Generation())) return {LoadStatus::Loaded, kept};
    if (HeldProfile* kept = cache.Kept(batch->Path())) {
      batch->MarkChecked(kept, cache.Generation());
      return {LoadStatus::Loaded, kept};
    }
  }
  const Loaded loaded = cache.Load(batch->Path());
  if (loaded.status == LoadStatus::Loaded) batch->MarkChecked(loaded.profile, cache.Generation());
  return loaded;
}

BOOL Write(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  const std::u16string path(WideView(file));
  ProfileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Mutex());
  if (!section) {
    if (!key && !value) cache.Flush(path, ProfileCache::AfterFlush::Drop);
    return FALSE;
  }
  const std::u16string_view sectionName = TrimSpaces(WideView(section));
  // A file with writes already held is not looked at again: its flush looks, under the
  // file's lock, and makes every held write again on any change it finds, so a look at
  // each write (a thousand for one SetValues) would change nothing it writes.
  if (HeldProfile* held = cache.Kept(path); held && held->Dirty()) {
    return ApplyWrite(*held, sectionName, key, value);
  }
  const Loaded loaded = cache.Load(path);
  if (loaded.status == LoadStatus::Unreadable) return FALSE;
  if (loaded.status == LoadStatus::Missing) {
    if (!platform::CanReplaceFile(path)) return FALSE;
    // Nothing to delete; Windows still leaves an empty file behind, and so do we.
    if (!key || !value) return platform::ReplaceFileContents(path, "") ? TRUE : FALSE;
    return ApplyWrite(cache.Create(path), sectionName, key, value);
  }
  return ApplyWrite(*loaded.profile, sectionName, key, value);
}

}  // namespace

ProfileReadBatch::ProfileReadBatch(const std::u16string& path)
    : m_path(path), m_outer(t_readBatch) {
  t_readBatch = this;
}

bool ProfileReadBatch::Reads(LPCWSTR file) const {
  return AsU16(file) == m_path.c_str() || SamePath(m_path, WideView(file));
}

ProfileReadBatch::~ProfileReadBatch() { t_readBatch = m_outer; }

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText,
                               LPWSTR buffer, DWORD size, LPCWSTR file) {
  if (!buffer || size == 0) return 0;
  char16_t* out = AsU16(buffer);
  try {
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    const Loaded loaded = LoadForRead(cache, file);
    HeldProfile* profile = loaded.status == LoadStatus::Loaded ? loaded.profile : nullptr;
    // Name lists are read from the text with every write folded in.
    if (profile && (!section || !key)) FoldWrites(*profile);
    const ProfileText* parsed = profile ? &profile->text : nullptr;
    if (!section) {
      return CopyList(parsed ? parsed->SectionNames() : std::vector<std::u16string_view>(), out,
                      size);
    }
    const ProfileText::Section* found =
        parsed ? parsed->FindSection(TrimSpaces(WideView(section))) : nullptr;
    if (found && !key) {
      // An empty list, or one that starts with an empty name, reads as no list at all; a
      // list cut to nothing by a small buffer is still a list.
      const std::vector<std::u16string_view> names = parsed->EntryNames(*found);
      if (!names.empty() && !names.front().empty()) return CopyList(names, out, size);
    } else if (found) {
      if (std::optional<std::u16string_view> value =
              FindValue(*profile, *found, TrimSpaces(WideView(key)))) {
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
    const std::u16string path(WideView(file));
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    return cache.Flush(path, ProfileCache::AfterFlush::Keep);
  } catch (const std::exception&) {
    return false;
  }
}

void AdoptFileBytes(const std::u16string& file, const platform::FileStamp& stamp,
                    std::string_view bytes) {
  try {
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.Mutex());
    cache.Adopt(file, stamp, bytes);
  } catch (const std::exception&) {
    // Only a read saved: the read to come opens the file itself.
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
