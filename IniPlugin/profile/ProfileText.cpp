#include "profile/ProfileText.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "platform/memory.h"
#include "text/Scan.h"

namespace iniplugin::profile {

namespace {

using text::EqualsFolded;
using text::FoldedHash;

// Ctrl-Z (1A) is a blank too, as the system's reader takes it: a name or value keeps one
// only between other characters.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\x1A';
}

}  // namespace

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string_view TrimTrailingSpaces(std::u16string_view text) {
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

std::u16string_view TrimSpaces(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  return TrimTrailingSpaces(text);
}

bool EdgedByOtherBlanks(std::u16string_view name) {
  name = TrimSpaces(name);
  return !name.empty() && (IsBlank(name.front()) || IsBlank(name.back()));
}

std::u16string_view StripQuotes(std::u16string_view text) {
  if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
      text.back() == text.front()) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

std::u16string_view ValueAsRead(std::u16string_view written) {
  return StripQuotes(TrimBlanks(written));
}

ProfileText::ProfileText(std::u16string text)
    : m_text(std::move(text)), m_arena(std::make_unique<text::Arena>()) {
  Start(m_text.size());
  Finish();
}

ProfileText::ProfileText(Incremental, std::size_t expectedUnits)
    : m_arena(std::make_unique<text::Arena>()) {
  m_text.reserve(expectedUnits);
  Start(expectedUnits);
}

void ProfileText::Start(std::size_t expectedUnits) {
  // Most files have a few sections; a larger one grows the vector the usual way.
  m_sections.reserve(kScannedSections);
  Section& unnamed = m_sections.emplace_back();
  unnamed.entryIndex = text::FlatIndex(m_arena.get());
  unnamed.nameHash = FoldedHash().Value();
  // Room for a record every twenty characters, more than most files need, so that the
  // records of a large file are rarely moved; pages never written cost nothing.
  m_entries.reserve(expectedUnits / 20 + 16);
  platform::AdviseLargeBuffer(m_entries.data(), m_entries.capacity() * sizeof(Entry));
  m_hashes.reserve(m_entries.capacity());
}

void ProfileText::TakeLines(bool final) {
  if (m_text.size() >= kNone) throw std::length_error("profile text too long to index");
  const char16_t* const base = m_text.data();
  const char16_t* const limit = base + m_text.size();
  text::LineStopFinder stops(base + m_parsed, limit);
  // Pointers rather than m_text and m_parsed, which the compiler would reload after every
  // TakeLine; the string's terminating NUL makes *limit readable.
  const char16_t* line = base + m_parsed;
  while (line < limit) {
    // The line's text ends at its break or at a NUL, the line itself only at its break.
    const char16_t* const stop = stops.Next(line);
    const char16_t* end = stop;
    if (*end == u'\0') {
      while (end < limit && *end == u'\0') end = stops.Next(end + 1);
    }
    // Until the last piece, a line must have its break, and a CR its chance of an LF.
    if (!final && (end == limit || (end + 1 == limit && *end == u'\r'))) break;
    const char16_t* next = end;
    if (next < limit) {
      next += (*next == u'\r' && next + 1 < limit && next[1] == u'\n') ? 2 : 1;
      if (!m_breakSeen) {
        m_breakSeen = true;
        m_lineBreak = next - end == 2 ? u"\r\n" : *end == u'\n' ? u"\n" : u"\r";
      }
    }
    TakeLine(static_cast<std::uint32_t>(line - base), static_cast<std::uint32_t>(stop - base),
             static_cast<std::uint32_t>(next - base));
    line = next;
  }
  m_parsed = static_cast<std::uint32_t>(line - base);
}

void ProfileText::Finish() {
  TakeLines(true);
  m_sections.back().end = static_cast<std::uint32_t>(m_text.size());
  IndexEntries(m_sections.back());
  Index();
}

void ProfileText::TakeLine(std::uint32_t lineStart, std::uint32_t contentEnd, std::uint32_t next) {
  const std::u16string_view text(m_text);
  std::uint32_t first = lineStart, last = contentEnd;
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  if (first == last) return;

  Section& current = m_sections.back();
  // Only blank lines leave a run of unnamed entries unbroken.
  const bool afterUnnamed = std::exchange(m_afterUnnamed, false);
  if (text[first] == u'[') {
    // The name ends at the first "]", or with the line's text where there is none.
    const char16_t* const base = text.data();
    const auto close =
        static_cast<std::uint32_t>(text::FindUnit(base + first + 1, base + last, u']') - base);
    current.end = lineStart;
    IndexEntries(current);
    Section& opened = m_sections.emplace_back();
    opened.entryIndex = text::FlatIndex(m_arena.get());
    const std::u16string_view name = TrimBlanks(text.substr(first + 1, close - first - 1));
    opened.nameStart = static_cast<std::uint32_t>(name.data() - text.data());
    opened.nameLength = static_cast<std::uint32_t>(name.size());
    opened.nameHash = FoldedHash().Add(name).Value();
    opened.headerStart = lineStart;
    opened.insertAt = next;
    opened.firstEntry = static_cast<std::uint32_t>(m_entries.size());
    return;
  }

  // New entries go after the section's last entry, above the comments that close it, as
  // Windows places them: a section's trailing comments stay where they are.
  if (text[first] == u';') return;
  current.insertAt = next;
  const char16_t* const base = text.data();
  const char16_t* const start = base + first;
  const char16_t* const end = base + last;
  // The name is hashed in the pass that looks for its "=", so that the section's index
  // never reads it again.
  FoldedHash hash;
  const char16_t* equals = start;
  for (; equals < end && *equals != u'='; ++equals) hash.Add(*equals);
  const char16_t* nameEnd = equals;
  while (nameEnd > start && IsBlank(nameEnd[-1])) --nameEnd;
  const auto nameLength = static_cast<std::uint32_t>(nameEnd - start);
  if (nameLength == 0) {
    m_afterUnnamed = true;
    if (afterUnnamed) return;  // the reader folds a run of unnamed entries into the first
  }
  // Blanks before "=" went into the hash; they are rare enough to hash the name again.
  if (nameEnd != equals) hash = FoldedHash().Add(text.substr(first, nameLength));
  // Filled in place: a record assembled aside and copied in costs a stall on every line.
  Entry& entry = m_entries.emplace_back();
  entry.lineStart = lineStart;
  entry.lineEnd = next;
  entry.nameStart = first;
  entry.nameLength = nameLength;
  if (equals < end) {
    const char16_t* valueStart = equals + 1;
    while (valueStart < end && IsBlank(*valueStart)) ++valueStart;
    entry.hasValue = true;
    entry.valueStart = static_cast<std::uint32_t>(valueStart - base);
    entry.valueLength = static_cast<std::uint32_t>(end - valueStart);
  }
  m_hashes.push_back(hash.Value());
  ++current.entryCount;
}

void ProfileText::IndexEntries(Section& section) {
  if (section.entryCount <= kScanned) return;
  // Inserting from the last to the first leaves the first of equal names in the index.
  section.entryIndex.Reserve(section.entryCount);
  const Entry* const entries = m_entries.data() + section.firstEntry;
  const std::uint32_t* const hashes = m_hashes.data() + section.firstEntry;
  for (std::uint32_t i = section.entryCount; i-- > 0;) {
    const std::u16string_view name = Name(entries[i]);
    section.entryIndex.InsertOrReplace(
        i, hashes[i],
        [&](std::uint32_t other) { return EqualsFolded(Name(entries[other]), name); });
  }
}

void ProfileText::Index() {
  if (m_sections.size() <= kScannedSections) return;
  // Inserting from the last to the first leaves the first of equal names in the index.
  // The lines before the first header are no section a name finds: the empty name finds
  // a "[]" header's.
  m_sectionIndex.Reserve(m_sections.size());
  for (auto i = static_cast<std::uint32_t>(m_sections.size()); i-- > 1;) {
    const Section& section = m_sections[i];
    m_sectionIndex.InsertOrReplace(i, section.nameHash, [&](std::uint32_t other) {
      return EqualsFolded(Name(m_sections[other]), Name(section));
    });
  }
}

const ProfileText::Section* ProfileText::FindSection(std::u16string_view name) const {
  // The first of the few whose names have the length, which rarely more than one has.
  if (m_sections.size() <= kScannedSections) {
    for (std::size_t i = 1; i < m_sections.size(); ++i) {
      const Section& section = m_sections[i];
      if (section.nameLength == name.size() && EqualsFolded(Name(section), name)) return &section;
    }
    return nullptr;
  }
  const std::uint32_t found =
      m_sectionIndex.Find(FoldedHash().Add(name).Value(), [&](std::uint32_t number) {
        return EqualsFolded(Name(m_sections[number]), name);
      });
  return found == kNone ? nullptr : &m_sections[found];
}

const ProfileText::Entry* ProfileText::FindEntry(const Section& section,
                                                 std::u16string_view name) const {
  const Entry* const entries = m_entries.data() + section.firstEntry;
  const std::uint32_t hash = FoldedHash().Add(name).Value();
  if (section.entryCount <= kScanned) {
    const std::uint32_t* const hashes = m_hashes.data() + section.firstEntry;
    for (std::uint32_t i = 0; i < section.entryCount; ++i) {
      if (hashes[i] == hash && EqualsFolded(Name(entries[i]), name)) return entries + i;
    }
    return nullptr;
  }
  const std::uint32_t found = section.entryIndex.Find(
      hash, [&](std::uint32_t id) { return EqualsFolded(Name(entries[id]), name); });
  return found == kNone ? nullptr : entries + found;
}

ProfileText::Range ProfileText::EditRange(const Entry& entry) const {
  const char16_t* const base = m_text.data();
  // The line's text ends at its break or at a NUL (blanks before the name are neither).
  const auto contentEnd = static_cast<std::uint32_t>(
      text::FindAnyOf3(base + entry.nameStart, base + entry.lineEnd, u'\r', u'\n', u'\0') -
      base);
  if (!entry.hasValue) return {contentEnd, contentEnd};
  if (entry.valueLength > 0) return {entry.valueStart, contentEnd};
  const char16_t* equals = text::FindUnit(base + entry.nameStart, base + contentEnd, u'=');
  return {static_cast<std::uint32_t>(equals - base) + 1, contentEnd};
}

std::u16string_view ProfileText::Value(const Entry& entry) const {
  return StripQuotes(View(entry.valueStart, entry.valueLength));
}

std::vector<std::u16string_view> ProfileText::SectionNames() const {
  std::vector<std::u16string_view> names;
  // An empty name would read as the end of the list.
  for (std::size_t i = 1; i < m_sections.size(); ++i) {
    if (m_sections[i].nameLength > 0) names.push_back(Name(m_sections[i]));
  }
  return names;
}

std::vector<std::u16string_view> ProfileText::EntryNames(const Section& section) const {
  std::vector<std::u16string_view> names;
  for (std::uint32_t i = 0; i < section.entryCount; ++i) {
    const Entry& entry = m_entries[section.firstEntry + i];
    if (entry.hasValue) names.push_back(Name(entry));
  }
  return names;
}

}  // namespace iniplugin::profile
