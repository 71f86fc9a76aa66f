// Reads through the profile functions on the shared corpus. Every row holds the answer
// the platform gives; the portable functions must give it in both builds, and in the
// Windows build the platform's own functions (under Wine) are held to the same rows.
// Where Wine is plainly wrong the row names the difference, and the test checks that
// Wine still differs exactly so.
#include <gtest/gtest.h>

#include <map>

#include "ProfileApi.h"
#include "ProfileCorpus.h"
#include "support/Files.h"

namespace iniplugin::test {
namespace {

using namespace std::string_literals;

constexpr DWORD kBig = 200;
constexpr const char* kMissing = "missing.ini";  // never written

enum class Wine {
  Same,
  // A quoted value (or default) in a buffer of exactly its length plus one comes back one
  // character short.
  QuotedCutShort,
  // With a null key and a missing file or section, a one-character buffer gets a second
  // terminator written past its end.
  WritesPastOneCharBuffer,
  // Wine reads the file otherwise than Windows and gives the row's wineAnswer: it answers
  // the empty section name from the lines before the first header, not from a "[]"
  // section; it ends a header's name at the last "]", not the first; and it opens no
  // section with a "[" line that has no "]".
  Answers,
  // A UTF-16 file's stray last byte: Wine makes a character of it and the byte past the
  // end of its buffer, whatever that holds; the rest of the answer is the row's.
  ReadsPastTheEnd,
};

struct ReadRow {
  const char* file;
  const char16_t* section;
  const char16_t* key;
  const char16_t* defaultText;
  DWORD size;
  // The buffer up to the final terminator, which the result counts.
  std::u16string expected;
  Wine wine = Wine::Same;
  std::u16string wineAnswer;  // under Wine::Answers
};

std::string Describe(const ReadRow& row) {
  auto show = [](const char16_t* text) { return text ? "\"" + Narrow(text) + "\"" : "null"s; };
  return std::string(row.file) + " (" + show(row.section) + ", " + show(row.key) + ", " +
         show(row.defaultText) + ", " + std::to_string(row.size) + ")";
}

const std::vector<ReadRow>& Rows() {
  static const std::vector<ReadRow> rows = {
      // Values, and the buffer sizes around them.
      {"basic.ini", u"S", u"key", u"", kBig, u"value"},
      {"basic.ini", u"S", u"key", u"", 6, u"value"},
      {"basic.ini", u"S", u"key", u"", 5, u"valu"},
      {"basic.ini", u"S", u"key", u"", 2, u"v"},
      {"basic.ini", u"S", u"key", u"", 1, u""},
      {"basic.ini", u"s", u"KEY", u"", kBig, u"value"},
      {"basic.ini", u"S", u"q", u"", kBig, u"quoted"},
      {"basic.ini", u"S", u"q", u"", 7, u"quoted", Wine::QuotedCutShort},
      {"basic.ini", u"S", u"q", u"", 6, u"quote"},
      // Name lists: a null key lists the section's keys, a null section every section.
      {"basic.ini", u"S", nullptr, u"", kBig, u"key\0q\0k2\0"s},
      {"basic.ini", u"S", nullptr, u"", 11, u"key\0q\0k2\0"s},
      {"basic.ini", u"S", nullptr, u"", 10, u"key\0q\0k2"s},
      {"basic.ini", u"S", nullptr, u"", 6, u"key\0"s},
      {"basic.ini", u"S", nullptr, u"", 3, u"k"},
      {"basic.ini", u"S", nullptr, u"-", 2, u"", Wine::Answers, u"-"},
      {"basic.ini", u"S", nullptr, u"", 1, u""},
      {"basic.ini", u"T", nullptr, u"x y", kBig, u"x\0"s},
      {"basic.ini", nullptr, nullptr, u"", kBig, u"S\0T\0"s},
      {"basic.ini", nullptr, nullptr, u"", 6, u"S\0T\0"s},
      {"basic.ini", nullptr, nullptr, u"", 5, u"S\0T"s},
      {"basic.ini", nullptr, nullptr, u"dflt", 2, u""},
      {"basic.ini", nullptr, u"key", u"", kBig, u"S\0T\0"s},
      // The default text.
      {"basic.ini", u"U", u"key", u"dflt", kBig, u"dflt"},
      {"basic.ini", u"U", nullptr, u"dflt", kBig, u"dflt"},
      {"basic.ini", u"S", u"missing", u"dflt  ", kBig, u"dflt"},
      {"basic.ini", u"S", u"missing", u"  dflt", kBig, u"  dflt"},
      {"basic.ini", u"S", u"missing", u"\tdflt\v", kBig, u"\tdflt\v"},
      {"basic.ini", u"S", u"missing", u"\"dflt\"", kBig, u"dflt"},
      {"basic.ini", u"S", u"missing", nullptr, kBig, u""},
      {"basic.ini", u"S", u"missing", u"dflt", 3, u"df"},
      {"basic.ini", u"S", u"missing", u"\"ab\"", 3, u"ab", Wine::QuotedCutShort},
      // Case and blanks.
      {"case_of_names.ini", u"mixed", u"KEY", u"-", kBig, u"v"},
      {"case_of_names.ini", nullptr, nullptr, u"-", kBig, u"MiXed\0"s},
      {"case_of_names.ini", u"MIXED", nullptr, u"-", kBig, u"Key\0"s},
      {"blanks_around_names.ini", u"Spaced Section", u"spaced key", u"-", kBig, u"padded value"},
      // Only spaces are blanks in a caller's names: the file's tabs are trimmed, its own not.
      {"blanks_around_names.ini", u" Spaced Section ", u" spaced key ", u"-", kBig,
       u"padded value"},
      {"blanks_around_names.ini", u"Spaced Section", u"\tspaced key", u"-", kBig, u"-",
       Wine::Answers, u"padded value"},
      {"blanks_around_names.ini", u"Spaced  Section", u"spaced key", u"-", kBig, u"-"},
      {"blanks_around_names.ini", u"Spaced Section", u"tab", u"-", kBig, u"t"},
      {"blanks_around_names.ini", nullptr, nullptr, u"-", kBig, u"Spaced Section\0"s},
      {"blanks_around_names.ini", u"Spaced Section", nullptr, u"-", kBig, u"spaced key\0Tab\0"s},
      {"blank_kinds.ini", u"\tS\v", u"v", u"-", kBig, u"-", Wine::Answers, u"1"},
      {"blank_kinds.ini", u"S", u"c", u"-", kBig, u"\x1C" u"x\x1F"},
      {"blank_kinds.ini", u"S", nullptr, u"-", kBig, u"v\0c\0"s},
      // Quotes.
      {"quotes.ini", u"S", u"dq", u"-", kBig, u"quoted"},
      {"quotes.ini", u"S", u"sq", u"-", kBig, u"single"},
      {"quotes.ini", u"S", u"sq", u"-", 7, u"single", Wine::QuotedCutShort},
      {"quotes.ini", u"S", u"open", u"-", kBig, u"\"unbalanced"},
      {"quotes.ini", u"S", u"open", u"-", 12, u"\"unbalanced"},
      {"quotes.ini", u"S", u"inner", u"-", kBig, u"a\"b"},
      {"quotes.ini", u"S", u"lone", u"-", kBig, u"\""},
      {"quotes.ini", u"S", u"empty", u"-", kBig, u""},
      {"quotes.ini", u"S", u"spaced", u"-", kBig, u" x "},
      {"quotes.ini", u"S", u"mixed", u"-", kBig, u"\"ab'"},
      {"quotes.ini", u"S", u"ab", u"-", 4, u"ab"},
      {"quotes.ini", u"S", u"ab", u"-", 3, u"ab", Wine::QuotedCutShort},
      {"quotes.ini", u"S", u"ab", u"-", 2, u"a"},
      // Comments, also after blanks: never found, never listed.
      {"comments.ini", u"S", u";c", u"-", kBig, u"-", Wine::Answers, u"comment"},
      {"comments.ini", u"S", u";d", u"-", kBig, u"-", Wine::Answers, u"2"},
      {"comments.ini", u"S", u"#h", u"-", kBig, u"hash"},
      {"comments.ini", u"S", nullptr, u"-", kBig, u"#h\0k\0"s},
      {"comments.ini", u"S", u"; tail", u"-", kBig, u"-"},
      {"comments.ini", u"", nullptr, u"-", kBig, u"-"},
      {"comment_before_sections.ini", u"", u";k", u"-", kBig, u"-", Wine::Answers, u"1"},
      {"comment_before_sections.ini", u"", nullptr, u"-", kBig, u"-"},
      {"comment_before_sections.ini", nullptr, nullptr, u"-", kBig, u"S\0"s},
      // Lines without "=": entries without a value, found first, never listed.
      {"entries_without_equals.ini", u"T", u"x", u"-", kBig, u"-"},
      {"entries_without_equals.ini", u"T", u"y", u"-", kBig, u"2"},
      {"entries_without_equals.ini", u"T", u"noeq", u"-", kBig, u"-"},
      {"entries_without_equals.ini", u"T", nullptr, u"-", kBig, u"x\0y\0"s},
      {"entry_without_equals_only.ini", u"T", nullptr, u"-", kBig, u"-"},
      // Entries with an empty name.
      {"unnamed_entry_first.ini", u"T", nullptr, u"-", kBig, u"-"},
      {"unnamed_entry_first.ini", u"T", u"", u"-", kBig, u"a"},
      {"unnamed_entry_first.ini", u"T", u"  ", u"-", kBig, u"a"},
      {"unnamed_entry_later.ini", u"T", nullptr, u"-", kBig, u"b\0\0"s},
      {"unnamed_entry_runs.ini", u"T", nullptr, u"-", kBig, u"y\0\0z\0\0\0"s},
      {"unnamed_entry_runs.ini", u"T", u"", u"-", kBig, u"1"},
      {"only_blank_name.ini", u"S", u"  ", u"-", kBig, u"sp"},
      {"only_blank_name.ini", u"S", nullptr, u"-", kBig, u"-"},
      // Values.
      {"empty_values.ini", u"S", u"empty", u"dflt", kBig, u""},
      {"empty_values.ini", u"S", u"blank", u"dflt", kBig, u""},
      {"empty_values.ini", u"S", nullptr, u"dflt", kBig, u"empty\0blank\0k\0"s},
      {"equals_in_values.ini", u"S", u"c", u"-", kBig, u"x=y"},
      {"equals_in_values.ini", u"S", u"url", u"-", kBig, u"http://a/?b=c"},
      {"equals_in_values.ini", u"S", u"", u"-", kBig, u"="},
      {"equals_in_values.ini", u"S", nullptr, u"-", kBig, u"c\0url\0\0"s},
      {"inner_spaces.ini", u"S", u"key with space", u"-", kBig, u"v w"},
      {"inner_spaces.ini", u"S", u"key  with space", u"-", kBig, u"-"},
      {"inner_spaces.ini", u"S", u"tab", u"-", kBig, u"a\tb"},
      // Sections.
      // The empty name finds a "[]" section, never the lines before the first header.
      {"top_level_entries.ini", u"", u"top", u"-", kBig, u"-", Wine::Answers, u"level"},
      {"top_level_entries.ini", u" ", u"other", u"-", kBig, u"-", Wine::Answers, u"1"},
      {"top_level_entries.ini", u"", nullptr, u"-", kBig, u"-", Wine::Answers,
       u"top\0other\0"s},
      {"top_level_entries.ini", nullptr, nullptr, u"-", kBig, u"S\0"s},
      // A header's name ends at its first "]", or with the line where there is none.
      {"header_forms.ini", nullptr, nullptr, u"-", kBig, u"U\0V\0A\0[W\0X\0S=1\0"s,
       Wine::Answers, u"U\0A]x\0[W]\0X\0S=1\0"s},
      {"header_forms.ini", u"U", nullptr, u"-", kBig, u"c\0"s, Wine::Answers, u"c\0d\0"s},
      {"header_forms.ini", u"V", u"d", u"-", kBig, u"4", Wine::Answers, u"-"},
      {"header_forms.ini", u"Ujunk", u"c", u"-", kBig, u"-"},
      {"header_forms.ini", u"A", u"f", u"-", kBig, u"6", Wine::Answers, u"-"},
      {"header_forms.ini", u"A]x", u"f", u"-", kBig, u"-", Wine::Answers, u"6"},
      {"header_forms.ini", u"[W", u"g", u"-", kBig, u"7", Wine::Answers, u"-"},
      {"header_forms.ini", u"[W]", u"g", u"-", kBig, u"-", Wine::Answers, u"7"},
      {"header_forms.ini", u"X", u"h", u"-", kBig, u"8"},
      {"header_forms.ini", u"S=1", u"i", u"-", kBig, u"9"},
      {"indented_header.ini", u"S", u"k", u"-", kBig, u"1"},
      {"unnamed_sections.ini", nullptr, nullptr, u"-", kBig, u"S\0"s},
      {"unnamed_sections.ini", u"", u"e", u"-", kBig, u"5", Wine::Answers, u"-"},
      {"unnamed_sections.ini", u"", u"a", u"-", kBig, u"-", Wine::Answers, u"1"},
      {"unnamed_sections.ini", u"", u"f", u"-", kBig, u"-"},
      {"unnamed_sections.ini", u"", nullptr, u"-", kBig, u"e\0"s, Wine::Answers, u"a\0"s},
      {"unnamed_section_without_top.ini", u"", u"e", u"-", kBig, u"5", Wine::Answers, u"-"},
      {"unnamed_section_without_top.ini", nullptr, nullptr, u"-", kBig, u""},
      {"symbol_section_names.ini", nullptr, nullptr, u"-", kBig, u";S\0#T\0"s},
      {"symbol_section_names.ini", u";S", u"k", u"-", kBig, u"1"},
      {"duplicate_sections.ini", u"S", u"a", u"-", kBig, u"1"},
      {"duplicate_sections.ini", u"S", u"g", u"-", kBig, u"-"},
      {"duplicate_sections.ini", u"S", nullptr, u"-", kBig, u"a\0"s},
      {"duplicate_sections.ini", nullptr, nullptr, u"-", kBig, u"S\0T\0s\0"s},
      {"duplicate_keys.ini", u"S", u"K", u"-", kBig, u"1"},
      {"duplicate_keys.ini", u"S", nullptr, u"-", kBig, u"k\0K\0k\0"s},
      {"sections_differ_by_blanks.ini", u"S", u"k", u"-", kBig, u"1"},
      {"sections_differ_by_blanks.ini", nullptr, nullptr, u"-", kBig, u"S\0S\0"s},
      {"empty_section.ini", u"E", nullptr, u"none", kBig, u"none"},
      {"empty_section.ini", u"E", nullptr, u"", kBig, u""},
      {"comments_only_section.ini", u"C", nullptr, u"-", kBig, u"-"},
      {"quoted_key.ini", u"S", u"\"k\"", u"-", kBig, u"1"},
      {"quoted_key.ini", u"S", u"k", u"-", kBig, u"\""},
      {"quoted_key.ini", u"S", nullptr, u"-", kBig, u"\"k\"\0k\0"s},
      {"bracket_in_value.ini", u"S", u"k", u"-", kBig, u"[not a section]"},
      {"bracket_in_value.ini", u"T", u"j", u"-", kBig, u"2"},
      // Line ends.
      {"lf_line_ends.ini", u"S", u"k", u"-", kBig, u"lf"},
      {"cr_line_ends.ini", u"S", nullptr, u"-", kBig, u"k\0j\0"s},
      {"cr_line_ends.ini", u"S", u"k", u"-", kBig, u"cr"},
      {"mixed_line_ends.ini", u"S", nullptr, u"-", kBig, u"a\0b\0c\0d\0"s},
      {"no_final_line_break.ini", u"S", u"k", u"-", kBig, u"last"},
      {"cr_before_crlf.ini", u"S", u"k", u"-", kBig, u"1"},
      // Empty and missing files.
      {"empty.ini", nullptr, nullptr, u"-", kBig, u""},
      {"empty.ini", u"S", u"k", u"dflt", kBig, u"dflt"},
      {"empty.ini", u"S", nullptr, u"dflt", kBig, u"dflt"},
      {"blank_lines_only.ini", u"", nullptr, u"-", kBig, u"-"},
      {kMissing, u"S", u"k", u"dflt", kBig, u"dflt"},
      {kMissing, u"S", u"k", nullptr, kBig, u""},
      {kMissing, u"S", nullptr, u"dflt", kBig, u"dflt"},
      {kMissing, u"S", nullptr, u"dflt", 1, u"", Wine::WritesPastOneCharBuffer},
      {kMissing, nullptr, nullptr, u"dflt", kBig, u""},
      {"basic.ini", u"U", nullptr, u"dflt", 1, u"", Wine::WritesPastOneCharBuffer},
      // NUL ends a line's text.
      {"nul_in_line.ini", u"S", nullptr, u"-", kBig, u"a\0b\0"s},
      {"nul_in_line.ini", u"S", u"a", u"-", kBig, u"1"},
      {"nul_at_line_start.ini", u"T", u"b", u"-", kBig, u"-"},
      {"nul_at_line_start.ini", u"S", u"b", u"-", kBig, u"2"},
      {"nul_at_line_start.ini", nullptr, nullptr, u"-", kBig, u"S\0"s},
      {"utf16le_nul_in_line.ini", u"S", u"k", u"-", kBig, u"v"},
      {"utf16le_nul_in_line.ini", u"S", u"z", u"-", kBig, u"1"},
      {"nul_before_first_section.ini", u"section1", u"key1", u"-", kBig, u"string1"},
      {"nul_before_first_section.ini", u"", u"Data", u"-", kBig, u"-"},
      {"nul_before_first_section.ini", nullptr, nullptr, u"-", kBig, u"section1\0"s},
      // Ctrl-Z is a blank: trimmed around names and values, kept between other characters;
      // it ends neither a line nor the file.
      {"ctrl_z.ini", u"S", u"a", u"-", kBig, u"1\x1A" u"2"},
      {"ctrl_z.ini", u"S", nullptr, u"-", kBig, u"a\0b\0c\0"s},
      {"ctrl_z.ini", u"S", u"b", u"-", kBig, u"3"},
      {"ctrl_z.ini", u"S", u"c\x1A", u"-", kBig, u"-", Wine::Answers, u"4"},
      {"ctrl_z.ini", nullptr, nullptr, u"-", kBig, u"S\0T\0"s},
      {"ctrl_z.ini", u"T", u"d", u"-", kBig, u"5"},
      // A "[" line without "]" opens a section all the same, named by the rest of it.
      {"unclosed_header.ini", nullptr, nullptr, u"-", kBig, u"S\0T\0U=1\0"s, Wine::Answers,
       u"S\0"s},
      {"unclosed_header.ini", u"T", u"b", u"-", kBig, u"2", Wine::Answers, u"-"},
      {"unclosed_header.ini", u"S", u"b", u"-", kBig, u"-", Wine::Answers, u"2"},
      {"unclosed_header.ini", u"U=1", u"c", u"-", kBig, u"3", Wine::Answers, u"-"},
      {"unclosed_header.ini", u"", u"d", u"-", kBig, u"4", Wine::Answers, u"-"},
      // A UTF-16 file's stray last byte is no character.
      {"utf16le_odd_length.ini", u"S", u"j", u"-", kBig, u"w", Wine::ReadsPastTheEnd},
      {"utf16le_odd_length.ini", u"S", nullptr, u"-", kBig, u"k\0j\0"s},
      // An empty section name: Windows reads "[]", Wine the lines before the first header.
      {"empty_section_name.ini", u"", u"key", u"-", kBig, u"val_e_section", Wine::Answers,
       u"val_no_section"},
      {"empty_section_name.ini", u"s", u"", u"-", kBig, u"val_no_key"},
      {"empty_section_name.ini", nullptr, nullptr, u"-", kBig, u"s\0t\0"s},
      // Encodings; names fold A to Z only.
      {"ansi_1252.ini", u"Caf\u00E9", u"k", u"-", kBig, u"\u00E4\u20AC\u0178"},
      {"ansi_1252.ini", u"CAF\u00C9", u"k", u"-", kBig, u"-"},
      {"ansi_1252.ini", u"caf\u00E9", u"\u00C4", u"-", kBig, u"upper"},
      {"ansi_1252.ini", u"Caf\u00E9", u"\u00E4", u"-", kBig, u"-"},
      {"utf8_without_mark.ini", u"S", u"k", u"-", kBig, u"\u00C3\u00A4"},
      {"utf8_mark.ini", u"S", u"k", u"-", kBig, u"\u00E4\u20AC"},
      {"utf8_mark.ini", u"\u00C4", u"x", u"-", kBig, u"1"},
      {"utf8_mark.ini", u"\u00C4", u"emoji", u"-", kBig, u"\U0001F600"},
      {"utf8_mark.ini", nullptr, nullptr, u"-", kBig, u"S\0\u00C4\0"s},
      {"utf8_mark_only.ini", nullptr, nullptr, u"-", kBig, u""},
      {"utf8_mark_only.ini", u"S", u"k", u"d", kBig, u"d"},
      {"utf16le.ini", u"S", u"k", u"-", kBig, u"v\u00E4\u0391\u20AC"},
      {"utf16le.ini", u"\u00C4\u0391", u"x", u"-", kBig, u"1"},
      {"utf16le.ini", u"\u00E4\u03B1", u"x", u"-", kBig, u"-"},
      {"utf16le_non_ascii_case.ini", u"\u00E9", u"k", u"-", kBig, u"-"},
      {"utf16le_non_ascii_case.ini", u"\u00C9", u"k", u"-", kBig, u"1"},
      {"utf16le_non_ascii_case.ini", u"S", u"\u00C9", u"-", kBig, u"-"},
      {"utf16le_non_ascii_case.ini", u"S", u"\u03B1", u"-", kBig, u"4"},
      {"utf16le_unicode_blanks.ini", u"S", u"a", u"-", kBig, u"-"},
      {"utf16le_unicode_blanks.ini", u"S", u"\u00A0a\u00A0", u"-", kBig, u"\u3000x\u2003"},
      {"utf16le_unicode_blanks.ini", u"S", u"b", u"-", kBig, u"\u0085x\u2028"},
      {"utf16le_unicode_blanks.ini", u"S", u"c", u"-", kBig, u"\uFEFFx"},
      {"utf16le_mark_only.ini", nullptr, nullptr, u"-", kBig, u""},
      {"utf16be.ini", u"S", u"k", u"-", kBig, u"v\u00E4"},
      {"utf16le_without_mark.ini", u"S", u"k", u"-", kBig, u"-"},
      {"utf16le_without_mark.ini", nullptr, nullptr, u"-", kBig, u""},
      // Broken UTF-8 after the mark: each broken sequence is one U+FFFD.
      {"utf8_mark_broken.ini", u"S", u"k0", u"-", kBig, u"<\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k1", u"-", kBig, u"<\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k2", u"-", kBig, u"<\uFFFD\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k3", u"-", kBig, u"<\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k4", u"-", kBig, u"<\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k5", u"-", kBig, u"<\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k6", u"-", kBig, u"<\uFFFDA>"},
      {"utf8_mark_broken.ini", u"S", u"k7", u"-", kBig, u"<\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k8", u"-", kBig, u"<\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k9", u"-", kBig, u"<\uFFFD\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k10", u"-", kBig, u"<\uFFFD\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k11", u"-", kBig, u"<\u1000\uFFFD>"},
      {"utf8_mark_broken.ini", u"S", u"k12", u"-", kBig, u"<\uFFFD\u00A2>"},
      {"utf8_mark_broken.ini", u"S", u"end", u"-", kBig, u"\uFFFD"},
      // Size.
      {"long_value.ini", u"S", u"long", u"", 20000, std::u16string(10000, u'x') + u"y"},
      {"long_value.ini", u"S", u"long", u"", 100, std::u16string(99, u'x')},
      {"long_value.ini", u"S", u"next", u"", kBig, u"1"},
      {"large_section.ini", u"S", u"K", u"-", kBig, u"1"},
      {"large_section.ini", u"S", u";c", u"-", kBig, u"-", Wine::Answers, u"3"},
      {"large_section.ini", u"S", u"A39", u"-", kBig, u"39"},
      {"large_section.ini", u"S", u"last", u"-", kBig, u"6"},
      {"large_section.ini", u"S", u"a40", u"-", kBig, u"-"},
      {"large_section.ini", u"T", u"k", u"-", kBig, u"7"},
      {"many_sections.ini", u"Section199", u"key4", u"-", kBig, u"value 199.4"},
      {"many_sections.ini", u"section0", u"KEY0", u"-", kBig, u"value 0.0"},
      {"many_sections.ini", nullptr, nullptr, u"-", 10, u"Section0"},
  };
  return rows;
}

// The corpus written out once per test program run, as the files the rows name.
const std::u16string& CorpusPath(const std::string& name) {
  static TempDir dir;
  static std::map<std::string, std::u16string> paths;
  auto found = paths.find(name);
  if (found != paths.end()) return found->second;
  const std::filesystem::path path = dir / name;
  if (name != kMissing) WriteBytes(path, CorpusFileNamed(name).bytes);
  return paths.emplace(name, U16Path(path)).first->second;
}

::testing::AssertionResult AnswersAsTheRowSays(const ProfileApi& api, const ReadRow& row) {
  const bool platformOwn = &api == &SystemProfile() && SystemProfileIsPlatformOwn();
  std::u16string expected = row.expected;
  if (platformOwn && row.wine == Wine::QuotedCutShort) expected.pop_back();
  if (platformOwn && row.wine == Wine::Answers) expected = row.wineAnswer;
  const ReadOutcome outcome =
      Read(api, row.section, row.key, row.defaultText, row.size, CorpusPath(row.file));
  if (platformOwn && row.wine == Wine::ReadsPastTheEnd &&
      Answer(outcome).size() == expected.size() + 1 && Answer(outcome).starts_with(expected)) {
    expected = Answer(outcome);
  }
  if (outcome.result != expected.size() || Answer(outcome) != expected) {
    return ::testing::AssertionFailure()
           << api.name << ": expected " << expected.size() << " \"" << Narrow(expected)
           << "\", got " << outcome.result << " \"" << Narrow(Answer(outcome)) << "\"";
  }
  for (DWORD i = row.size; i < outcome.buffer.size(); ++i) {
    const bool overrunExpected =
        platformOwn && row.wine == Wine::WritesPastOneCharBuffer && i == row.size;
    if ((outcome.buffer[i] != kSentinel) != overrunExpected) {
      return ::testing::AssertionFailure()
             << api.name << ": character " << i << " past a buffer of " << row.size << " is "
             << (overrunExpected ? "untouched (Wine no longer overruns?)" : "overwritten");
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(ProfileReadTest, PortableFunctionsAnswerAsThePlatform) {
  for (const ReadRow& row : Rows()) {
    EXPECT_TRUE(AnswersAsTheRowSays(PortableProfile(), row)) << Describe(row);
  }
}

TEST(ProfileReadTest, SystemFunctionsAnswerAsTheTableSays) {
  for (const ReadRow& row : Rows()) {
    EXPECT_TRUE(AnswersAsTheRowSays(SystemProfile(), row)) << Describe(row);
  }
}

TEST(ProfileReadTest, ZeroSizedBufferIsLeftAlone) {
  for (const ProfileApi* api : {&PortableProfile(), &SystemProfile()}) {
    for (const char16_t* key : {u"key", static_cast<const char16_t*>(nullptr)}) {
      const ReadOutcome outcome = Read(*api, u"S", key, u"dflt", 0, CorpusPath("basic.ini"));
      EXPECT_EQ(outcome.result, 0u) << api->name;
      EXPECT_EQ(outcome.buffer, std::u16string(4, kSentinel)) << api->name;
    }
  }
}

TEST(ProfileReadTest, CorpusIsLargeEnough) { EXPECT_GE(ProfileCorpus().size(), 50u); }

// One read through both sets of functions must give the same result, the same answer
// and leave the same characters past the buffer alone.
::testing::AssertionResult ReadsAlike(const char16_t* section, const char16_t* key, DWORD size,
                                      const std::u16string& file, Wine wine = Wine::Same) {
  const ReadOutcome system = Read(SystemProfile(), section, key, u"dflt", size, file);
  const ReadOutcome portable = Read(PortableProfile(), section, key, u"dflt", size, file);
  std::u16string pastPortable = portable.buffer.substr(size);
  if (wine == Wine::WritesPastOneCharBuffer && size == 1) pastPortable[0] = u'\0';
  if (system.result == portable.result && Answer(system) == Answer(portable) &&
      system.buffer.substr(size) == pastPortable) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << (section ? Narrow(section) : "null") << ", " << (key ? Narrow(key) : "null")
         << ", " << size << "): platform " << system.result << " \"" << Narrow(Answer(system))
         << "\", portable " << portable.result << " \"" << Narrow(Answer(portable)) << "\"";
}

// Files Wine reads otherwise than Windows (Wine::Answers, Wine::ReadsPastTheEnd): the
// table holds what each gives.
bool WineReadsOtherwise(const std::string& file) {
  return file == "header_forms.ini" || file == "unclosed_header.ini" ||
         file == "utf16le_odd_length.ini";
}

// Every section list, key list and value of every corpus file, through both sets of
// functions, at the buffer sizes where cutting happens. Sizes of exactly a value's length
// plus one, a key list in two characters (Windows answers 0, Wine the default) and the
// empty section name are left to the table, which names Wine's differences there.
TEST(ProfileReadTest, PortableAndPlatformAgreeOnTheWholeCorpus) {
  if (!SystemProfileIsPlatformOwn()) GTEST_SKIP() << "no platform functions to compare with";
  constexpr DWORD kHuge = 20000;
  for (const CorpusFile& corpusFile : ProfileCorpus()) {
    if (WineReadsOtherwise(corpusFile.name)) continue;
    SCOPED_TRACE(corpusFile.name);
    const std::u16string& file = CorpusPath(corpusFile.name);
    auto listSizes = [](DWORD length) {
      return std::vector<DWORD>{kHuge, length + 2, length + 1, length, 3, 2, 1};
    };
    const ReadOutcome sections = Read(SystemProfile(), nullptr, nullptr, u"", kHuge, file);
    for (DWORD size : listSizes(sections.result)) {
      EXPECT_TRUE(ReadsAlike(nullptr, nullptr, size, file));
    }
    std::vector<std::u16string> sectionNames = Names(Answer(sections));
    const std::u16string missing = u"no such section";
    sectionNames.push_back(missing);
    for (const std::u16string& section : sectionNames) {
      const ReadOutcome keys = Read(SystemProfile(), section.c_str(), nullptr, u"", kHuge, file);
      for (DWORD size : listSizes(keys.result)) {
        if (size == 2 && section != missing) continue;
        EXPECT_TRUE(ReadsAlike(section.c_str(), nullptr, size, file,
                               section == missing ? Wine::WritesPastOneCharBuffer : Wine::Same));
      }
      std::vector<std::u16string> keyNames = Names(Answer(keys));
      keyNames.push_back(u"no such key");
      for (const std::u16string& key : keyNames) {
        const ReadOutcome value =
            Read(SystemProfile(), section.c_str(), key.c_str(), u"", kHuge, file);
        for (DWORD size : {kHuge, value.result + 2, value.result, DWORD{2}, DWORD{1}}) {
          if (size == 0) continue;
          EXPECT_TRUE(ReadsAlike(section.c_str(), key.c_str(), size, file));
        }
      }
    }
  }
}

}  // namespace
}  // namespace iniplugin::test
