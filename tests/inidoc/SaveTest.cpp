#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "inidoc/IniFileReader.h"
#include "platform/replace.h"
#include "support/Files.h"

namespace iniplugin {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::U16Path;
using test::Utf16Bytes;
using test::WriteBytes;

class SaveTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetWriteFailureForTesting(-1); }

  // Every file in the scratch folder, so that a test can see nothing was left behind.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir m_dir;
};

TEST_F(SaveTest, LoadThenSaveKeepsTheBytesOfEveryForm) {
  const std::string ansi = "; top\r\n  [Main]  \r\nName = Caf\xE9\r\n\r\n[Main]\r\ndup=1\r\n=x\r\n";
  const std::string utf16 =
      "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=\u4E2D\u6587\r\n; c\r\n[T] tail\r\n\ta=b\r\n");
  const std::string utf8 = "\xEF\xBB\xBF[S]\r\nk=Caf\xC3\xA9 \xF0\x9F\x98\x80\r\n";
  for (const std::string& bytes : {ansi, utf16, utf8}) {
    WriteBytes(m_dir / "f.ini", bytes);
    inidoc::IniFileReader document;
    ASSERT_TRUE(document.Load(U16Path(m_dir / "f.ini")));
    ASSERT_TRUE(document.Save(U16Path(m_dir / "f.ini")));
    EXPECT_EQ(ReadBytes(m_dir / "f.ini"), bytes);
  }
}

TEST_F(SaveTest, NormalisesOnlyWhatItDocuments) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"LF becomes CR LF", "[S]\na=1\n", "[S]\r\na=1\r\n"},
      {"last line gets its line end", "[S]\r\na=1", "[S]\r\na=1\r\n"},
      {"leading spaces before keys drop", "[S]\r\n  a=1\r\n  x\r\n  ;c\r\n",
       "[S]\r\na=1\r\nx\r\n  ;c\r\n"},
      {"UTF-16 LF only", "\xFF\xFE" + Utf16Bytes(u"[S]\na=1\n"),
       "\xFF\xFE" + Utf16Bytes(u"[S]\r\na=1\r\n")},
      {"mark alone", "\xFF\xFE", "\xFF\xFE" + Utf16Bytes(u"\r\n")},
      {"a last line's lone CR is its line end", "\xFF\xFE" + Utf16Bytes(u"[S]\r\na=1\r"),
       "\xFF\xFE" + Utf16Bytes(u"[S]\r\na=1\r\n")},
      {"empty file", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(m_dir / "f.ini", c.in);
    inidoc::IniFileReader document;
    ASSERT_TRUE(document.Load(U16Path(m_dir / "f.ini")));
    ASSERT_TRUE(document.Save(U16Path(m_dir / "f.ini")));
    EXPECT_EQ(ReadBytes(m_dir / "f.ini"), c.out);
  }
}

TEST_F(SaveTest, NewDocumentIsWrittenAsAnsi) {
  inidoc::IniFileReader document;
  document.SetValue(u"Sec", u"Key", u"1");
  document.SetValue(u"Sec", u"Wide", u"\u4E2D");
  ASSERT_TRUE(document.Save(U16Path(m_dir / "new.ini")));
  EXPECT_EQ(ReadBytes(m_dir / "new.ini"), "[Sec]\r\nKey=1\r\nWide=?\r\n");
}

TEST_F(SaveTest, UnicodeDocumentStaysUnicode) {
  WriteBytes(m_dir / "u.ini", "\xFF\xFE" + Utf16Bytes(u"[S]\r\n"));
  inidoc::IniFileReader document;
  ASSERT_TRUE(document.Load(U16Path(m_dir / "u.ini")));
  document.SetValue(u"S", u"k", u"plain");
  ASSERT_TRUE(document.Save(U16Path(m_dir / "u.ini")));
  EXPECT_EQ(ReadBytes(m_dir / "u.ini"), "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=plain\r\n"));
}

TEST_F(SaveTest, MissingFolderFailsAndWritesNothing) {
  inidoc::IniFileReader document;
  document.SetValue(u"S", u"k", u"v");
  EXPECT_FALSE(document.Save(U16Path(m_dir / "no" / "such" / "f.ini")));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "no"));
  EXPECT_FALSE(document.Save(U16Path(m_dir.Path())));  // a folder is not a file
  EXPECT_TRUE(Files().empty());
}

TEST_F(SaveTest, FailedWriteLeavesTheOldFileByteForByte) {
  const std::string original = "[S]\r\nk=old\r\n" + std::string(100000, ';') + "\r\n";
  WriteBytes(m_dir / "f.ini", original);
  inidoc::IniFileReader document;
  ASSERT_TRUE(document.Load(U16Path(m_dir / "f.ini")));
  document.SetValue(u"S", u"k", u"new");
  for (long long failAfter : {0LL, 1LL, 4096LL, 99999LL}) {
    SCOPED_TRACE(failAfter);
    platform::SetWriteFailureForTesting(failAfter);
    EXPECT_FALSE(document.Save(U16Path(m_dir / "f.ini")));
    EXPECT_EQ(ReadBytes(m_dir / "f.ini"), original);
    EXPECT_EQ(Files(), std::vector<std::string>{"f.ini"});
  }
  platform::SetWriteFailureForTesting(-1);
  EXPECT_TRUE(document.Save(U16Path(m_dir / "f.ini")));
  EXPECT_NE(ReadBytes(m_dir / "f.ini").find("k=new\r\n"), std::string::npos);
}

TEST_F(SaveTest, KeepsThePermissionBits) {
  namespace fs = std::filesystem;
  WriteBytes(m_dir / "f.ini", "[S]\r\n");
  fs::permissions(m_dir / "f.ini", fs::perms::owner_read | fs::perms::owner_write |
                                       fs::perms::group_read);
  const fs::perms before = fs::status(m_dir / "f.ini").permissions();
  inidoc::IniFileReader document;
  ASSERT_TRUE(document.Load(U16Path(m_dir / "f.ini")));
  document.SetValue(u"S", u"k", u"v");
  ASSERT_TRUE(document.Save(U16Path(m_dir / "f.ini")));
  EXPECT_EQ(fs::status(m_dir / "f.ini").permissions(), before);
}

}  // namespace
}  // namespace iniplugin
