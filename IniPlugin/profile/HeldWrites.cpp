#include "profile/HeldWrites.h"

#include <algorithm>
#include <utility>

#include "platform/codepage.h"
#include "platform/replace.h"
#include "platform/unicode.h"
#include "platform/wide.h"
#include "text/Encoding.h"

namespace iniplugin::profile {

namespace {

using platform::WideView;

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// Whether the line that ends at `lineEnd` is the text's last and has no line break.
bool LastLineUnbroken(std::u16string_view text, std::size_t lineEnd) {
  return lineEnd == text.size() && lineEnd > 0 && !IsLineBreak(text[lineEnd - 1]);
}

// The comment lines of [start, end), each with its line break: deleting a section leaves
// them where they are.
std::u16string CommentLines(std::u16string_view text, std::size_t start, std::size_t end) {
  std::u16string kept;
  while (start < end) {
    std::size_t next = text.find_first_of(u"\r\n", start);
    next = next == std::u16string_view::npos || next >= end ? end
           : text[next] == u'\r' && next + 1 < end && text[next + 1] == u'\n' ? next + 2
                                                                               : next + 1;
    const std::u16string_view line = text.substr(start, next - start);
    if (const std::u16string_view content = TrimBlanks(line);
        !content.empty() && content.front() == u';') {
      kept.append(line);
    }
    start = next;
  }
  return kept;
}

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
    return Edit{found->headerStart, found->end, CommentLines(text, found->headerStart, found->end)};
  }
  const std::u16string_view name = TrimSpaces(WideView(key));
  const ProfileText::Entry* entry = found ? profile.FindEntry(*found, name) : nullptr;
  if (!value) {
    if (!entry) return std::nullopt;
    return Edit{entry->lineStart, entry->lineEnd, {}};
  }
  const std::u16string_view newValue = WideView(value);
  if (entry) {
    const ProfileText::Range range = profile.EditRange(*entry);
    Edit edit{range.start, range.end, {}};
    if (!entry->hasValue) edit.insert = u"=";
    edit.insert.append(newValue);
    // The file's last line, rewritten, gets the line break it lacked.
    if (LastLineUnbroken(text, entry->lineEnd)) {
      edit.insert.append(text, range.end, entry->lineEnd - range.end).append(br);
      edit.end = entry->lineEnd;
    }
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

// Room for one more element, growing the way push_back does: reserving one more at each
// write would move the whole vector at each write.
template <class T>
void ReserveOneMore(std::vector<T>& items) {
  if (items.size() == items.capacity()) {
    items.reserve(std::max<std::size_t>(8, items.capacity() * 2));
  }
}

// The key under which an added entry is found: its section and its name without case.
std::u16string AddedKey(std::uint32_t section, std::u16string_view name) {
  std::u16string key;
  key.reserve(name.size() + 2);
  key.push_back(static_cast<char16_t>(section >> 16));
  key.push_back(static_cast<char16_t>(section & 0xFFFF));
  for (char16_t c : name) key.push_back(text::FoldCase(c));
  return key;
}

// The text as it reads back from the file: what the file's encoding cannot hold becomes
// what the encoding makes of it ('?' in the ANSI code page, U+FFFD for a lone surrogate in
// UTF-8), so that a read before the flush answers as one after it.
std::u16string StoredForm(text::Form form, std::u16string_view written) {
  if (std::all_of(written.begin(), written.end(), [](char16_t c) { return c < 0x80; })) {
    return std::u16string(written);
  }
  switch (form) {
    case text::Form::Ansi:
      return platform::AnsiToUtf16(platform::Utf16ToAnsi(written));
    case text::Form::Utf8:
      return platform::Utf8ToUtf16(platform::Utf16ToUtf8(written)).value_or(std::u16string(written));
    case text::Form::Utf16:
    case text::Form::Utf16BigEndian:
      break;
  }
  return std::u16string(written);
}

// Text that stays on its line: no line break, and no NUL that would cut the line short.
bool StaysOnItsLine(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos;
}

// A name that reads back as the name of the entry it is written as: not a comment, nor
// one whose blanks at either end the reader trims.
bool IsPlainName(std::u16string_view name) {
  return !name.empty() && StaysOnItsLine(name) && name.front() != u'[' && name.front() != u';' &&
         !EdgedByOtherBlanks(name) && name.find(u'=') == std::u16string_view::npos;
}

}  // namespace

std::u16string FoldedText(const HeldProfile& profile) {
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

void FoldWrites(HeldProfile& profile) {
  if (profile.replaced.empty() && profile.added.empty()) return;
  // Parsed before the kept writes are let go: should the parse fail, they are still kept.
  ProfileText folded(FoldedText(profile));
  profile.replaced.clear();
  profile.added.clear();
  profile.addedIndex.clear();
  profile.text = std::move(folded);
}

BOOL ApplyWrite(HeldProfile& profile, std::u16string_view sectionName, LPCWSTR key,
                LPCWSTR value) {
  // A file we could only read with losses is never overwritten.
  if (!profile.writable) return FALSE;
  if (!profile.Dirty() && !platform::CanReplaceFile(profile.path)) return FALSE;
  // Made, with room for it in the log, before the parsed form changes: once it has, the
  // write is logged without allocating. A write made in the form and missing from the log
  // would answer reads, and a read-back after the flush, from a file that never got it.
  LoggedWrite logged{std::u16string(sectionName),
                     key ? std::optional<std::u16string>(WideView(key)) : std::nullopt,
                     value ? std::optional<std::u16string>(WideView(value)) : std::nullopt};
  ReserveOneMore(profile.log);
  const auto log = [&] { profile.log.push_back(std::move(logged)); };

  const ProfileText& parsed = profile.text;
  const ProfileText::Section* section = key && value ? parsed.FindSection(sectionName) : nullptr;
  if (section && StaysOnItsLine(WideView(value))) {
    const std::u16string_view name = TrimSpaces(WideView(key));
    const std::uint32_t number = parsed.IndexOf(*section);
    std::u16string stored = StoredForm(profile.form, WideView(value));
    if (const ProfileText::Entry* entry = parsed.FindEntry(*section, name)) {
      // Rewriting the last line without a line break adds one: the general way.
      if (!LastLineUnbroken(parsed.Text(), entry->lineEnd)) {
        profile.replaced[parsed.IndexOf(*entry)] =
            ReplacedValue{std::move(stored), !entry->hasValue};
        log();
        return TRUE;
      }
    } else if (const auto found = profile.addedIndex.find(AddedKey(number, name));
               found != profile.addedIndex.end()) {
      profile.added[found->second].value = std::move(stored);
      log();
      return TRUE;
    } else if (const std::u16string storedName = StoredForm(profile.form, name);
               // Adding after a last line without a line break needs one first, and a name
               // the file reads otherwise must not be found as it was given: the general way.
               IsPlainName(storedName) &&
               (section->insertAt == 0 || IsLineBreak(parsed.Text()[section->insertAt - 1]))) {
      // Everything that allocates comes first: an index entry must never name an entry
      // that failed to be added.
      AddedEntry added{number, storedName, std::move(stored)};
      ReserveOneMore(profile.added);
      profile.addedIndex.emplace(AddedKey(number, storedName),
                                 static_cast<std::uint32_t>(profile.added.size()));
      profile.added.push_back(std::move(added));
      log();
      return TRUE;
    }
  }

  FoldWrites(profile);
  std::optional<Edit> edit = EditFor(profile.text, sectionName, key, value);
  if (!edit) return TRUE;
  const std::u16string& text = profile.text.Text();
  // A file of nothing but the UTF-16 mark gets a line break before its first section,
  // as the system's writer gives it.
  if (text.empty() && profile.form == iniplugin::text::Form::Utf16) {
    edit->insert.insert(0, profile.text.LineBreak());
  }
  const std::u16string insert = StoredForm(profile.form, edit->insert);
  std::u16string changed;
  changed.reserve(text.size() - (edit->end - edit->start) + insert.size());
  changed.append(text, 0, edit->start).append(insert).append(text, edit->end);
  profile.text = ProfileText(std::move(changed));
  log();
  return TRUE;
}

std::optional<std::u16string_view> FindValue(const HeldProfile& profile,
                                             const ProfileText::Section& section,
                                             std::u16string_view name) {
  const ProfileText& parsed = profile.text;
  if (const ProfileText::Entry* entry = parsed.FindEntry(section, name)) {
    if (!profile.replaced.empty()) {
      const auto replaced = profile.replaced.find(parsed.IndexOf(*entry));
      if (replaced != profile.replaced.end()) return ValueAsRead(replaced->second.value);
    }
    if (entry->hasValue) return parsed.Value(*entry);
    return std::nullopt;
  }
  if (profile.added.empty()) return std::nullopt;
  const auto added = profile.addedIndex.find(AddedKey(parsed.IndexOf(section), name));
  if (added == profile.addedIndex.end()) return std::nullopt;
  return ValueAsRead(profile.added[added->second].value);
}

}  // namespace iniplugin::profile
