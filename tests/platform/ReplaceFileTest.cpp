#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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

// Each mode opens as the C library's of the same name: whether it reads, writes, where it
// writes, whether it makes a missing file. A name with a NUL in it opens nothing, in no
// mode, even where the part before the NUL names a file.
TEST(OpenFileTest, ModesActAsTheirStdioNamesSay) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  const std::u16string withNul = U16Path(path) + u'\0' + u"x";
  struct Row {
    const char* mode;
    const char* read;  // what the stream reads from the start of "old"; nullptr: no reading
    bool writes;
    const char* after;  // the file after "new" was written at the start
    bool createsMissing;
  };
  const Row rows[] = {
      {"rb", "old", false, "old", false},     {"r+b", "old", true, "new", false},
      {"wb", nullptr, true, "new", true},     {"w+b", "", true, "new", true},
      {"ab", nullptr, true, "oldnew", true},  {"a+b", "old", true, "oldnew", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    WriteBytes(path, "old");
    EXPECT_FALSE(platform::OpenFile(withNul, row.mode));
    EXPECT_FALSE(platform::OpenFile(u"", row.mode));
    EXPECT_EQ(ReadBytes(path), "old");
    {
      platform::UniqueFile file = platform::OpenFile(U16Path(path), row.mode);
      ASSERT_TRUE(file);
      char buffer[8];
      ASSERT_EQ(std::fseek(file.Get(), 0, SEEK_SET), 0);
      const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.Get());
      if (row.read) {
        EXPECT_FALSE(std::ferror(file.Get()));
        EXPECT_EQ(std::string(buffer, got), row.read);
      } else {
        // Whether the error flag is set for it differs between C runtimes.
        EXPECT_EQ(got, 0u) << "a stream that should not read did";
      }
      std::clearerr(file.Get());
      ASSERT_EQ(std::fseek(file.Get(), 0, SEEK_SET), 0);
      const bool wrote = std::fwrite("new", 1, 3, file.Get()) == 3 && std::fflush(file.Get()) == 0;
      EXPECT_EQ(wrote, row.writes);
    }
    EXPECT_EQ(ReadBytes(path), row.after);

    fs::remove(path);
    EXPECT_FALSE(platform::OpenFile(withNul, row.mode));
    EXPECT_FALSE(fs::exists(path)) << "the name before the NUL was made";
    EXPECT_EQ(static_cast<bool>(platform::OpenFile(U16Path(path), row.mode)), row.createsMissing);
    EXPECT_EQ(fs::exists(path), row.createsMissing);
  }
}

TEST(FileStampTest, TellsVersionsApart) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(path)));
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(dir.Path())));
  WriteBytes(path, "one");
  // A name that only starts with the file's names another file, and no stamp.
  EXPECT_FALSE(platform::QueryFileStamp(U16Path(path) + u'\0' + u"b"));
  EXPECT_FALSE(platform::QueryFileStamp(u""));
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
