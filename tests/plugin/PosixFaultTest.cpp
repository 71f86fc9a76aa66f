// Faults that only a POSIX system lets a test cause for real: a file its user may not
// read, a disk that takes no more bytes, a FIFO or device where the file should be.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/file_lock.h"
#include "support/FileForms.h"
#include "text/Encoding.h"
#include "PluginFixture.h"
#include "support/Hresult.h"
#include "support/RecordArray.h"

// No disk can be made to refuse a flush on demand: this program's own fsync, which the
// module's calls reach instead of the C library's, fails for the file (by inode) a test
// names, until it names none.
namespace {
std::atomic<ino_t> g_failFlushOf{0};
}  // namespace

extern "C" int fsync(int fd) {
  struct stat info;
  const ino_t failing = g_failFlushOf.load();
  if (failing != 0 && ::fstat(fd, &info) == 0 && info.st_ino == failing) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace iniplugin::test {
namespace {

namespace fs = std::filesystem;

class PosixFaultTest : public PluginTest {
 protected:
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()));
  }
};

// Read permission taken away between SetValues and Commit: Commit fails and keeps every
// write, a direct write in the meantime does not overwrite the file, and once the file is
// readable again Commit writes them all. A UTF-16 file in mode 1, so that the writes wait
// in the queue; an ANSI file in mode 0, where they are also made at once.
void CommitOnUnreadableFile(const fs::path& path, int mode) {
  const Form form = mode == 1 ? Form::Utf16 : Form::Ansi;
  WriteBytes(path, Encode(form, u"[S]\r\nk=old\r\n"));
  UniqueBstr bstr = Bstr(U16Path(path));
  ComPtr<IOrvFileNavigator> navigator;
  ASSERT_HR(NewFormat()->CreateNavigator(bstr.Get(), 0, navigator.Receive()), S_OK);
  RecordArray first;
  first.AddText(u"S", u"k", u"new");
  ASSERT_HR(navigator->SetValues(0, 0, 0, first.Count(), first.Data(), 0), S_OK);
  const std::string before = ReadBytes(path);

  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  ASSERT_NE(::access(path.c_str(), R_OK), 0) << "the file is still readable";
  RecordArray second;
  second.AddText(u"S", u"added", u"1");
  ASSERT_HR(navigator->SetValues(0, 0, 0, second.Count(), second.Data(), 0), S_OK);
  EXPECT_HR(navigator->Commit(), E_FAIL);
  EXPECT_EQ(static_cast<CIniFile*>(navigator.Get())->PendingWriteCount(), 2u);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_EQ(ReadBytes(path), before);
  ASSERT_HR(navigator->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(path), Encode(form, u"[S]\r\nk=new\r\nadded=1\r\n"));
}

TEST_P(PosixFaultTest, CommitOnUnreadableFileKeepsTheQueue) {
  const fs::path path = m_dir / "settings.ini";
  if (::geteuid() != 0) {
    CommitOnUnreadableFile(path, Mode());
    return;
  }
  // Permissions do not stop root: run as the unprivileged user, in a process of its own.
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "running as root, and there is no user \"nobody\" to become";
  fs::permissions(m_dir.Path(), fs::perms::all);
  EXPECT_EXIT(
      {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) std::_Exit(2);
        CommitOnUnreadableFile(path, Mode());
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A disk that refuses the save: a file size limit makes the system refuse bytes as a full
// disk does, and a failing flush means the new content may never reach the disk. Either
// way the save fails with the old content in the file and no temporary file left, and
// the next Commit, once the disk takes it, writes it and leaves nothing beside the file.
// The flush row's file has a second name, so that it is rewritten in place.
TEST_P(PosixFaultTest, SaveOnAFullDiskLeavesTheOldFile) {
  const fs::path path = m_dir / "settings.ini";
  const fs::path other = m_dir / "other.ini";
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  decltype(SIG_IGN) previous = SIG_DFL;
  struct Row {
    const char* what;
    Form form;
    bool secondName;
    // Copies of the old content left beside the file after the failure: a flush that keeps
    // failing also fails the putting back, and the copy waits there for the next lock.
    std::size_t keptCopies;
    std::function<void()> refuse, restore;
  };
  const Row rows[] = {
      {"a file size limit", Form::Ansi, false, 0,
       [&] {
         rlimit limited = saved;
         limited.rlim_cur = 4096;
         previous = ::signal(SIGXFSZ, SIG_IGN);
         ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
       },
       [&] {
         ::setrlimit(RLIMIT_FSIZE, &saved);
         ::signal(SIGXFSZ, previous);
       }},
      // A UTF-16 file in mode 1, so that the save goes through the document.
      {"a flush that fails", Mode() == 1 ? Form::Utf16 : Form::Ansi, true, 1,
       [&] {
         struct stat info;
         ASSERT_EQ(::stat(path.c_str(), &info), 0);
         g_failFlushOf = info.st_ino;
       },
       [] { g_failFlushOf = 0; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string old =
        Encode(row.form, u"[S]\r\nk=old\r\n" + std::u16string(20000, u';') + u"\r\n");
    WriteBytes(path, old);
    fs::remove(other);
    if (row.secondName) fs::create_hard_link(path, other);
    const std::size_t names = row.secondName ? 2 : 1;
    ComPtr<IOrvFileNavigator> navigator = Open(U16Path(path));
    RecordArray records;
    records.AddText(u"S", u"k", u"new");

    row.refuse();
    const HRESULT set = navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0);
    const HRESULT committed = navigator->Commit();
    row.restore();

    EXPECT_HR(set, S_OK);  // the direct write's failure is left to Commit
    EXPECT_HR(committed, E_FAIL);
    EXPECT_TRUE(ReadBytes(path) == old) << "the old content is gone";
    EXPECT_EQ(FilesInFolder(), names + row.keptCopies);
    ASSERT_HR(navigator->Commit(), S_OK);
    const std::string written = Encode(row.form, u"[S]\r\nk=new\r\n");
    EXPECT_EQ(ReadBytes(path).substr(0, written.size()), written);
    if (row.secondName) {
      EXPECT_TRUE(ReadBytes(other) == ReadBytes(path)) << "the other name lost the file";
    }
    EXPECT_EQ(FilesInFolder(), names);
  }
}

// Neither waited on nor read: opening a FIFO would wait for a writer, a device like
// /dev/zero never ends. Each gets what a missing file gets.
TEST_P(PosixFaultTest, WhatIsNoRegularFileIsTakenAsMissing) {
  const fs::path path = m_dir / "settings.ini";
  int listener = -1;
  const std::vector<std::pair<const char*, std::function<void()>>> kinds = {
      {"FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }},
      {"character device", [&] { fs::create_symlink("/dev/zero", path); }},
      {"socket",
       [&] {
         listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         // Bound by its name in the current folder: a socket's path is limited to about a
         // hundred bytes, which a temporary folder's may pass.
         const std::string name = path.filename().string();
         ASSERT_LT(name.size(), sizeof address.sun_path);
         std::strcpy(address.sun_path, name.c_str());
         const fs::path before = fs::current_path();
         fs::current_path(m_dir.Path());
         const int bound = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
         fs::current_path(before);
         ASSERT_EQ(bound, 0);
       }},
      {"folder", [&] { fs::create_directory(path); }},
  };
  for (const auto& [kind, make] : kinds) {
    SCOPED_TRACE(kind);
    make();
    if (Mode() == 1) {
      EXPECT_EQ(Open(U16Path(path), E_FAIL).Get(), nullptr);
    } else {
      ComPtr<IOrvFileNavigator> navigator = Open(U16Path(path));
      RecordArray records;
      records.Add(u"S", u"k");
      EXPECT_HR(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), S_OK);
      EXPECT_EQ(records[0].value.vt, VT_EMPTY);
    }
    if (listener >= 0) ::close(std::exchange(listener, -1));
    fs::remove(path);
  }
}

// A sparse file of the size where the module's text would no longer fit: Init (mode 1)
// and Commit say so, reads answer as for a missing value, and nothing of it is read. A
// UTF-16 file in mode 1, so that Commit goes through the document.
TEST_P(PosixFaultTest, AFileTooLargeIsRefusedUnread) {
  const fs::path path = m_dir / "settings.ini";
  const Form form = Mode() == 1 ? Form::Utf16 : Form::Ansi;
  const std::uint64_t size = (form == Form::Utf16 ? 2 : 1) * std::uint64_t{text::LargestText()};
  WriteBytes(path, Encode(form, u"[S]\r\nk=v\r\n"));
  ComPtr<IOrvFileNavigator> navigator = Open(U16Path(path));
  RecordArray write;
  write.AddText(u"S", u"k", u"new");
  ASSERT_HR(navigator->SetValues(0, 0, 0, write.Count(), write.Data(), 0), S_OK);
  fs::resize_file(path, size);
  const HRESULT tooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  if (Mode() == 1) {
    EXPECT_EQ(navigator->Commit(), tooLarge);
    EXPECT_EQ(Open(U16Path(path), tooLarge).Get(), nullptr);
  } else {
    RecordArray read;
    read.Add(u"S", u"k");
    EXPECT_HR(navigator->GetValues(0, 0, 0, read.Count(), read.Data()), S_OK);
    EXPECT_EQ(read[0].value.vt, VT_EMPTY);
  }
  EXPECT_EQ(fs::file_size(path), size);
}

// What a committed save keeps of the file it replaces, and what it clears away beside it.
// Each row makes the file (and whatever else the row is about) and gives the name the
// navigator opens it by; the save writes k=new and the row checks the rest. A UTF-16 file
// in mode 1, so that the write waits in the queue for Commit; an ANSI file in mode 0,
// where the profile functions write it at once as well.
TEST_P(PosixFaultTest, SavesKeepWhatMakesTheFileItself) {
  const Form form = Mode() == 1 ? Form::Utf16 : Form::Ansi;
  const fs::path file = m_dir / "settings.ini";
  const std::string expected = Encode(form, u"[S]\r\nk=new\r\n");
  const fs::path other = m_dir / "other.ini";
  const fs::path leftover =
      m_dir / fs::path(platform::TemporaryName(file.filename().u16string(), u".tmp"));
  const fs::path longName = m_dir / (std::string(246, 'n') + ".ini");
  std::unique_ptr<platform::FileLock> held;
  struct Row {
    const char* what;
    std::function<fs::path()> make;  // returns the name the file is opened by
    std::function<void()> check;
  };
  const std::vector<Row> rows = {
      {"hard link",
       [&] {
         fs::create_hard_link(file, other);
         return file;
       },
       [&] {
         EXPECT_EQ(ReadBytes(other), expected) << "the other name lost the file";
         EXPECT_EQ(fs::hard_link_count(file), 2u);
       }},
      {"another user's file",
       [&] {
         if (::geteuid() == 0) {
           EXPECT_EQ(::chown(file.c_str(), 12345, 12345), 0);
         }
         return file;
       },
       [&] {
         struct stat info;
         ASSERT_EQ(::stat(file.c_str(), &info), 0);
         if (::geteuid() != 0) return;
         EXPECT_EQ(info.st_uid, 12345u);
         EXPECT_EQ(info.st_gid, 12345u);
       }},
      {"symbolic link",
       [&] {
         fs::create_symlink(file.filename(), other);
         return other;
       },
       [&] { EXPECT_TRUE(fs::is_symlink(other)); }},
      {"dangling symbolic link",
       [&] {
         fs::remove(file);
         fs::create_symlink(file.filename(), other);
         return other;
       },
       [&] { EXPECT_TRUE(fs::is_symlink(other)); }},
      {"name of 250 characters",
       [&] {
         fs::rename(file, longName);
         return longName;
       },
       [&] {
         EXPECT_EQ(ReadBytes(longName), expected);
         fs::rename(longName, file);
       }},
      {"a killed save's temporary file",
       [&] {
         WriteBytes(leftover, "[S]\r\nk=half");
         return file;
       },
       [&] { EXPECT_FALSE(fs::exists(leftover)); }},
      {"a lock another writer holds",
       [&] {
         held = std::make_unique<platform::FileLock>(U16Path(file), platform::FileLock::Missing::Fail);
         EXPECT_TRUE(held->Held());
         return file;
       },
       [] {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove(other);
    WriteBytes(file, Encode(form, u"[S]\r\nk=old\r\n"));
    const fs::path opened = row.make();
    if (!fs::exists(opened) && Mode() == 1) {
      EXPECT_EQ(Open(U16Path(opened), E_FAIL).Get(), nullptr);  // as any missing file
      continue;
    }
    {
      ComPtr<IOrvFileNavigator> navigator = Open(U16Path(opened));
      ASSERT_NE(navigator.Get(), nullptr);
      RecordArray records;
      records.AddText(u"S", u"k", u"new");
      if (held) {
        // The other writer keeps its lock past our wait: the save fails and loses nothing.
        platform::SetLockWaitForTesting(50);
        EXPECT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
        EXPECT_HR(navigator->Commit(), E_FAIL);
        EXPECT_EQ(static_cast<CIniFile*>(navigator.Get())->PendingWriteCount(), 1u);
        EXPECT_EQ(ReadBytes(file), Encode(form, u"[S]\r\nk=old\r\n"));
        held.reset();
        platform::SetLockWaitForTesting(-1);
      } else {
        ASSERT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
      }
      ASSERT_HR(navigator->Commit(), S_OK);
    }
    row.check();
    EXPECT_EQ(ReadBytes(file), expected);
    for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
      EXPECT_TRUE(entry.path() == file || entry.path() == other) << entry.path() << " is left";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, PosixFaultTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
