#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "platform/replace.h"
#include "support/Files.h"

namespace iniplugin {
namespace {

namespace fs = std::filesystem;
using platform::ReplaceFileContents;
using test::ReadBytes;
using test::TempDir;
using test::U16Path;
using test::WriteBytes;

std::vector<std::string> FolderContents(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplaceFileTest, CreatesAndReplacesWholeFiles) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  ASSERT_TRUE(ReplaceFileContents(U16Path(path), std::string("first\0line\r\n", 12)));
  EXPECT_EQ(ReadBytes(path), std::string("first\0line\r\n", 12));
  ASSERT_TRUE(ReplaceFileContents(U16Path(path), "2"));
  EXPECT_EQ(ReadBytes(path), "2");
  ASSERT_TRUE(ReplaceFileContents(U16Path(path), ""));
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_EQ(FolderContents(dir), std::vector<std::string>{"a.ini"}) << "a temporary file is left";
}

TEST(ReplaceFileTest, KeepsPermissionBits) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  WriteBytes(path, "old");
  const fs::perms wanted = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, wanted);
  const fs::perms before = fs::status(path).permissions();
  ASSERT_TRUE(ReplaceFileContents(U16Path(path), "new"));
  EXPECT_EQ(fs::status(path).permissions(), before);
}

TEST(ReplaceFileTest, RefusesReadOnlyFiles) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  WriteBytes(path, "old");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_FALSE(ReplaceFileContents(U16Path(path), "new"));
  EXPECT_EQ(ReadBytes(path), "old");
  EXPECT_EQ(FolderContents(dir), std::vector<std::string>{"a.ini"});
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

TEST(ReplaceFileTest, FailsWithoutTouchingAnything) {
  TempDir dir;
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(ReplaceFileContents(U16Path(dir / "missing" / "a.ini"), "x"));
  EXPECT_FALSE(ReplaceFileContents(U16Path(dir / "folder"), "x"));
  EXPECT_FALSE(ReplaceFileContents(u"", "x"));
  EXPECT_FALSE(ReplaceFileContents(U16Path(dir / "a.ini") + u'\0' + u"b", "x"));
  // The file the replacement made to lock goes again when its content never came.
  platform::SetWriteFailureForTesting(0);
  EXPECT_FALSE(ReplaceFileContents(U16Path(dir / "new.ini"), "x"));
  platform::SetWriteFailureForTesting(-1);
  EXPECT_EQ(FolderContents(dir), std::vector<std::string>{"folder"});
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

TEST(ReplaceFileTest, ReplacesWhatALinkPointsAt) {
  TempDir dir;
  const fs::path target = dir / "target.ini";
  const fs::path link = dir / "link.ini";
  WriteBytes(target, "old");
  std::error_code error;
  fs::create_symlink(target, link, error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  ASSERT_TRUE(ReplaceFileContents(U16Path(link), "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "new");
}

TEST(FileStampTest, TellsVersionsApart) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(path)));
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(dir.Path())));
  WriteBytes(path, "one");
  const std::optional<platform::FileStamp> fresh = platform::QueryFileStamp(U16Path(path));
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->size, 3u);
  EXPECT_TRUE(fresh->recent);

  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
  // Setting the time is itself a change of the file's metadata; it settles soon after.
  std::optional<platform::FileStamp> settled;
  for (int wait = 0; wait < 300; ++wait) {
    settled = platform::QueryFileStamp(U16Path(path));
    if (settled && !settled->recent) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(settled);
  EXPECT_FALSE(settled->recent);
  EXPECT_FALSE(settled->SameVersion(*fresh));
  EXPECT_TRUE(settled->SameVersion(*platform::QueryFileStamp(U16Path(path))));

  ASSERT_TRUE(ReplaceFileContents(U16Path(path), "two"));
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(path))->SameVersion(*settled));
}

}  // namespace
}  // namespace iniplugin
