// The parsed form of an INI file as the platform's profile functions see it: one pass over
// the decoded text records where every section and entry is and indexes them, so that a
// read is a hash lookup and a write knows exactly which characters to replace.
//
// The rules are those the platform's reader applies (settled by running it):
// - lines end at CR LF, LF or a lone CR; a NUL ends a line's text early;
// - blanks (space, tab, vertical tab, form feed, Ctrl-Z) around a line, a name and a value
//   do not count;
// - a line whose text starts with "[" opens a section named by the text between the "["
//   and the first "]" (or the end of the line's text, where there is none);
// - a line whose text starts with ";" is a comment, never an entry;
// - any other non-blank line is an entry: the name before the first "=", the value after
//   it; a line without "=" is an entry without a value, which reads as missing;
// - lines before the first header belong to a section no name finds: the empty name
//   finds a "[]" header's section;
// - names match without regard to case (A to Z only); the first section and the first
//   entry of a name win; duplicates are never merged;
// - an entry with an empty name right after another with an empty name (blank lines
//   between them, but no other line) is dropped.
// The names a caller passes lose only their spaces (TrimSpaces): a tab at either end is
// part of the name, which no line of the file then has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "profile/Trimming.h"
#include "text/FlatIndex.h"

namespace iniplugin::profile {

class ProfileText {
 public:
  static constexpr std::uint32_t kNone = text::FlatIndex::kNone;

  // Twenty-eight bytes: a large file has hundreds of thousands of entries, and writes,
  // which are few, can work out the rest (EditRange).
  struct Entry {
    std::uint32_t nameStart = 0, nameLength = 0;
    std::uint32_t valueStart = 0, valueLength = 0;  // trimmed, quotes still on
    std::uint32_t lineStart = 0;
    std::uint32_t lineEnd = 0;  // after the line break
    bool hasValue = false;
  };

  // What a new value for `entry` replaces: from after "=" and the blanks that follow it up
  // to the end of the line's text (or, for an entry without "=", the empty range where
  // "=" + value goes).
  struct Range {
    std::uint32_t start = 0, end = 0;
  };

  struct Section {
    std::uint32_t nameStart = 0, nameLength = 0;
    std::uint32_t nameHash = 0;  // taken while the name is in the cache
    std::uint32_t headerStart = 0;  // 0 for the unnamed section before the first header
    std::uint32_t end = 0;          // where the next header line starts, or the text's end
    // Where a new entry goes: after the section's last line that is neither blank nor a
    // comment (or its header).
    std::uint32_t insertAt = 0;
    std::uint32_t firstEntry = 0, entryCount = 0;
    // The section's entries by name, numbered from firstEntry: small per-section tables
    // stay in the cache while a file is indexed, where one table over every entry of a
    // large file would cost a cache miss an entry. Empty for a section of kScanned
    // entries or fewer, which a lookup searches through the names' hashes instead.
    text::FlatIndex entryIndex;
  };

  // Parses `text`. Throws std::length_error when the text is too long to be indexed by
  // 32-bit positions, std::bad_alloc when memory runs out.
  explicit ProfileText(std::u16string text);

  // Parses a text while it is decoded, so that each piece is split into lines while it is
  // still in the cache: decode into GrowingText(), call TakeLines() after each piece and
  // Finish() after the last. Throws as above.
  struct Incremental {};
  ProfileText(Incremental, std::size_t expectedUnits);
  std::u16string& GrowingText() { return m_text; }
  // Takes the lines that are complete so far (all of them when `final`).
  void TakeLines(bool final = false);
  void Finish();

  // The first section a header opens with the name `name` (trimmed by the caller), or
  // nullptr. The lines before the first header are never found, not even by "".
  const Section* FindSection(std::u16string_view name) const;
  // The entry named `name` (trimmed by the caller) in `section`, or nullptr.
  const Entry* FindEntry(const Section& section, std::u16string_view name) const;

  const std::u16string& Text() const { return m_text; }
  std::u16string_view Name(const Section& section) const {
    return View(section.nameStart, section.nameLength);
  }
  std::u16string_view Name(const Entry& entry) const {
    return View(entry.nameStart, entry.nameLength);
  }
  // The value as the reader hands it out: one pair of matching quotes removed.
  std::u16string_view Value(const Entry& entry) const;

  // The names the reader lists: sections with a non-empty name, in file order; a
  // section's entries that have a value.
  std::vector<std::u16string_view> SectionNames() const;
  std::vector<std::u16string_view> EntryNames(const Section& section) const;

  const std::vector<Section>& Sections() const { return m_sections; }
  const Entry& EntryAt(std::uint32_t index) const { return m_entries[index]; }
  std::uint32_t IndexOf(const Section& section) const {
    return static_cast<std::uint32_t>(&section - m_sections.data());
  }
  Range EditRange(const Entry& entry) const;
  std::uint32_t IndexOf(const Entry& entry) const {
    return static_cast<std::uint32_t>(&entry - m_entries.data());
  }

  // The line break new lines get: the first one the file uses, CR LF in a file without.
  std::u16string_view LineBreak() const { return m_lineBreak; }

 private:
  std::u16string_view View(std::uint32_t start, std::uint32_t length) const {
    return std::u16string_view(m_text).substr(start, length);
  }
  void Start(std::size_t expectedUnits);
  void TakeLine(std::uint32_t lineStart, std::uint32_t contentEnd, std::uint32_t next);
  void IndexEntries(Section& section);
  void Index();

  std::u16string m_text;
  // Where the sections' entry indexes live.
  std::unique_ptr<text::Arena> m_arena;
  std::vector<Section> m_sections;
  std::vector<Entry> m_entries;
  // Most sections are small: comparing a few dozen hashes finds an entry about as fast
  // as an index does, and building an index for every section cost a tenth of a read.
  static constexpr std::uint32_t kScanned = 32;
  // A file of this many sections or fewer (the unnamed one counted) has no section index:
  // comparing a handful of names costs less than hashing the one looked for.
  static constexpr std::size_t kScannedSections = 8;
  // The hash of every entry's name, numbered like m_entries.
  std::vector<std::uint32_t> m_hashes;
  text::FlatIndex m_sectionIndex;
  std::u16string_view m_lineBreak = u"\r\n";
  std::uint32_t m_parsed = 0;  // where the first line not yet taken starts
  bool m_breakSeen = false;
  bool m_afterUnnamed = false;  // the last line that was not blank was an unnamed entry
};

}  // namespace iniplugin::profile
