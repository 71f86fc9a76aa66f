#include "inidoc/IniFileReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/simd.h"
#include "text/Encoding.h"

#include "support/Files.h"

namespace iniplugin {
namespace {

using test::Narrow;
using test::TempDir;
using test::U16Path;
using test::Utf16Bytes;
using test::WriteBytes;

struct Lookup {
  std::u16string section;
  std::u16string key;
  std::optional<std::u16string> expected;  // nullopt: not found
};

struct LookupCase {
  const char* name;
  std::string bytes;
  std::vector<Lookup> lookups;
};

class IniFileReaderTest : public ::testing::Test {
 protected:
  std::u16string Write(const std::string& bytes, const std::string& name = "file.ini") {
    WriteBytes(m_dir / name, bytes);
    return U16Path(m_dir / name);
  }

  inidoc::IniFileReader Loaded(const std::string& bytes) {
    inidoc::IniFileReader document;
    EXPECT_TRUE(document.Load(Write(bytes)));
    return document;
  }

  TempDir m_dir;
};

::testing::AssertionResult LooksUp(const inidoc::IniFileReader& document, const Lookup& lookup) {
  std::u16string value = u"<untouched>";
  const bool found = document.GetValue(lookup.section, lookup.key, value);
  if (!lookup.expected) {
    if (found) {
      return ::testing::AssertionFailure() << "[" << Narrow(lookup.section) << "] "
                                           << Narrow(lookup.key) << " found, value \""
                                           << Narrow(value) << "\"";
    }
    if (value != u"<untouched>") return ::testing::AssertionFailure() << "output changed";
    return ::testing::AssertionSuccess();
  }
  if (!found) {
    return ::testing::AssertionFailure() << "[" << Narrow(lookup.section) << "] "
                                         << Narrow(lookup.key) << " not found";
  }
  if (value != *lookup.expected) {
    return ::testing::AssertionFailure() << "[" << Narrow(lookup.section) << "] "
                                         << Narrow(lookup.key) << " = \"" << Narrow(value)
                                         << "\", expected \"" << Narrow(*lookup.expected) << "\"";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(IniFileReaderTest, LooksUpByTheLineRules) {
  const std::vector<LookupCase> cases = {
      {"a last line's lone CR is its line end",
       "\xFF\xFE" + Utf16Bytes(u"[S]\r\na=1\r"),
       {{u"S", u"a", u"1"}}},
      {"case-insensitive names",
       "[Sec]\r\nKey=Value\r\n",
       {{u"SEC", u"key", u"Value"}, {u"sec", u"KEY", u"Value"}, {u"Sec", u"Other", std::nullopt}}},
      {"spaces around equals belong to key and value",
       "[S]\r\nKey = Value\r\n",
       {{u"S", u"Key", std::nullopt}, {u"S", u"Key ", u" Value"}}},
      {"leading spaces dropped, a tab kept",
       "[S]\r\n   Key=Value\r\n\tTab=1\r\n",
       {{u"S", u"key", u"Value"}, {u"S", u"Tab", std::nullopt}, {u"S", u"\tTab", u"1"}}},
      {"header with trailing text is out of reach",
       "[Sec] ; note\r\na=1\r\n",
       {{u"Sec", u"a", std::nullopt}}},
      {"spaces around a header are trimmed",
       "  [Sec]  \r\na=1\r\n",
       {{u"Sec", u"a", u"1"}}},
      {"spaces inside brackets are part of the name",
       "[ Sec ]\r\na=1\r\n",
       {{u"Sec", u"a", std::nullopt}, {u" Sec ", u"a", u"1"}}},
      {"first equals splits, value kept whole",
       "[S]\r\na=b=c\r\nq=\"x\" ; y\r\n",
       {{u"S", u"a", u"b=c"}, {u"S", u"q", u"\"x\" ; y"}}},
      {"raw lines are never entries",
       "[S]\r\n=x\r\nnoequals\r\n;c=1\r\n  ;d=2\r\n",
       {{u"S", u"", std::nullopt}, {u"S", u"noequals", std::nullopt}, {u"S", u";c", std::nullopt},
        {u"S", u"  ;d", std::nullopt}, {u"S", u";d", std::nullopt}}},
      {"text before the first header is unreachable",
       "; comment\r\na=1\r\n[S]\r\nb=2\r\n",
       {{u"s", u"B", u"2"}, {u"", u"a", std::nullopt}, {u"; comment", u"a", std::nullopt}}},
      {"later duplicates win",
       "[S]\r\nk=1\r\nK=2\r\n[s]\r\nk=3\r\n",
       {{u"S", u"k", u"3"}}},
      {"duplicate keys in one section",
       "[S]\r\nk=1\r\nK=2\r\n",
       {{u"S", u"k", u"2"}}},
      {"LF-only lines",
       "[S]\na=1\nb=2",
       {{u"S", u"a", u"1"}, {u"S", u"b", u"2"}}},
      // Nothing stands before the first line end to be its CR (the sanitizers watch).
      {"an empty first line",
       "\n[S]\r\na=1\r\n",
       {{u"S", u"a", u"1"}}},
      {"an empty first line, UTF-16",
       "\xFF\xFE" + Utf16Bytes(u"\n[S]\r\na=1\r\n"),
       {{u"S", u"a", u"1"}}},
      {"a lone CR stays in the value",
       "[S]\r\na=1\rb=2\r\n",
       {{u"S", u"a", u"1\rb=2"}}},
      {"empty value is found",
       "[S]\r\na=\r\n",
       {{u"S", u"a", u""}}},
      {"names are not trimmed",
       "[S]\r\na=1\r\n",
       {{u" S", u"a", std::nullopt}, {u"S", u"a ", std::nullopt}}},
      {"Windows-1252 bytes",
       "[S]\r\nname=Caf\xE9 \x80\r\n",
       {{u"S", u"name", u"Caf\u00E9 \u20AC"}}},
      {"UTF-8 mark is its own form",
       "\xEF\xBB\xBF[Sec]\r\nname=Caf\xC3\xA9\r\n",
       {{u"Sec", u"name", u"Caf\u00E9"}}},
      {"UTF-16 with CR LF",
       "\xFF\xFE" + Utf16Bytes(u"[Sec]\r\nname=\u4E2D\u6587\r\n"),
       {{u"sec", u"NAME", u"\u4E2D\u6587"}}},
      {"UTF-16 with LF only",
       "\xFF\xFE" + Utf16Bytes(u"[Sec]\nname=v\nother=w"),
       {{u"Sec", u"name", u"v"}, {u"Sec", u"other", u"w"}}},
      // Lines are found 64 units at a time: an equals sign as the last unit of a step, a
      // name and a value across steps, a line end as the last unit, an unended last line.
      {"lines across the line search's steps",
       "[S]\r\n" + std::string(58, 'a') + "=1\r\n" + std::string(70, 'B') + "=2\r\nc=" +
           std::string(60, '=') + "\r\n" + std::string(17, 'D') + "=4",
       {{u"s", std::u16string(58, u'A'), u"1"}, {u"S", std::u16string(70, u'b'), u"2"},
        {u"S", u"c", std::u16string(60, u'=')}, {u"S", std::u16string(17, u'd'), u"4"},
        {u"S", std::u16string(16, u'd'), std::nullopt}, {u"S", std::u16string(69, u'b'), std::nullopt}}},
      {"a line end as the last unit of a step",
       "[S]\r\n" + std::string(56, 'e') + "=\r\n" + std::string(100, 'f') + "\r\ng=7\r\n",
       {{u"S", std::u16string(56, u'E'), u""}, {u"S", u"G", u"7"},
        {u"S", std::u16string(100, u'f'), std::nullopt}}},
  };
  // The line search's SSE2 steps and its plain ones read every file alike.
  for (const bool wide : {false, true}) {
    platform::UseWideInstructions(wide);
    for (const LookupCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (wide ? ", SSE2" : ""));
      const inidoc::IniFileReader document = Loaded(c.bytes);
      for (const Lookup& lookup : c.lookups) EXPECT_TRUE(LooksUp(document, lookup));
    }
  }
  platform::UseWideInstructions(true);
}

TEST_F(IniFileReaderTest, HoldsEveryLineInSections) {
  const inidoc::IniFileReader document = Loaded("; top\r\na=1\r\n[S]\r\n\r\nb=2\r\n  x\r\n[s]\r\n");
  ASSERT_EQ(document.SectionCount(), 3u);
  EXPECT_EQ(document.Header(0), u"; top");
  EXPECT_FALSE(document.IsIndexed(0));
  ASSERT_EQ(document.LineCount(0), 1u);
  EXPECT_EQ(document.Line(0, 0).key, u"a");
  EXPECT_EQ(document.Line(0, 0).value, u"1");

  EXPECT_EQ(document.Header(1), u"[S]");
  EXPECT_FALSE(document.IsIndexed(1));  // shadowed by [s]
  ASSERT_EQ(document.LineCount(1), 3u);
  EXPECT_TRUE(document.Line(1, 0).raw);
  EXPECT_EQ(document.Line(1, 0).key, u"");
  EXPECT_FALSE(document.Line(1, 1).raw);
  EXPECT_TRUE(document.Line(1, 2).raw);
  EXPECT_EQ(document.Line(1, 2).key, u"x");  // leading spaces of a raw non-comment line drop

  EXPECT_EQ(document.Header(2), u"[s]");
  EXPECT_TRUE(document.IsIndexed(2));
  EXPECT_EQ(document.LineCount(2), 0u);
}

TEST_F(IniFileReaderTest, EmptyFilesAndMarksAlone) {
  const inidoc::IniFileReader empty = Loaded("");
  EXPECT_EQ(empty.SectionCount(), 0u);
  EXPECT_FALSE(empty.IsUnicode());

  for (const std::string& mark : {std::string("\xFF\xFE"), std::string("\xEF\xBB\xBF")}) {
    const inidoc::IniFileReader marked = Loaded(mark);
    ASSERT_EQ(marked.SectionCount(), 1u);
    EXPECT_EQ(marked.Header(0), u"");
    EXPECT_FALSE(marked.IsIndexed(0));
    EXPECT_EQ(marked.LineCount(0), 0u);
  }
  EXPECT_TRUE(Loaded("\xFF\xFE").IsUnicode());
  EXPECT_FALSE(Loaded("\xEF\xBB\xBF").IsUnicode());
  EXPECT_EQ(Loaded("\xEF\xBB\xBF").Form(), text::Form::Utf8);
}

TEST_F(IniFileReaderTest, LongLinesAreReadWhole) {
  const std::string value(5000, 'v');
  const inidoc::IniFileReader ansi = Loaded("[S]\r\nlong=" + value + "[X]\r\n");
  std::u16string read;
  ASSERT_TRUE(ansi.GetValue(u"S", u"long", read));
  EXPECT_EQ(read.size(), 5003u);
  EXPECT_EQ(ansi.SectionCount(), 1u);

  const std::u16string wide = u"[S]\r\nlong=" + std::u16string(9000, u'w') + u"\r\n";
  const inidoc::IniFileReader unicode = Loaded("\xFF\xFE" + Utf16Bytes(wide));
  ASSERT_TRUE(unicode.GetValue(u"S", u"long", read));
  EXPECT_EQ(read, std::u16string(9000, u'w'));
  EXPECT_EQ(unicode.LineCount(0), 1u);
}

// A file much larger than one read block, with line ends cut by the block edges and a
// refusal in the last block: it loads, from disk and from memory, as it reads whole.
TEST_F(IniFileReaderTest, LargeFilesLoadAcrossReadBlocks) {
  std::u16string text;
  for (int s = 0; text.size() < 300000; ++s) {
    text += u"[Sec" + std::u16string(1, char16_t(u'A' + s % 26)) + u"]\r\n; c\r\n";
    for (int k = 0; k < 20; ++k) {
      text += u"K" + std::u16string(1, char16_t(u'a' + k)) + u"=" +
              std::u16string(static_cast<std::size_t>(7 + (s + k) % 23), u'\u00E9') + u"\r\n";
    }
    text += u"\r\n";
  }
  std::string ansi;
  for (char16_t c : text) ansi.push_back(static_cast<char>(c));
  for (const std::string& bytes : {ansi, "\xFF\xFE" + Utf16Bytes(text)}) {
    inidoc::IniFileReader fromFile, fromMemory;
    ASSERT_TRUE(fromFile.Load(Write(bytes)));
    ASSERT_TRUE(fromMemory.LoadBytes(bytes));
    EXPECT_EQ(fromFile.Render(), text);
    EXPECT_EQ(fromMemory.Render(), text);
    EXPECT_EQ(fromFile.Serialize(), bytes);
    std::u16string value;
    EXPECT_TRUE(fromFile.GetValue(u"secz", u"kt", value));
    EXPECT_EQ(value.size(), static_cast<std::size_t>(7 + (25 + 19) % 23));
    EXPECT_FALSE(fromMemory.LoadBytes(bytes + std::string(1, '\0')));
  }
}

TEST_F(IniFileReaderTest, RefusesFilesItCannotHoldWithoutLoss) {
  const std::vector<std::pair<const char*, std::string>> refused = {
      {"UTF-16 without a mark", Utf16Bytes(u"[S]\r\na=1\r\n")},
      {"a NUL byte in ANSI text", std::string("[S]\r\na=1\0b\r\n", 12)},
      {"big-endian mark", "\xFE\xFF" + std::string("\0[\0S\0]", 6)},
      {"odd-length UTF-16", "\xFF\xFE" + Utf16Bytes(u"[S]") + "x"},
      {"invalid UTF-8 after its mark", "\xEF\xBB\xBF[S]\r\na=\xC3\r\n"},
      {"overlong UTF-8", "\xEF\xBB\xBF[S]\r\na=\xC0\xAF\r\n"},
      {"UTF-8-encoded surrogate", "\xEF\xBB\xBF[S]\r\na=\xED\xA0\x80\r\n"},
  };
  for (const auto& [name, bytes] : refused) {
    SCOPED_TRACE(name);
    inidoc::IniFileReader document;
    ASSERT_TRUE(document.Load(Write("[Old]\r\nk=v\r\n", "old.ini")));
    EXPECT_FALSE(document.Load(Write(bytes)));
    // The document still holds what it held before.
    std::u16string value;
    EXPECT_TRUE(document.GetValue(u"Old", u"k", value));
    EXPECT_EQ(value, u"v");
  }
}

// Sparse files, so that the size is there without the bytes: the refusal must come from
// the size alone, before anything large is read or allocated. On the 32-bit build these
// are 512 MiB and 1 GiB; natively 2 GiB and 4 GiB.
TEST_F(IniFileReaderTest, RefusesUnreadAFileWhoseTextCannotFit) {
  const std::uint64_t largest = text::LargestText();
  const std::vector<std::pair<const char*, std::pair<std::string, std::uint64_t>>> tooLarge = {
      {"ANSI", {"[S]\r\na=1\r\n", largest}},
      {"UTF-8", {"\xEF\xBB\xBF[S]\r\na=1\r\n", largest}},
      {"UTF-16", {"\xFF\xFE" + Utf16Bytes(u"[S]\r\na=1\r\n"), 2 * largest}},
  };
  for (const auto& [name, file] : tooLarge) {
    SCOPED_TRACE(name);
    inidoc::IniFileReader document;
    ASSERT_TRUE(document.Load(Write("[Old]\r\nk=v\r\n", "old.ini")));
    const std::u16string path = Write(file.first, "large.ini");
    std::filesystem::resize_file(m_dir / "large.ini", file.second);
    const inidoc::IniFileReader::LoadResult loaded = document.Load(path);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(loaded.tooLarge);
    std::u16string value;
    EXPECT_TRUE(document.GetValue(u"Old", u"k", value));
    std::filesystem::remove(m_dir / "large.ini");
  }
}

TEST_F(IniFileReaderTest, MissingFileOrFolderFailsAndKeepsDocument) {
  inidoc::IniFileReader document;
  ASSERT_TRUE(document.Load(Write("[S]\r\na=1\r\n")));
  EXPECT_FALSE(document.Load(U16Path(m_dir / "missing.ini")));
  EXPECT_FALSE(document.Load(U16Path(m_dir.Path())));
  EXPECT_FALSE(document.Load(u""));
  std::u16string value;
  EXPECT_TRUE(document.GetValue(u"S", u"a", value));
}

TEST_F(IniFileReaderTest, ReloadReplacesEverything) {
  inidoc::IniFileReader document;
  ASSERT_TRUE(document.Load(Write("\xFF\xFE" + Utf16Bytes(u"[A]\r\nx=1\r\n"))));
  EXPECT_TRUE(document.IsUnicode());
  ASSERT_TRUE(document.Load(Write("[B]\r\ny=2\r\n")));
  EXPECT_FALSE(document.IsUnicode());
  std::u16string value;
  EXPECT_FALSE(document.GetValue(u"A", u"x", value));
  EXPECT_TRUE(document.GetValue(u"B", u"y", value));
}

// Loading and rendering reproduces a CR LF file line for line, so a save without changes
// writes the same bytes.
TEST_F(IniFileReaderTest, RenderReproducesCrLfText) {
  const std::u16string text =
      u"; settings\r\n  [Main]  \r\nName = Value\r\n\r\n;c\r\n  ; indented\r\n[Main]\r\n"
      u"dup=1\r\nDUP=2\r\n=x\r\n\tTab=1\r\n[Tail] trailing\r\nv=\u00E9\r\n";
  EXPECT_EQ(Loaded("\xFF\xFE" + Utf16Bytes(text)).Render(), text);
  EXPECT_EQ(Loaded("\xEF\xBB\xBF" + std::string("[S]\r\na=1\r\n")).Render(), u"[S]\r\na=1\r\n");
}

TEST_F(IniFileReaderTest, SetValueAddsAndReplaces) {
  inidoc::IniFileReader document = Loaded("[A]\r\nx=1\r\n\r\n[B]\r\nName = old\r\n[SEC]\r\n");
  document.SetValue(u"A", u"y", u"2");
  document.SetValue(u"B", u"Name ", u"new");
  document.SetValue(u"B", u"Name", u"other");
  document.SetValue(u"sec", u"k", u"v");
  document.SetValue(u"New", u"Key", u"1");
  EXPECT_EQ(document.Render(),
            u"[A]\r\nx=1\r\n\r\ny=2\r\n[B]\r\nName =new\r\nName=other\r\n[SEC]\r\nk=v\r\n"
            u"[New]\r\nKey=1\r\n");
}

TEST_F(IniFileReaderTest, SetValueTargetsTheIndexedDuplicate) {
  inidoc::IniFileReader document = Loaded("[S]\r\nk=1\r\n[s]\r\nk=2\r\n[T] note\r\n");
  document.SetValue(u"S", u"K", u"3");
  document.SetValue(u"T", u"a", u"b");
  EXPECT_EQ(document.Render(), u"[S]\r\nk=1\r\n[s]\r\nk=3\r\n[T] note\r\n[T]\r\na=b\r\n");
}

// A value set twice, and a key whose written form differs from the one asked for, keep
// the key as written; the lines before and after are untouched.
TEST_F(IniFileReaderTest, SetValueAgainKeepsTheKeyAsWritten) {
  inidoc::IniFileReader document = Loaded("[S]\r\n  Key = 1\r\nnext=2\r\n");
  document.SetValue(u"s", u"key ", u"a");
  document.SetValue(u"S", u"KEY ", u"bb");
  std::u16string value;
  EXPECT_TRUE(document.GetValue(u"S", u"Key ", value));
  EXPECT_EQ(value, u"bb");
  EXPECT_EQ(document.Render(), u"[S]\r\nKey =bb\r\nnext=2\r\n");
  EXPECT_EQ(document.Line(0, 0).key, u"Key ");
  EXPECT_EQ(document.Line(0, 0).value, u"bb");
}

// Setting the value a key already holds is no change: a save would still write the bytes
// that were loaded. Any real change, and any file a save would rewrite, is.
TEST_F(IniFileReaderTest, SavesAsLoadedUntilSomethingChanges) {
  inidoc::IniFileReader document = Loaded("[S]\r\nk= v\r\nEmpty=\r\n");
  EXPECT_TRUE(document.SavesAsLoaded());
  EXPECT_FALSE(document.SetValue(u"s", u"K", u" v"));
  EXPECT_FALSE(document.SetValue(u"S", u"empty", u""));
  EXPECT_TRUE(document.SavesAsLoaded());
  EXPECT_TRUE(document.SetValue(u"S", u"k", u"v"));  // the blank is part of the value
  EXPECT_FALSE(document.SavesAsLoaded());
  inidoc::IniFileReader added = Loaded("[S]\r\nk=1\r\n");
  EXPECT_TRUE(added.SetValue(u"S", u"new", u""));
  EXPECT_FALSE(added.SavesAsLoaded());
  EXPECT_FALSE(Loaded("[S]\nk=1\n").SavesAsLoaded());
  EXPECT_FALSE(Loaded("[S]\r\nk=1").SavesAsLoaded());
  EXPECT_FALSE(Loaded("[S]\r\n  k=1\r\n").SavesAsLoaded());
}

}  // namespace
}  // namespace iniplugin
