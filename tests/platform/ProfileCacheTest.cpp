// The portable reader keeps a file's parsed form between calls. These tests change files
// behind its back, in the ways that defeat a naive cache, and use it from several threads.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "ProfileApi.h"
#include "support/Files.h"

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
}

}  // namespace
}  // namespace iniplugin::test
