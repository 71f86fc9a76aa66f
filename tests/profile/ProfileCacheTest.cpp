// The portable reader keeps a file's parsed form between calls. These tests change files
// behind its back, in the ways that defeat a naive cache, and use it from several threads.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <filesystem>
#include <thread>

#include "ProfileApi.h"
#include "platform/portable.h"
#include "platform/simd.h"
#include "platform/wide.h"
#include "profile/Profile.h"
#include "profile/ProfileText.h"
#include "support/Files.h"
#include "text/Encoding.h"

namespace iniplugin::test {
namespace {

std::u16string Value(const std::u16string& file, const char16_t* section, const char16_t* key) {
  return std::u16string(Answer(Read(PortableProfile(), section, key, u"-", 256, file)));
}

void MakeOld(const std::filesystem::path& path, std::chrono::hours age) {
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
}

TEST(ProfileCacheTest, SeesChangesThatKeepTheSize) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  // Rewritten faster than most file systems' timestamps tick.
  for (char digit = '0'; digit <= '9'; ++digit) {
    WriteBytes(path, std::string("[S]\r\nk=") + digit + "\r\n");
    EXPECT_EQ(Value(file, u"S", u"k"), std::u16string(1, digit));
  }
  // The form kept after our own flush gives way to the next change as well.
  ASSERT_TRUE(PortableProfile().write(u"S", u"k", u"x", file.c_str()));
  ASSERT_TRUE(profile::FlushHeldWrites(platform::AsWide(file.c_str())));
  EXPECT_EQ(Value(file, u"S", u"k"), u"x");
  WriteBytes(path, "[S]\r\nk=y\r\n");
  EXPECT_EQ(Value(file, u"S", u"k"), u"y");
}

TEST(ProfileCacheTest, SeesChangesOfSettledFiles) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  WriteBytes(path, "[S]\r\nk=1\r\n");
  MakeOld(path, std::chrono::hours(2));
  EXPECT_EQ(Value(file, u"S", u"k"), u"1");
  EXPECT_EQ(Value(file, u"S", u"k"), u"1");
  WriteBytes(path, "[S]\r\nk=22\r\n");
  MakeOld(path, std::chrono::hours(2));
  EXPECT_EQ(Value(file, u"S", u"k"), u"22");
  WriteBytes(path, "[S]\r\nk=33\r\n");  // same size, another time
  MakeOld(path, std::chrono::hours(1));
  EXPECT_EQ(Value(file, u"S", u"k"), u"33");
}

TEST(ProfileCacheTest, SeesFilesGoAndComeBack) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  WriteBytes(path, "[S]\r\nk=1\r\n");
  EXPECT_EQ(Value(file, u"S", u"k"), u"1");
  std::filesystem::remove(path);
  EXPECT_EQ(Value(file, u"S", u"k"), u"-");
  WriteBytes(path, "[S]\r\nk=2\r\n");
  EXPECT_EQ(Value(file, u"S", u"k"), u"2");
}

TEST(ProfileCacheTest, ReadsBackWhatWasWrittenNotWhatWasAsked) {
  TempDir dir;
  const std::u16string file = U16Path(dir / "ansi.ini");
  ASSERT_TRUE(PortableProfile().write(u"S", u"k", u"a\u4E2Db", file.c_str()));
  EXPECT_EQ(Value(file, u"S", u"k"), u"a?b");
}

TEST(ProfileCacheTest, KeepsAnswersRightAcrossMoreFilesThanItHolds) {
  TempDir dir;
  std::vector<std::u16string> files;
  for (int i = 0; i < 7; ++i) {
    const std::filesystem::path path = dir / ("f" + std::to_string(i) + ".ini");
    WriteBytes(path, "[S]\r\nk=" + std::to_string(i) + "\r\n");
    files.push_back(U16Path(path));
  }
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(Value(files[i], u"S", u"k"), std::u16string(1, char16_t(u'0' + i)));
    }
  }
}

void Flush(const std::u16string& file) { PortableProfile().write(nullptr, nullptr, nullptr, file.c_str()); }

// Writes wait in the parsed form until the flush call: the file is unchanged until then,
// and every read, of values and of name lists, sees them at once.
TEST(ProfileCacheTest, WritesReachTheFileAtTheFlush) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  const std::string before = "[S]\r\nk=1\r\nj\r\n\r\n[T]\r\n";
  WriteBytes(path, before);
  MakeOld(path, std::chrono::hours(1));
  ASSERT_TRUE(PortableProfile().write(u"S", u"k", u" \"two\" ", file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"S", u"j", u"3", file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"S", u"new", u"4", file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"s", u"NEW", u"5", file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"T", u"t", u"6", file.c_str()));
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(Value(file, u"S", u"k"), u"two");
  EXPECT_EQ(Value(file, u"S", u"j"), u"3");
  EXPECT_EQ(Value(file, u"S", u"new"), u"5");
  EXPECT_EQ(Names(Answer(Read(PortableProfile(), u"S", nullptr, u"", 256, file))),
            (std::vector<std::u16string>{u"k", u"j", u"new"}));
  // A write that is neither a new value nor a new entry (here a deletion) joins the rest.
  ASSERT_TRUE(PortableProfile().write(u"T", nullptr, nullptr, file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"U", u"u", u"7", file.c_str()));
  EXPECT_EQ(Value(file, u"U", u"u"), u"7");
  EXPECT_EQ(ReadBytes(path), before);
  Flush(file);
  EXPECT_EQ(ReadBytes(path), "[S]\r\nk= \"two\" \r\nj=3\r\nnew=5\r\n\r\n[U]\r\nu=7\r\n");
  EXPECT_EQ(Value(file, u"S", u"new"), u"5");
}

// A file changed by someone else while our writes wait keeps that change, and gets our
// writes on top of it, as if they had come after it.
TEST(ProfileCacheTest, WritesWaitingSurviveAChangeOfTheFile) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::u16string file = U16Path(path);
  WriteBytes(path, "[S]\r\nk=1\r\n");
  ASSERT_TRUE(PortableProfile().write(u"S", u"k", u"2", file.c_str()));
  ASSERT_TRUE(PortableProfile().write(u"S", u"mine", u"m", file.c_str()));
  WriteBytes(path, "[S]\r\nk=1\r\ntheirs=t\r\n");
  EXPECT_EQ(Value(file, u"S", u"theirs"), u"t");
  EXPECT_EQ(Value(file, u"S", u"k"), u"2");
  std::filesystem::remove(path);
  EXPECT_EQ(Value(file, u"S", u"mine"), u"m");
  Flush(file);
  EXPECT_EQ(ReadBytes(path), "[S]\r\nk=2\r\nmine=m\r\n");
  // A change that leaves a file too large to read: the flush says the writes did not arrive.
  ASSERT_TRUE(PortableProfile().write(u"S", u"k", u"3", file.c_str()));
  std::filesystem::resize_file(path, 2 * std::uint64_t{text::LargestText()});
  EXPECT_FALSE(profile::FlushHeldWrites(platform::AsWide(file.c_str())));
  EXPECT_EQ(std::filesystem::file_size(path), 2 * std::uint64_t{text::LargestText()});
}

// Reads inside a batch see the file as it was at the first of them, with the process's own
// writes; the next read after the batch sees the file as it is. A batch for one file
// changes nothing for another.
TEST(ProfileCacheTest, ReadBatchReadsOneVersionOfItsFile) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  const std::filesystem::path other = dir / "b.ini";
  const std::u16string file = U16Path(path);
  const std::u16string otherFile = U16Path(other);
  WriteBytes(path, "[S]\r\nk=1\r\n");
  WriteBytes(other, "[S]\r\nk=1\r\n");
  {
    profile::ProfileReadBatch batch(file);
    EXPECT_EQ(Value(file, u"S", u"k"), u"1");
    EXPECT_EQ(Value(otherFile, u"S", u"k"), u"1");
    // Reads of other files push the batch's out of the cache: it is read again, never
    // taken from where it was.
    for (int i = 0; i < 5; ++i) {  // more files than the cache keeps
      const std::filesystem::path more = dir / ("more" + std::to_string(i) + ".ini");
      WriteBytes(more, "[S]\r\nk=m\r\n");
      EXPECT_EQ(Value(U16Path(more), u"S", u"k"), u"m");
    }
    EXPECT_EQ(Value(file, u"S", u"k"), u"1");
    WriteBytes(path, "[S]\r\nk=2\r\n");
    WriteBytes(other, "[S]\r\nk=2\r\n");
    EXPECT_EQ(Value(file, u"S", u"k"), u"1");
    EXPECT_EQ(Value(otherFile, u"S", u"k"), u"2");
    // The writer's own write is seen, and being a write, it looks at the file first.
    ASSERT_TRUE(PortableProfile().write(u"S", u"mine", u"m", file.c_str()));
    EXPECT_EQ(Value(file, u"S", u"mine"), u"m");
    EXPECT_EQ(Value(file, u"S", u"k"), u"2");
    WriteBytes(path, "[S]\r\nk=3\r\n");
    {
      profile::ProfileReadBatch inner(otherFile);
      EXPECT_EQ(Value(file, u"S", u"k"), u"3");
    }
  }
  WriteBytes(path, "[S]\r\nk=4\r\n");
  EXPECT_EQ(Value(file, u"S", u"k"), u"4");
  EXPECT_EQ(Value(file, u"S", u"mine"), u"m");
  Flush(file);
  EXPECT_EQ(ReadBytes(path), "[S]\r\nk=4\r\nmine=m\r\n");
}

TEST(ProfileCacheTest, ReadOnlyFilesRefuseWritesAtOnce) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.ini";
  WriteBytes(path, "[S]\r\nk=1\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_FALSE(PortableProfile().write(u"S", u"k", u"2", U16Path(path).c_str()));
  EXPECT_EQ(Value(U16Path(path), u"S", u"k"), u"1");
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

// A text parsed while it is decoded, piece by piece, reads as the whole text does: pieces
// that end between a CR and its LF, after a NUL or inside a header change nothing, and
// neither does finding the lines' ends without the vector registers.
TEST(ProfileCacheTest, TextParsedInPiecesReadsAsTheWhole) {
  const std::u16string texts[] = {
      u"; c\r\n[S]\r\n  k = \"v\" \r\nj\r\n\r\n[T]\rx=1\r=a\r\n=b\r\n",
      u"top=1\n[A]\nk=1\0tail\r\nk=2\n[a]\nm=3",
      u"[S]\r\n[no close\r\nk=1\r",
      std::u16string(u"[S]\r\nk=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                     u"\0tail\r\nj=1\rK=2\r\n;c=3\n[T]\r\n"
                     u"a=yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\r\n\0\r\n;d\rb=2",
                     176),
  };
  const auto dump = [](const profile::ProfileText& text) {
    std::u16string out(text.LineBreak());
    for (std::u16string_view name : text.SectionNames()) {
      out.append(u"[").append(name).append(u"]");
      const profile::ProfileText::Section* section = text.FindSection(name);
      for (std::u16string_view key : text.EntryNames(*section)) {
        out.append(key).append(u"=").append(text.Value(*text.FindEntry(*section, key))).append(u";");
      }
    }
    for (const profile::ProfileText::Section& section : text.Sections()) {
      out.append(u"@").append(std::u16string(1, char16_t(u'0' + section.insertAt % 40)));
    }
    return out;
  };
  for (const std::u16string& whole : texts) {
    const std::u16string expected = dump(profile::ProfileText(whole));
    for (std::size_t piece = 1; piece <= whole.size(); ++piece) {
      SCOPED_TRACE(piece);
      platform::UseWideInstructions(piece % 2 == 0);
      profile::ProfileText text(profile::ProfileText::Incremental{}, whole.size());
      for (std::size_t at = 0; at < whole.size(); at += piece) {
        text.GrowingText().append(whole, at, piece);
        text.TakeLines();
      }
      text.Finish();
      EXPECT_EQ(dump(text), expected);
    }
  }
  platform::UseWideInstructions(true);
}

TEST(ProfileCacheTest, ThreadsShareFilesSafely) {
  TempDir dir;
  const std::u16string shared = U16Path(dir / "shared.ini");
  constexpr int kThreads = 4, kWrites = 25;
  std::vector<std::thread> threads;
  std::vector<int> mismatches(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::u16string own = U16Path(dir / ("own" + std::to_string(t) + ".ini"));
      for (int i = 0; i < kWrites; ++i) {
        const std::u16string key = u"k" + std::u16string(1, char16_t(u'a' + t)) +
                                   std::u16string(1, char16_t(u'A' + i));
        const std::u16string value(static_cast<std::size_t>(i + 1), char16_t(u'0' + t));
        PortableProfile().write(u"S", key.c_str(), value.c_str(), shared.c_str());
        PortableProfile().write(u"S", key.c_str(), value.c_str(), own.c_str());
        if (Value(shared, u"S", key.c_str()) != value) ++mismatches[t];
        if (Value(own, u"S", key.c_str()) != value) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
  const ReadOutcome keys = Read(PortableProfile(), u"S", nullptr, u"", 4096, shared);
  EXPECT_EQ(Names(Answer(keys)).size(), std::size_t{kThreads * kWrites}) << "a write was lost";
  Flush(shared);
  const std::string bytes = ReadBytes(dir / "shared.ini");
  EXPECT_EQ(static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')), kThreads * kWrites + 1);
}

}  // namespace
}  // namespace iniplugin::test
