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
#include <string>
#include <string_view>
#include <vector>

#include "inidoc/FlatIndex.h"
#include "inidoc/TextForm.h"

namespace iniplugin {

class IniFileReader {
 public:
  // A stretch of the document's text.
  struct Span {
    std::uint32_t pos = 0;
    std::uint32_t len = 0;
  };

  // One line of a section: an entry (key=value) or a raw line (comment, blank, no "=").
  struct Value {
    // Entry: the text before the first "=", leading spaces dropped, trailing kept.
    // Raw line: the line's text.
    Span m_key;
    // Entry: everything after the first "=". Raw line: empty.
    Span m_value;
    bool m_raw = false;
  };

  // A header line and the lines that follow it up to the next header.
  struct Section {
    // The line that opened the section, as read, without its line end.
    Span m_header;
    // Entries by lower-cased key (record numbers into m_values).
    inidoc::FlatIndex m_valueMap;
    std::vector<Value> m_values;
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

  // Replaces the document with the file at `path`. Returns false, leaving the document as
  // it was, when the file cannot be read or cannot be held without loss (see DecodeFile).
  bool Load(const std::u16string& path);
  // The same for a file's bytes already in memory.
  bool LoadBytes(std::string_view bytes);

  // Finds `key` in `section` (both matched without regard to case, neither trimmed) and
  // copies the entry's value text into `value`. Returns false, with `value` unchanged,
  // when either is missing.
  bool GetValue(std::u16string_view section, std::u16string_view key,
                std::u16string& value) const;

  // Sets `key` in `section`, adding the section at the end of the document and the key at
  // the end of its section when missing. An existing key keeps its written form.
  void SetValue(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // The bytes Save writes: the form's mark, then every line followed by CR LF.
  std::string Serialize() const;

  // Writes the document to `path` in the form it was read in (a document never loaded is
  // ANSI), every line ending in CR LF. The old file stays intact unless the whole new one
  // was written. Returns false when the file cannot be written; the document is unchanged.
  bool Save(const std::u16string& path) const;

  // True when the file last loaded was UTF-16 (it began with FF FE).
  bool IsUnicode() const { return m_unicode; }
  inidoc::TextForm Form() const { return m_form; }

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
  std::u16string_view Text(Span span) const { return {m_text.data() + span.pos, span.len}; }
  Span Append(std::u16string_view text);
  std::uint32_t FindSection(std::u16string_view name) const;
  std::uint32_t FindEntry(const Section& section, std::u16string_view key) const;
  void IndexSection(std::uint32_t number);
  void IndexEntry(Section& section, std::uint32_t number);
  void Parse();

  inidoc::FlatIndex m_sectionMap;
  std::vector<Section> m_sections;
  bool m_unicode = false;
  inidoc::TextForm m_form = inidoc::TextForm::Ansi;
  // Set when the file began with a byte-order mark; the mark stood on the first line.
  bool m_marked = false;
  std::u16string m_text;
};

}  // namespace iniplugin
