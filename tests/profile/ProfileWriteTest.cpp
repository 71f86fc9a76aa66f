// Writes through the profile functions. Each row gives a file, the writes and the exact
// bytes the portable writer leaves: only the line it sets changes (or one line is added,
// or the deleted lines go), everything else stays byte for byte. The platform's own writer
// under Wine rewrites the whole file in its own layout, so in the Windows build the two
// results are compared by what they read back, through both readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "ProfileApi.h"
#include "ProfileCorpus.h"
#include "platform/replace.h"
#include "support/Files.h"

namespace iniplugin::test {
namespace {

using namespace std::string_literals;

struct Step {
  const char16_t* section;
  const char16_t* key;
  const char16_t* value;
  BOOL result = TRUE;
};

enum class Wine {
  Same,
  // Wine rewrites a file it could only read with losses (broken UTF-8, NUL bytes, a
  // stray last byte of UTF-16), destroying the bytes it did not understand, and a
  // big-endian UTF-16 file, which Windows' own functions read as ANSI bytes and the
  // document cannot hold; we refuse the write.
  RewritesWhatItCouldNotRead,
  // Deleting a key or section of a missing file leaves an empty file on Windows; Wine
  // makes none.
  MakesNoFileForADelete,
  // Wine reads the file's headers otherwise than Windows (see ProfileReadTest): the empty
  // section name is its lines before the first header, a name ends at the last "]", and a
  // "[" line without "]" opens no section. Only the results are compared.
  ReadsHeadersOtherwise,
  // Wine trims every blank, not only spaces, from the names it is given, and writes the
  // key under the section those names find. Only the results are compared.
  TrimsEveryBlankOfAName,
};

struct WriteRow {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file
  std::vector<Step> steps;
  std::optional<std::string> after;
  Wine wine = Wine::Same;
};

const std::string kLayout = "; head\r\n\r\n[S]\r\n  k = old  ; c\r\nj=2\r\n\r\n; tail\r\n[T]\r\n";

const std::vector<WriteRow>& Rows() {
  static const std::vector<WriteRow> rows = {
      {"replace_keeps_every_other_byte", kLayout, {{u"S", u"k", u"new"}},
       "; head\r\n\r\n[S]\r\n  k = new\r\nj=2\r\n\r\n; tail\r\n[T]\r\n"},
      {"add_key_after_last_entry_of_section", kLayout, {{u"S", u"n", u"added"}},
       "; head\r\n\r\n[S]\r\n  k = old  ; c\r\nj=2\r\nn=added\r\n\r\n; tail\r\n[T]\r\n"},
      {"new_keys_go_above_closing_comments", ";0\r\n[S]\r\n;1\r\nb=v\r\n;2\r\na=v\r\n",
       {{u"S", u"z", u""}, {u"S", u";x", u""}, {u"S", u"y", u""}, {u"S", u"a", u""},
        {u"S", u"b", u""}},
       ";0\r\n[S]\r\n;1\r\nb=\r\n;2\r\na=\r\nz=\r\ny=\r\n;x=\r\n"},
      {"comment_keys_go_above_earlier_ones", "",
       {{u"S", u"z", u""}, {u"S", u";y", u""}, {u"S", u"a", u""}, {u"S", u";b", u""},
        {u"S", u";c", u""}},
       "[S]\r\nz=\r\na=\r\n;c=\r\n;b=\r\n;y=\r\n"},
      {"add_key_under_header_above_comments", "[S]\r\n;c\r\n[T]\r\n", {{u"S", u"k", u"1"}},
       "[S]\r\nk=1\r\n;c\r\n[T]\r\n"},
      {"add_key_keeps_blank_line_before_next_section", "[S]\r\nk=1\r\n\r\n[T]\r\n",
       {{u"S", u"n", u"2"}}, "[S]\r\nk=1\r\nn=2\r\n\r\n[T]\r\n"},
      {"add_key_to_empty_last_section", "[S]\r\nk=1\r\n[T]\r\n", {{u"T", u"n", u"1"}},
       "[S]\r\nk=1\r\n[T]\r\nn=1\r\n"},
      {"add_section_at_end", "[S]\r\nk=1\r\n", {{u"U", u"k", u"v"}},
       "[S]\r\nk=1\r\n[U]\r\nk=v\r\n"},
      {"create_missing_file", std::nullopt, {{u"S", u"k", u"v"}}, "[S]\r\nk=v\r\n"},
      {"create_missing_file_empty_section", std::nullopt, {{u"", u"k", u"v"}}, "[]\r\nk=v\r\n",
       Wine::ReadsHeadersOtherwise},
      {"write_into_empty_file", "", {{u"S", u"k", u"v"}}, "[S]\r\nk=v\r\n"},
      {"delete_key", "[S]\r\na=1\r\nb=2\r\nc=3\r\n", {{u"S", u"b", nullptr}},
       "[S]\r\na=1\r\nc=3\r\n"},
      {"delete_what_is_missing_changes_nothing", "[S]\r\na=1\r\n",
       {{u"S", u"zz", nullptr}, {u"Q", u"zz", nullptr}, {u"Q", nullptr, nullptr}},
       "[S]\r\na=1\r\n"},
      {"delete_in_missing_file_makes_an_empty_one", std::nullopt,
       {{u"S", u"k", nullptr}, {u"S", nullptr, nullptr}}, "", Wine::MakesNoFileForADelete},
      {"delete_section", "; top\r\n[S]\r\na=1\r\n; c\r\n\r\n[T]\r\nb=2\r\n",
       {{u"S", nullptr, nullptr}}, "; top\r\n; c\r\n[T]\r\nb=2\r\n"},
      {"delete_section_ignores_value", "[S]\r\nk=1\r\n[T]\r\nx=1\r\n", {{u"T", nullptr, u"x"}},
       "[S]\r\nk=1\r\n"},
      {"delete_first_of_duplicate_sections", "[S]\r\na=1\r\n[S]\r\na=2\r\n",
       {{u"S", nullptr, nullptr}}, "[S]\r\na=2\r\n"},
      {"delete_empty_section_name_keeps_lines_before_headers", "a=1\r\n[S]\r\nk=1\r\n",
       {{u"", nullptr, nullptr}, {u"", u"a", nullptr}}, "a=1\r\n[S]\r\nk=1\r\n",
       Wine::ReadsHeadersOtherwise},
      {"delete_empty_section_name", "a=1\r\n[]\r\nb=2\r\n[S]\r\n", {{u"", nullptr, nullptr}},
       "a=1\r\n[S]\r\n", Wine::ReadsHeadersOtherwise},
      {"replace_first_of_duplicate_keys", "[S]\r\nk=1\r\nK=2\r\n", {{u"S", u"K", u"3"}},
       "[S]\r\nk=3\r\nK=2\r\n"},
      {"set_entry_without_equals", "[T]\r\nx\r\ny=1\r\n", {{u"T", u"x", u"5"}},
       "[T]\r\nx=5\r\ny=1\r\n"},
      {"replace_empty_values", "[S]\r\nk=\r\nj=  \r\n", {{u"S", u"k", u"1"}, {u"S", u"j", u"2"}},
       "[S]\r\nk=1\r\nj=2\r\n"},
      {"replace_quoted_value", "[S]\r\nk = \"old\" \r\n", {{u"S", u"k", u"new"}},
       "[S]\r\nk = new\r\n"},
      {"names_match_without_case", "[Sec]\r\nKey=1\r\n", {{u"sEC", u"kEY", u"2"}},
       "[Sec]\r\nKey=2\r\n"},
      {"names_lose_their_spaces", "[S]\r\n", {{u" T ", u" key ", u"x"}, {u" S ", u"k ", u"1"}},
       "[S]\r\nk=1\r\n[T]\r\nkey=x\r\n"},
      {"names_keep_other_blanks", "[S]\r\nk=0\r\n", {{u"S\t", u"\vk", u"1"}, {u"S", u"k\t", u"2"}},
       "[S]\r\nk=0\r\nk\t=2\r\n[S\t]\r\n\vk=1\r\n", Wine::TrimsEveryBlankOfAName},
      {"comment_keys_are_never_found", "[S]\r\n;k=0\r\n",
       {{u"S", u";k", u"1"}, {u"S", u";k", u"2"}, {u"S", u";k", nullptr}},
       "[S]\r\n;k=2\r\n;k=1\r\n;k=0\r\n"},
      {"value_written_as_given", "[S]\r\nk=1\r\n",
       {{u"S", u"k", u"  spaced  "}, {u"S", u"q", u"\"q\""}, {u"S", u"e", u""}},
       "[S]\r\nk=  spaced  \r\nq=\"q\"\r\ne=\r\n"},
      {"line_breaks_in_value_written_as_given", "[S]\r\nk=1\r\n", {{u"S", u"k", u"a\r\nb=c"}},
       "[S]\r\nk=a\r\nb=c\r\n"},
      {"equals_in_key_written_as_given", "[S]\r\n", {{u"S", u"k=z", u"1"}}, "[S]\r\nk=z=1\r\n"},
      {"bracket_in_section_written_as_given", "[S]\r\n", {{u"S]", u"k", u"1"}},
       "[S]\r\n[S]]\r\nk=1\r\n", Wine::ReadsHeadersOtherwise},
      {"empty_section_name_writes_a_bracket_section", "[S]\r\nk=1\r\n",
       {{u"", u"top", u"1"}, {u"", u"top", u"2"}}, "[S]\r\nk=1\r\n[]\r\ntop=2\r\n",
       Wine::ReadsHeadersOtherwise},
      {"empty_section_name_leaves_lines_before_headers", "; c\r\na=0\r\n\r\n[S]\r\n",
       {{u"", u"a", u"1"}}, "; c\r\na=0\r\n\r\n[S]\r\n[]\r\na=1\r\n", Wine::ReadsHeadersOtherwise},
      {"empty_section_name_finds_its_section", "top=0\r\n[]\r\nk=1\r\n[S]\r\n",
       {{u" ", u"k", u"2"}}, "top=0\r\n[]\r\nk=2\r\n[S]\r\n", Wine::ReadsHeadersOtherwise},
      {"write_under_unclosed_header", "[S]\r\n[T\r\nk=1\r\n", {{u"T", u"k", u"2"}},
       "[S]\r\n[T\r\nk=2\r\n", Wine::ReadsHeadersOtherwise},
      {"ctrl_z_is_a_blank", "[S]\r\na=1\x1A" "2\r\n\x1A",
       {{u"S", u"b", u"2"}, {u"S", u"a", u"3\x1A"}}, "[S]\r\na=3\x1A\r\nb=2\r\n\x1A"},
      {"flush_and_null_section_answer_false", "[S]\r\nk=1\r\n",
       {{nullptr, nullptr, nullptr, FALSE}, {nullptr, u"k", u"v", FALSE}}, "[S]\r\nk=1\r\n"},
      {"lf_file_gets_lf_lines", "[S]\nk=1\n",
       {{u"S", u"j", u"2"}, {u"S", u"k", u"3"}, {u"U", u"a", u"b"}}, "[S]\nk=3\nj=2\n[U]\na=b\n"},
      {"cr_file_gets_cr_lines", "[S]\rk=1\r", {{u"S", u"j", u"2"}}, "[S]\rk=1\rj=2\r"},
      {"last_line_without_break", "[S]\r\nk=1", {{u"S", u"k", u"5"}, {u"S", u"j", u"2"}},
       "[S]\r\nk=5\r\nj=2\r\n"},
      {"rewritten_last_line_gets_a_break", "[S]\r\nk=1", {{u"S", u"k", u"5"}}, "[S]\r\nk=5\r\n"},
      {"last_section_header_without_break", "[S]", {{u"S", u"k", u"1"}}, "[S]\r\nk=1\r\n"},
      {"top_level_only_without_break", "x=1", {{u"S", u"k", u"1"}}, "x=1\r\n[S]\r\nk=1\r\n",
       Wine::ReadsHeadersOtherwise},
      {"utf16_stays_utf16", Utf16File(u"[S]\r\nk=1\r\n"),
       {{u"S", u"k", u"\u00E4\u0391\u20AC"}, {u"S", u"n", u"\u4E2D"}},
       Utf16File(u"[S]\r\nk=\u00E4\u0391\u20AC\r\nn=\u4E2D\r\n")},
      {"utf16_new_section", Utf16File(u"[S]\r\nk=1"), {{u"T", u"x", u"y"}},
       Utf16File(u"[S]\r\nk=1\r\n[T]\r\nx=y\r\n")},
      {"utf16_mark_only", "\xFF\xFE", {{u"S", u"k", u"v"}}, Utf16File(u"\r\n[S]\r\nk=v\r\n")},
      {"utf8_mark_stays_utf8", "\xEF\xBB\xBF[S]\r\nk=1\r\n", {{u"S", u"k", u"\u00E4\u0391\u20AC"}},
       "\xEF\xBB\xBF[S]\r\nk=\xC3\xA4\xCE\x91\xE2\x82\xAC\r\n"},
      {"ansi_writes_what_the_code_page_holds", "[S]\r\nk=1\r\n",
       {{u"S", u"k", u"\u00E4\u0391\u20AC"}}, "[S]\r\nk=\xE4?\x80\r\n"},
      {"ansi_keeps_high_bytes_elsewhere", "[\xC4]\r\na=\x81\x8D\x8F\x90\x9D\xFF\r\nk=1\r\n",
       {{u"\u00C4", u"k", u"2"}}, "[\xC4]\r\na=\x81\x8D\x8F\x90\x9D\xFF\r\nk=2\r\n"},
      {"utf16be_is_not_rewritten", Utf16BigEndianFile(u"[S]\r\nk=1\r\n"),
       {{u"S", u"k", u"\u00E4\u20AC", FALSE}}, Utf16BigEndianFile(u"[S]\r\nk=1\r\n"),
       Wine::RewritesWhatItCouldNotRead},
      {"broken_utf8_is_not_rewritten", "\xEF\xBB\xBF[S]\r\nk=\xC3\r\n",
       {{u"S", u"k", u"v", FALSE}}, "\xEF\xBB\xBF[S]\r\nk=\xC3\r\n",
       Wine::RewritesWhatItCouldNotRead},
      {"ansi_with_nul_is_not_rewritten", "[S]\r\na=1\0x\r\n"s, {{u"S", u"b", u"2", FALSE}},
       "[S]\r\na=1\0x\r\n"s, Wine::RewritesWhatItCouldNotRead},
      {"nul_before_first_section_is_not_rewritten", "Data \0 before \0 first \0 section"s,
       {{u"section1", u"key1", u"string1", FALSE}}, "Data \0 before \0 first \0 section"s,
       Wine::RewritesWhatItCouldNotRead},
      {"utf16_odd_length_is_not_rewritten", Utf16File(u"[S]\r\nk=1\r\n") + "\n",
       {{u"S", u"k", u"2", FALSE}}, Utf16File(u"[S]\r\nk=1\r\n") + "\n",
       Wine::RewritesWhatItCouldNotRead},
      {"build_up_a_file", std::nullopt,
       {{u"A", u"a", u"1"},
        {u"B", u"b", u"2"},
        {u"A", u"c", u"3"},
        {u"B", u"b", u"4"},
        {u"A", u"a", nullptr},
        {u"C", u"c", u"5"},
        {u"B", nullptr, nullptr}},
       "[A]\r\nc=3\r\n[C]\r\nc=5\r\n"},
  };
  return rows;
}

std::optional<std::string> FileBytes(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return std::nullopt;
  return ReadBytes(path);
}

std::string Printable(const std::optional<std::string>& bytes) {
  if (!bytes) return "(no file)";
  std::string out;
  for (unsigned char c : *bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// What a reader makes of a file: every listed section (and the unnamed one) with every
// listed key and its value.
std::string Dump(const ProfileApi& api, const std::u16string& file) {
  constexpr DWORD kRoom = 65536;
  // Read what is in the file, not what a writer still holds of it.
  api.write(nullptr, nullptr, nullptr, file.c_str());
  std::vector<std::u16string> sections =
      Names(Answer(Read(api, nullptr, nullptr, u"", kRoom, file)));
  sections.insert(sections.begin(), u"");
  std::string dump;
  for (const std::u16string& section : sections) {
    dump += "[" + Narrow(section) + "]\n";
    for (const std::u16string& key :
         Names(Answer(Read(api, section.c_str(), nullptr, u"", kRoom, file)))) {
      dump += Narrow(key) + "=" +
              Narrow(Answer(Read(api, section.c_str(), key.c_str(), u"", kRoom, file))) + "\n";
    }
  }
  return dump;
}

// Applies the row's writes to `path` through `api`, then flushes them to the file;
// returns the results.
std::vector<BOOL> Apply(const ProfileApi& api, const WriteRow& row,
                        const std::filesystem::path& path) {
  if (row.before) WriteBytes(path, *row.before);
  const std::u16string file = U16Path(path);
  std::vector<BOOL> results;
  for (const Step& step : row.steps) {
    results.push_back(api.write(step.section, step.key, step.value, file.c_str()) ? TRUE : FALSE);
  }
  api.write(nullptr, nullptr, nullptr, file.c_str());
  return results;
}

std::vector<BOOL> ExpectedResults(const WriteRow& row) {
  std::vector<BOOL> results;
  for (const Step& step : row.steps) results.push_back(step.result);
  return results;
}

TEST(ProfileWriteTest, PortableWriterChangesOnlyWhatItWrites) {
  TempDir dir;
  for (const WriteRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    const std::filesystem::path path = dir / (std::string(row.name) + ".ini");
    EXPECT_EQ(Apply(PortableProfile(), row, path), ExpectedResults(row));
    EXPECT_EQ(Printable(FileBytes(path)), Printable(row.after));
  }
  // Every temporary file went away with its rename.
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().extension(), ".ini") << entry.path();
  }
}

// In the native build the SDK names forward to the portable writer: same results, same
// bytes. Under Wine the platform's writer must leave files that read back as ours do.
TEST(ProfileWriteTest, SystemWriterAgreesOnWhatTheFileHolds) {
  TempDir dir;
  for (const WriteRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    const std::filesystem::path ours = dir / (std::string(row.name) + ".ini");
    const std::filesystem::path theirs = dir / (std::string(row.name) + ".system.ini");
    Apply(PortableProfile(), row, ours);
    const std::vector<BOOL> results = Apply(SystemProfile(), row, theirs);
    if (!SystemProfileIsPlatformOwn()) {
      EXPECT_EQ(results, ExpectedResults(row));
      EXPECT_EQ(Printable(FileBytes(theirs)), Printable(row.after));
      continue;
    }
    if (row.wine == Wine::ReadsHeadersOtherwise || row.wine == Wine::TrimsEveryBlankOfAName) {
      EXPECT_EQ(results, ExpectedResults(row));
      continue;
    }
    const std::string readByPlatform = Dump(SystemProfile(), U16Path(ours));
    EXPECT_EQ(Dump(PortableProfile(), U16Path(ours)), readByPlatform);
    if (row.wine != Wine::MakesNoFileForADelete) {
      EXPECT_EQ(std::filesystem::exists(theirs), row.after.has_value());
    }
    switch (row.wine) {
      case Wine::MakesNoFileForADelete:
        EXPECT_EQ(results, ExpectedResults(row));
        EXPECT_FALSE(std::filesystem::exists(theirs)) << "Wine now makes the file Windows makes";
        break;
      case Wine::Same:
        EXPECT_EQ(results, ExpectedResults(row));
        EXPECT_EQ(Dump(SystemProfile(), U16Path(theirs)), readByPlatform);
        break;
      case Wine::RewritesWhatItCouldNotRead:
        EXPECT_EQ(results, std::vector<BOOL>(row.steps.size(), TRUE));
        EXPECT_NE(FileBytes(theirs), row.before) << "Wine no longer rewrites such files";
        break;
      case Wine::ReadsHeadersOtherwise:
      case Wine::TrimsEveryBlankOfAName:
        break;
    }
  }
}

// Wine crashes on a value with neither section nor key, so only ours is asked.
TEST(ProfileWriteTest, ValueWithoutSectionOrKeyIsRefused) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  WriteBytes(path, "[S]\r\nk=1\r\n");
  EXPECT_FALSE(PortableProfile().write(nullptr, nullptr, u"v", U16Path(path).c_str()));
  EXPECT_FALSE(PortableProfile().write(u"S", u"k", u"v", nullptr));
  EXPECT_EQ(ReadBytes(path), "[S]\r\nk=1\r\n");
}

TEST(ProfileWriteTest, WriteIntoMissingFolderFails) {
  TempDir dir;
  const std::u16string file = U16Path(dir / "no folder" / "a.ini");
  for (const ProfileApi* api : {&PortableProfile(), &SystemProfile()}) {
    EXPECT_FALSE(api->write(u"S", u"k", u"v", file.c_str())) << api->name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "no folder"));
}

// Writes reach the file at the flush call. One that fails part-way there (a full disk)
// leaves the old file, byte for byte, with no temporary file beside it; the reader then
// answers from the old file again. (The navigator's Commit writes the value once more and
// reports the failure; the flush call itself has no way to.)
TEST(ProfileWriteTest, PortableWriteThatFailsLeavesTheOldFile) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  const std::string before = "[S]\r\nk=old\r\n" + std::string(5000, ';') + "\r\n";
  for (const std::string& bytes : {before, Utf16File(u"[S]\r\nk=old\r\n")}) {
    WriteBytes(path, bytes);
    for (long long failAfter : {0LL, 1LL, static_cast<long long>(bytes.size()) - 1}) {
      SCOPED_TRACE(failAfter);
      EXPECT_TRUE(PortableProfile().write(u"S", u"k", u"new", file.c_str()));
      platform::SetWriteFailureForTesting(failAfter);
      PortableProfile().write(nullptr, nullptr, nullptr, file.c_str());
      platform::SetWriteFailureForTesting(-1);
      EXPECT_EQ(ReadBytes(path), bytes);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                              std::filesystem::directory_iterator()),
                1);
      char16_t value[16];
      PortableProfile().read(u"S", u"k", u"", value, 16, file.c_str());
      EXPECT_EQ(std::u16string(value), u"old");
    }
  }
}

}  // namespace
}  // namespace iniplugin::test
