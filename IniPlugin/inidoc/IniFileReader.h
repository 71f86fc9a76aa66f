// IniFileReader: one INI file held in memory, every line of it, so that a save writes back
// exactly what was read apart from the values that were set.
//
// The document keeps the file's decoded text in one buffer; sections and line records
// refer into it by position. Values set later are appended to the same buffer. Lookups go
// through case-insensitive indexes that hold only record numbers.
//
// Failure: Load reports by its result; allocation failure propagates as std::bad_alloc.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "text/Arena.h"
#include "text/Encoding.h"
#include "text/FlatIndex.h"

namespace iniplugin::platform {
class FileLock;
class FileReplacement;
}  // namespace iniplugin::platform

namespace iniplugin::inidoc {

class IniFileReader {
 public:
  // A stretch of the document's text.
  struct Span {
    std::uint32_t pos = 0;
    std::uint32_t len = 0;
  };

  // One line of a section: an entry (key=value) or a raw line (comment, blank, no "=").
  // Twelve bytes, because a large file has millions of them.
  struct Value {
    // Entry: the text before the first "=", leading spaces dropped, trailing kept.
    // Raw line: the line's text.
    Span m_key;
    // Entry: the length of everything after the first "=", which follows m_key and its
    // "=" in the document's text (a value set later comes with a copy of its key).
    // Raw line: kRawLine.
    std::uint32_t m_valueLength = kRawLine;

    static constexpr std::uint32_t kRawLine = 0xFFFFFFFFu;
    bool IsRaw() const { return m_valueLength == kRawLine; }
    Span ValueSpan() const {
      return IsRaw() ? Span{} : Span{m_key.pos + m_key.len + 1, m_valueLength};
    }
  };

  // A header line and the lines that follow it up to the next header.
  struct Section {
    // The line that opened the section, as read, without its line end.
    Span m_header;
    // Entries by lower-cased key (record numbers into m_values).
    text::FlatIndex m_valueMap;
    // The lines in file order, an array in the document's arena.
    Value* m_values = nullptr;
    std::uint32_t m_valueCount = 0;
    std::uint32_t m_valueCapacity = 0;

    std::span<const Value> Values() const { return {m_values, m_valueCount}; }
  };

  // Read-only view of a line, for inspection and tests.
  struct LineView {
    std::u16string_view key;
    std::u16string_view value;
    bool raw = false;
  };

  IniFileReader() = default;
  IniFileReader(const IniFileReader&) = delete;
  IniFileReader& operator=(const IniFileReader&) = delete;
  IniFileReader(IniFileReader&&) = default;
  IniFileReader& operator=(IniFileReader&&) = default;
  virtual ~IniFileReader() = default;

  // What Load made of a file: true when it was loaded. A file whose text could not fit
  // (see TextFits) is `tooLarge`, and is turned away before it is read.
  // A file that was not `tooLarge` and could not be held without loss has the decoder's
  // `refusal`; one that could not be read has none (the platform notes why).
  struct LoadResult {
    bool loaded = false;
    bool tooLarge = false;
    text::Refusal refusal = text::Refusal::None;
    std::uint64_t refusedAt = 0;  // for invalid UTF-8: the offset of its first bad byte
    explicit operator bool() const { return loaded; }
  };

  // Replaces the document with the file at `path`. Fails, leaving the document as it was,
  // when the file cannot be read, is not a regular file, is too large, or cannot be held
  // without loss (see text::Decoder). The file is read, decoded and split into lines a block
  // at a time: its bytes are never held whole beside its text.
  LoadResult Load(const std::u16string& path);
  // The same for a file's bytes already in memory.
  bool LoadBytes(std::string_view bytes);

  // Finds `key` in `section` (both matched without regard to case, neither trimmed) and
  // copies the entry's value text into `value`. Returns false, with `value` unchanged,
  // when either is missing.
  bool GetValue(std::u16string_view section, std::u16string_view key,
                std::u16string& value) const;

  // Sets `key` in `section`, adding the section at the end of the document and the key at
  // the end of its section when missing. An existing key keeps its written form. Returns
  // false, changing nothing, when the key already holds exactly this value.
  bool SetValue(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // Whether Save would write back the very bytes Load read: every line of the file ended
  // in CR LF, its text was kept whole, and nothing has changed since.
  bool SavesAsLoaded() const { return m_textIsRendered; }

  // The bytes Save writes: the form's mark, then every line followed by CR LF. Encoded
  // straight from the lines, without a rendered copy of the whole text.
  std::string Serialize() const;

  // Writes the document to `path` in the form it was read in (a document never loaded is
  // ANSI), every line ending in CR LF, a block at a time. The old file stays intact unless
  // the whole new one was written. Returns false when the file cannot be written; the
  // document is unchanged.
  // The locked form is for a read-modify-write, which holds the file's lock from its
  // Load to here.
  bool Save(const std::u16string& path) const;
  bool Save(const platform::FileLock& lock) const;

  // True when the file last loaded was UTF-16 (it began with FF FE).
  bool IsUnicode() const { return m_unicode; }
  text::Form Form() const { return m_form; }

  // Inspection.
  std::size_t SectionCount() const { return m_sections.size(); }
  std::u16string_view Header(std::size_t section) const;
  // Whether a lookup by name can reach this section (it is the one its key indexes).
  bool IsIndexed(std::size_t section) const;
  std::size_t LineCount(std::size_t section) const;
  LineView Line(std::size_t section, std::size_t line) const;

  // The whole document as it would be written: every line followed by CR LF, without the
  // byte-order mark.
  std::u16string Render() const;

 private:
  bool SaveTo(platform::FileReplacement& file) const;
  class Parser;
  class Loader;

  std::u16string_view Text(Span span) const { return {m_text.data() + span.pos, span.len}; }
  Span Append(std::u16string_view text);
  text::Arena& Pool();
  Section& AddSection(Span header);
  void AddLine(Section& section, const Value& value);
  // Encodes the document into `bytes`, handing them to `drain` whenever a block is full
  // and at the end; false when `drain` does.
  template <class Drain>
  bool Encode(std::string& bytes, Drain&& drain) const;
  std::uint32_t FindSection(std::u16string_view name) const;
  std::uint32_t FindEntry(const Section& section, std::u16string_view key) const;
  void IndexSection(std::uint32_t number);
  void IndexEntry(Section& section, std::uint32_t number);

  text::FlatIndex m_sectionMap;
  // A deque: a file of a hundred thousand sections never has two copies of the list
  // while it grows.
  std::deque<Section> m_sections;
  bool m_unicode = false;
  text::Form m_form = text::Form::Ansi;
  // Set when the file began with a byte-order mark; the mark stood on the first line.
  bool m_marked = false;
  std::u16string m_text;
  // Whether saving writes m_text as it stands: loaded from a file whose every line ended
  // in CR LF and kept all its text, and not changed since.
  bool m_textIsRendered = true;
  // Where the sections' lines and indexes live; made with the first section.
  std::unique_ptr<text::Arena> m_arena;
};

}  // namespace iniplugin::inidoc
