// SetValues and Commit in both profile modes, on files of every form. In mode 1 a UTF-16
// file is read and written through the navigator's own document; everything else goes
// through the profile functions as well, with a direct write per value.
#include <chrono>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "support/FileForms.h"
#include "support/HeldFile.h"
#include "PluginFixture.h"
#include "platform/file_lock.h"
#include "platform/path.h"
#include "platform/replace.h"
#include "platform/system_profile.h"
#include "profile/FileRoute.h"
#include "support/Hresult.h"
#include "support/RecordArray.h"
#include "text/Encoding.h"

namespace iniplugin::test {
namespace {

class SetValuesTest : public PluginTest {
 protected:
  void TearDown() override {
    platform::SetWriteFailureForTesting(-1);
    PluginTest::TearDown();
  }

  ComPtr<IOrvFileNavigator> OpenWith(Form form, std::u16string_view text) {
    m_form = form;
    m_path = m_dir / "settings.ini";
    WriteBytes(m_path, Encode(form, text));
    return Open(U16Path(m_path));
  }
  std::string FileBytes() const { return ReadBytes(m_path); }
  std::string Expected(std::u16string_view text) const { return Encode(m_form, text); }
  // Whether writes wait in the document until Commit (no direct write).
  bool Deferred(Form form) const { return Mode() == 1 && form == Form::Utf16; }
  bool Deferred() const { return Deferred(m_form); }
  // Whether the system's own profile functions write a file of `form`: our injected write
  // failures never reach them.
  bool SystemWrites(Form form) const {
    return platform::SystemProfile() && form != Form::Utf8 && !Deferred(form);
  }

  static HRESULT Set(IOrvFileNavigator* navigator, LONG firstMatch, RecordArray& records,
                     LONG dateLayout = 0) {
    return navigator->SetValues(0, firstMatch, 0, records.Count(), records.Data(), dateLayout);
  }
  static std::size_t Pending(IOrvFileNavigator* navigator) {
    return static_cast<CIniFile*>(navigator)->PendingWriteCount();
  }

  Form m_form = Form::Ansi;
  std::filesystem::path m_path;
};

TEST_P(SetValuesTest, CommitWithNothingQueuedTouchesNothing) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\na=1");  // would be normalised
    EXPECT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(FileBytes(), Expected(u"[S]\na=1"));
  }
}

// Where the direct writes already left the file as Commit would write it, Commit does not
// write it a second time.
TEST_P(SetValuesTest, CommitLeavesAFileThatHoldsItsWritesAlone) {
  namespace fs = std::filesystem;
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nk=old\r\n");
    RecordArray records;
    records.AddText(u"S", u"k", u"new");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    const bool alreadyThere = FileBytes() == Expected(u"[S]\r\nk=new\r\n");
    EXPECT_EQ(alreadyThere, !Deferred());
    // An hour old, as far as the file system's time resolution goes: a rewrite makes it new.
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(m_path, now - std::chrono::hours(1));
    ASSERT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=new\r\n"));
    EXPECT_EQ(fs::last_write_time(m_path) < now - std::chrono::minutes(30), alreadyThere);
    EXPECT_EQ(Pending(navigator.Get()), 0u);
  }
}

TEST_P(SetValuesTest, WritesReachTheFileAndKeepEverythingElse) {
  const std::u16string before =
      u"; settings\r\n[Main]\r\nName = old\r\nkeep=1\r\n\r\n[Other]\r\nx=\u00E9\r\n";
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, before);
    RecordArray records;
    records.AddText(u"Main", u"Name ", u"new");
    records.AddText(u"Other", u"added", u"v");
    records.AddText(u"New", u"Key", u"1");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].handled, 1);
    if (Deferred()) {
      EXPECT_EQ(FileBytes(), Expected(before));
    }
    EXPECT_EQ(Pending(navigator.Get()), 3u);
    ASSERT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(Pending(navigator.Get()), 0u);
    if (Deferred()) {
      // Only the document wrote: the file is the old one with three changes, byte for byte.
      EXPECT_EQ(FileBytes(), Expected(u"; settings\r\n[Main]\r\nName =new\r\nkeep=1\r\n\r\n"
                                      u"[Other]\r\nx=\u00E9\r\nadded=v\r\n[New]\r\nKey=1\r\n"));
    } else if (form == Form::Utf8 || !platform::SystemProfile()) {
      // Our own profile functions wrote (UTF-8 files are theirs on every system): only the
      // lines written changed, and the file is still valid UTF-8.
      EXPECT_EQ(FileBytes(), Expected(u"; settings\r\n[Main]\r\nName = new\r\nkeep=1\r\n\r\n"
                                      u"[Other]\r\nx=\u00E9\r\nadded=v\r\n[New]\r\nKey=1\r\n"));
    }
    // Whoever wrote, both readers now see the new values.
    RecordArray read;
    read.Add(u"Main", u"Name ");  // the document keeps the space; the profile reader trims
    read.Add(u"Other", u"added");
    read.Add(u"New", u"Key");
    read.Add(u"Main", u"keep");
    ASSERT_HR(navigator->GetValues(0, 0, 0, read.Count(), read.Data()), S_OK);
    EXPECT_EQ(read.Text(0), u"new");
    EXPECT_EQ(read.Text(1), u"v");
    EXPECT_EQ(read.Text(2), u"1");
    EXPECT_EQ(read.Text(3), u"1");
    WCHAR buffer[64];
    profile::ReadProfileString(platform::AsWide(u"New"), platform::AsWide(u"Key"),
                             platform::AsWide(u""), buffer, 64,
                             platform::AsWide(U16Path(m_path).c_str()));
    EXPECT_EQ(std::u16string(platform::AsU16(buffer)), u"1");
  }
}

TEST_P(SetValuesTest, DirectWritesAreInTheFileBeforeCommit) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\na=1\r\n");
    RecordArray records;
    records.AddText(u"S", u"a", u"2");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    const std::size_t mark = form == Form::Ansi ? 0 : form == Form::Utf16 ? 2 : 3;
    const bool inFile = FileBytes().find(Expected(u"a=2").substr(mark)) != std::string::npos;
    EXPECT_EQ(inFile, !Deferred());
    // Released without Commit: only the direct write stays.
    navigator.Reset();
    EXPECT_EQ(FileBytes(), Deferred() ? Expected(u"[S]\r\na=1\r\n") : Expected(u"[S]\r\na=2\r\n"));
  }
}

TEST_P(SetValuesTest, LastOfTwoWritesWins) {
  ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Utf16, u"[S]\r\n");
  for (const char16_t* value : {u"first", u"second"}) {
    RecordArray records;
    records.AddText(u"S", u"k", value);
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
  }
  ASSERT_HR(navigator->Commit(), S_OK);
  EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=second\r\n"));
}

TEST_P(SetValuesTest, FirstMatchWritesTheFirstRecordWithAValueAndCommits) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nempty=\r\nhas=old\r\n");
    RecordArray records;
    records.AddText(u"S", u"empty", u"a");  // an empty value does not count
    records.AddText(u"S", u"has", u"b");
    records.AddText(u"S", u"missing", u"c");
    ASSERT_HR(Set(navigator.Get(), 1, records), S_OK);
    EXPECT_EQ(records[0].handled, 0);
    EXPECT_EQ(records[1].handled, 1);
    EXPECT_EQ(records[2].handled, RecordArray::kUntouched);
    EXPECT_EQ(Pending(navigator.Get()), 0u);  // committed within the call
    EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nempty=\r\nhas=b\r\n"));
  }
}

TEST_P(SetValuesTest, FirstMatchWithoutAnyValueQueuesTheFirstRecord) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\n");
    RecordArray records;
    records.AddText(u"S", u"one", u"1");
    records.AddText(u"S", u"two", u"2");
    ASSERT_HR(Set(navigator.Get(), 1, records), S_OK);
    EXPECT_EQ(records[0].handled, 1);
    EXPECT_EQ(records[1].handled, 0);
    EXPECT_EQ(Pending(navigator.Get()), 1u);
    ASSERT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(FileBytes(), Expected(u"[S]\r\none=1\r\n"));
  }
}

// The file as a person or another program left it: a write changes the one line the
// profile functions read the key from (or adds one), and every other byte stays.
TEST_P(SetValuesTest, AWriteLandsOnTheLineItIsReadFrom) {
  struct Row {
    const char* name;
    std::optional<std::string> before;  // none: no file
    const char16_t* section;
    const char16_t* key;
    std::string after;
  };
  const Row rows[] = {
      {"blanks around =", "[Document]\r\nRevision = 3\r\n", u"Document", u"Revision",
       "[Document]\r\nRevision = 9\r\n"},
      {"header with a comment", "[Document] ; main\r\nRevision=3\r\n", u"Document",
       u"Revision", "[Document] ; main\r\nRevision=9\r\n"},
      {"duplicate keys", "[S]\r\nk=1\r\nk=2\r\n", u"S", u"k", "[S]\r\nk=9\r\nk=2\r\n"},
      {"duplicate sections", "[S]\r\na=1\r\n[T]\r\n[S]\r\nk=1\r\n", u"S", u"k",
       "[S]\r\na=1\r\nk=9\r\n[T]\r\n[S]\r\nk=1\r\n"},
      {"CR line ends", "[S]\rk=1\ra=2\r", u"S", u"k", "[S]\rk=9\ra=2\r"},
      {"LF line ends", "[S]\n    keep=1\n    k=1\n", u"S", u"k", "[S]\n    keep=1\n    k=9\n"},
      {"mixed line ends", "[S]\r\nk=1\na=2\r[T]\r\n", u"S", u"a",
       "[S]\r\nk=1\na=9\r[T]\r\n"},
      {"tabs", "[S]\r\n\tk\t=\t1\t\r\n", u"S", u"k", "[S]\r\n\tk\t=\t9\r\n"},
      {"quoted value", "[S]\r\nk=\"1 2\"\r\n", u"S", u"k", "[S]\r\nk=9\r\n"},
      {"key named with blanks", "[ S ]\r\n k =1\r\n", u"S", u"k", "[ S ]\r\n k =9\r\n"},
      {"empty file", "", u"S", u"k", "[S]\r\nk=9\r\n"},
      {"missing file", std::nullopt, u"S", u"k", "[S]\r\nk=9\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.before && Mode() == 1) continue;  // Init loads the file there, and fails
    m_path = m_dir / "settings.ini";
    std::filesystem::remove(m_path);
    if (row.before) WriteBytes(m_path, *row.before);
    ComPtr<IOrvFileNavigator> navigator = Open(U16Path(m_path));
    RecordArray records;
    records.AddText(row.section, row.key, u"9");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    ASSERT_HR(navigator->Commit(), S_OK);
    // Windows' writer changes only its line, as ours does; Wine's, which the win32 tests
    // run, rewrites the whole file in a form of its own, so the bytes are ours to check.
    if (!platform::SystemProfile()) {
      EXPECT_EQ(FileBytes(), row.after);
    }
    RecordArray read;
    read.Add(row.section, row.key);
    ASSERT_HR(navigator->GetValues(0, 0, 0, read.Count(), read.Data()), S_OK);
    EXPECT_EQ(read.Text(0), u"9");
  }
}

TEST_P(SetValuesTest, RefusesTextThatWouldChangeTheFilesStructure) {
  // The structure-breaking texts, and text an ANSI file cannot hold as it is (the
  // system's writer would put "?" or a look-alike in its place and report success).
  constexpr HRESULT kNoTranslation = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  struct Row {
    const char16_t* section;
    const char16_t* key;
    std::u16string value;
    HRESULT result = E_INVALIDARG;
    bool ansiOnly = false;
  };
  const Row refused[] = {
      {u"S", u"k", u"1\r\n[Injected]"}, {u"S", u"k", u"line\nbreak"}, {u"S\r\nx", u"k", u"v"},
      {u"S", u"k\n", u"v"},             {u"S", u"", u"v"},            {u"S", nullptr, u"v"},
      {u"S", u"a=b", u"v"},             {u"S", u";c", u"v"},          {u"S", u"  ;c", u"v"},
      {u"S", u"[T]", u"v"},             {u"S", u" k", u"v"},          {u"", u"k", u"v"},
      {nullptr, u"k", u"v"},            {u" \t", u"k", u"v"},        {u"a]b", u"k", u"v"},
      {u"\tS", u"k", u"v"},             {u"S \v ", u"k", u"v"},       {u"S", u"k\t", u"v"},
      {u"S", u"k \x1A", u"v"},
      {u"S", u"k", u"\u0141\u00F3d\u017A", kNoTranslation, true},
      {u"\u0141\u00F3d\u017A", u"k", u"v", kNoTranslation, true},
      {u"S", u"\u20AC\U0001F600", u"v", kNoTranslation, true},
  };
  for (Form form : kForms) {
    for (const Row& row : refused) {
      if (row.ansiOnly && form != Form::Ansi) continue;
      SCOPED_TRACE(FormName(form));
      ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nk=old\r\n");
      RecordArray records;
      records.AddText(u"S", u"before", u"1");
      records.AddText(row.section, row.key, row.value);
      records.AddText(u"S", u"after", u"2");
      EXPECT_HR(Set(navigator.Get(), 0, records), row.result);
      EXPECT_EQ(records[0].handled, 1);
      EXPECT_EQ(records[1].handled, 0);
      EXPECT_EQ(records[2].handled, 1);
      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=old\r\nbefore=1\r\nafter=2\r\n"));
    }
  }
}

TEST_P(SetValuesTest, ValueWithoutTextFormIsReportedNotThrown) {
  ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Ansi, u"[S]\r\n");
  RecordArray records;
  records.Add(u"S", u"null").value.vt = VT_NULL;
  records.AddText(u"S", u"ok", u"1");
  EXPECT_HR(Set(navigator.Get(), 0, records), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(records[0].handled, 0);
  EXPECT_EQ(records[1].handled, 1);

  // With the first-match flag the chosen record's failure writes nothing.
  ComPtr<IOrvFileNavigator> again = OpenWith(Form::Ansi, u"[S]\r\nk=1\r\n");
  RecordArray chosen;
  chosen.Add(u"S", u"k").value.vt = VT_NULL;
  EXPECT_HR(Set(again.Get(), 1, chosen), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(chosen[0].handled, 0);
  EXPECT_EQ(Pending(again.Get()), 0u);
  EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=1\r\n"));
}

TEST_P(SetValuesTest, ArgumentsOutsideTheRange) {
  ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Ansi, u"[S]\r\n");
  EXPECT_HR(navigator->SetValues(0, 0, 0, 3, nullptr, 0), E_POINTER);
  EXPECT_HR(navigator->SetValues(0, 1, 0, 3, nullptr, 0), E_POINTER);
  EXPECT_HR(navigator->SetValues(0, 0, 0, 0, nullptr, 0), S_OK);
  RecordArray records;
  records.AddText(u"S", u"k", u"v");
  EXPECT_HR(navigator->SetValues(0, 0, 0, -1, records.Data(), 0), S_OK);
  EXPECT_HR(navigator->SetValues(0, 1, 0, 0, records.Data(), 0), S_OK);
  EXPECT_EQ(records[0].handled, RecordArray::kUntouched);
  EXPECT_EQ(Pending(navigator.Get()), 0u);
}

TEST_P(SetValuesTest, DatesAreWrittenInTheLayoutAsked) {
  ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Ansi, u"[S]\r\n");
  RecordArray records;
  OrvVariableRecord& record = records.Add(u"S", u"when");
  record.value.vt = VT_DATE;
  record.value.date = 45356.588298611;  // 5 March 2024, 14:07:09
  ASSERT_HR(Set(navigator.Get(), 0, records, 120), S_OK);
  ASSERT_HR(navigator->Commit(), S_OK);
  EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nwhen=2024-03-05\r\n"));
}

// A folder in the file's place fails every Commit and keeps the queue. Once the folder is
// gone, the profile functions write the values into a new file (they read back, so
// Commit succeeds); the document cannot load a missing file and waits for one.
TEST_P(SetValuesTest, CommitThatCannotLoadKeepsTheQueue) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\n");
    RecordArray records;
    records.AddText(u"S", u"a", u"1");
    records.AddText(u"S", u"b", u"2");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    std::filesystem::remove(m_path);
    std::filesystem::create_directory(m_path);  // a folder in its place
    EXPECT_HR(navigator->Commit(), E_FAIL);
    EXPECT_EQ(Pending(navigator.Get()), 2u);
    std::filesystem::remove(m_path);
    if (!Deferred()) {
      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), "[S]\r\na=1\r\nb=2\r\n");  // a new file is ANSI
      continue;
    }
    EXPECT_HR(navigator->Commit(), E_FAIL);
    EXPECT_EQ(Pending(navigator.Get()), 2u);
    WriteBytes(m_path, Encode(form, u"[S]\r\nother=x\r\n"));
    ASSERT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nother=x\r\na=1\r\nb=2\r\n"));
  }
}

// A file that turned into one the document cannot hold without loss, or was made
// read-only, after the writes were made: Commit reports E_FAIL, keeps the queue and
// leaves the file byte for byte.
TEST_P(SetValuesTest, CommitRefusesFilesItMayNotOrCannotRewrite) {
  namespace fs = std::filesystem;
  const std::pair<const char*, std::string> refused[] = {
      {"UTF-16 without a mark", Utf16Bytes(u"[S]\r\na=1\r\n")},
      {"big-endian UTF-16", "\xFE\xFF" + std::string("\0[\0S\0]", 6)},
      {"odd-length UTF-16", "\xFF\xFE" + Utf16Bytes(u"[S]") + "x"},
      {"invalid UTF-8 after its mark", "\xEF\xBB\xBF[S]\r\na=\xC3\r\n"},
      {"read-only", "[S]\r\na=1\r\n"},
  };
  for (const auto& [name, bytes] : refused) {
    SCOPED_TRACE(name);
    // UTF-16, so that in mode 1 the write waits for Commit.
    ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Utf16, u"[S]\r\n");
    RecordArray records;
    records.AddText(u"S", u"k", u"v");
    ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
    WriteBytes(m_path, bytes);
    const bool readOnly = std::string_view(name) == "read-only";
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write |
                               fs::perms::others_write;
    if (readOnly) fs::permissions(m_path, writable, fs::perm_options::remove);
    EXPECT_HR(navigator->Commit(), E_FAIL);
    EXPECT_EQ(Pending(navigator.Get()), 1u);
    EXPECT_EQ(FileBytes(), bytes);
    if (readOnly) {
      fs::permissions(m_path, fs::perms::owner_write, fs::perm_options::add);
      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), "[S]\r\na=1\r\nk=v\r\n");
    }
  }
}

// The save fails: a full disk for our writers (after nothing, a few bytes, all but the last
// byte), a file held without sharing for the system's.
TEST_P(SetValuesTest, FailedSaveLeavesTheFileAndKeepsTheQueue) {
  for (Form form : kForms) {
    const auto newSize = static_cast<long long>(Encode(form, u"[S]\r\nk=new\r\n").size());
    for (long long failAfter : {0LL, 3LL, newSize - 1}) {
      if (SystemWrites(form) && failAfter != 0) continue;
      SCOPED_TRACE(FormName(form) + " failing after " + std::to_string(failAfter) + " bytes");
      ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nk=old\r\n");
      RecordArray records;
      records.AddText(u"S", u"k", u"new");
      ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
      // Another program puts the old value back, so that Commit has a change to save.
      WriteBytes(m_path, Encode(form, u"[S]\r\nk=old\r\n"));
      const std::string direct = FileBytes();
      RecordArray before;
      before.Add(u"S", u"k");
      ASSERT_HR(navigator->GetValues(0, 0, 0, before.Count(), before.Data()), S_OK);

      {
        std::optional<HeldWithoutSharing> held;
        if (SystemWrites(form)) {
          held.emplace(m_path);
        } else {
          platform::SetWriteFailureForTesting(failAfter);
        }
        EXPECT_HR(navigator->Commit(), E_FAIL);
        platform::SetWriteFailureForTesting(-1);
      }
      EXPECT_EQ(FileBytes(), direct);
      EXPECT_EQ(Pending(navigator.Get()), 1u);
      // Reads still show the file as it is, not the save that failed.
      RecordArray after;
      after.Add(u"S", u"k");
      ASSERT_HR(navigator->GetValues(0, 0, 0, after.Count(), after.Data()), S_OK);
      EXPECT_EQ(after.Text(0), before.Text(0));

      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=new\r\n"));
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()),
                              std::filesystem::directory_iterator()),
                1);
    }
  }
}

// The direct write refused (a folder where the file was; the platform's own writer cannot
// be made to fail otherwise): SetValues still queues the value, and Commit writes it once
// the file is back.
TEST_P(SetValuesTest, FailedDirectWriteIsLeftToCommit) {
  namespace fs = std::filesystem;
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nk=old\r\n");
    RecordArray records;
    records.AddText(u"S", u"k", u"new");
    fs::remove(m_path);
    fs::create_directory(m_path);
    EXPECT_HR(Set(navigator.Get(), 0, records), S_OK);
    EXPECT_EQ(records[0].handled, 1);
    EXPECT_EQ(Pending(navigator.Get()), 1u);
    EXPECT_TRUE(fs::is_empty(m_path));
    fs::remove(m_path);
    WriteBytes(m_path, Encode(form, u"[S]\r\nk=old\r\nother=1\r\n"));
    ASSERT_HR(navigator->Commit(), S_OK);
    EXPECT_EQ(FileBytes(), Expected(u"[S]\r\nk=new\r\nother=1\r\n"));
  }
}

// Each kind of failure as the host reads it from the thread's error object: one sentence
// naming the file or variable, the reason, and what was kept.
TEST_P(SetValuesTest, FailuresAreToldThroughTheErrorObject) {
  enum class Step { Open, OpenTooLarge, SetLineBreak, CommitOnFullDisk, CommitWhileHeld, CommitReadOnly };
  struct Row {
    const char* name;
    int mode;  // -1: both
    Step step;
    std::string bytes;
    HRESULT hr;
    std::u16string sentence;  // "@" stands for the file's full path
  };
  const std::string utf16 = Encode(Form::Utf16, u"[S]\r\nk=old\r\n");
  const Row rows[] = {
      {"not UTF-8", 1, Step::Open, "\xEF\xBB\xBF[S]\r\nk=\xC3(\r\n", E_FAIL,
       u"@ is not valid UTF-8 (byte 10); it was left unchanged."},
      {"big-endian", 1, Step::Open, std::string("\xFE\xFF\0[", 4), E_FAIL,
       u"@ is big-endian UTF-16 (mark FE FF), which the plug-in cannot write back; it was left "
       u"unchanged."},
      {"too large", 1, Step::OpenTooLarge, utf16, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
       u"@ is too large for the plug-in to load; it was left unchanged."},
      {"line break", -1, Step::SetLineBreak, utf16, E_INVALIDARG,
       u"[S] k: a value cannot hold a line break; nothing was written."},
      {"full disk", 1, Step::CommitOnFullDisk, utf16, E_FAIL,
       u"@ could not be saved: the disk is full; it was left unchanged and the queued value was "
       u"kept for the next Commit."},
      {"held", 1, Step::CommitWhileHeld, utf16, E_FAIL,
       u"@ is held by another program; the queued value was kept for the next Commit."},
      {"read-only", -1, Step::CommitReadOnly, "[S]\r\nk=old\r\n", E_FAIL,
       u"@ is read-only; the queued value was kept for the next Commit."},
  };
  for (const Row& row : rows) {
    if (row.mode != -1 && row.mode != Mode()) continue;
    SCOPED_TRACE(row.name);
    m_path = m_dir / "settings.ini";
    WriteBytes(m_path, row.bytes);
    const std::u16string path = platform::FullPath(U16Path(m_path));
    ComPtr<IOrvFileNavigator> navigator;
    RecordArray records;
    records.AddText(u"S", u"k", row.step == Step::SetLineBreak ? u"a\r\nb" : u"new");
    switch (row.step) {
      case Step::OpenTooLarge:
        std::filesystem::resize_file(m_path, 2 * std::uint64_t{text::LargestText()});
        [[fallthrough]];
      case Step::Open:
        Open(path, row.hr);
        break;
      case Step::SetLineBreak:
        navigator = Open(path);
        EXPECT_HR(Set(navigator.Get(), 0, records), row.hr);
        break;
      case Step::CommitOnFullDisk:
      case Step::CommitWhileHeld: {
        navigator = Open(path);
        ASSERT_HR(Set(navigator.Get(), 0, records), S_OK);
        std::optional<platform::FileLock> held;
        if (row.step == Step::CommitWhileHeld) {
          held.emplace(path, platform::FileLock::Missing::Fail);
          platform::SetLockWaitForTesting(50);
        }
        platform::SetWriteFailureForTesting(row.step == Step::CommitOnFullDisk ? 3 : -1);
        EXPECT_HR(navigator->Commit(), row.hr);
        platform::SetWriteFailureForTesting(-1);
        platform::SetLockWaitForTesting(-1);
        break;
      }
      case Step::CommitReadOnly: {
        namespace fs = std::filesystem;
        navigator = Open(path);
        fs::permissions(m_path, fs::perms::owner_write | fs::perms::group_write |
                                    fs::perms::others_write, fs::perm_options::remove);
        EXPECT_HR(Set(navigator.Get(), 0, records), S_OK);
        EXPECT_HR(navigator->Commit(), row.hr);
        EXPECT_EQ(FileBytes(), row.bytes);
        fs::permissions(m_path, fs::perms::owner_write, fs::perm_options::add);
        break;
      }
    }
    platform::ComPtr<IErrorInfo> error;
    ASSERT_HR(GetErrorInfo(0, error.Receive()), S_OK);
    UniqueBstr description, source;
    ASSERT_HR(error->GetDescription(description.Receive()), S_OK);
    std::u16string expected = row.sentence;
    if (const std::size_t at = expected.find(u'@'); at != std::u16string::npos) {
      expected.replace(at, 1, path);
    }
    EXPECT_EQ(description.View(), expected);
    ASSERT_HR(error->GetSource(source.Receive()), S_OK);
    EXPECT_EQ(source.View(), navigator ? u"IniPlugin.IniFile" : u"IniPlugin.IniFormat");

    // A success afterwards leaves none behind, as does the reading itself.
    if (navigator) {
      Set(navigator.Get(), 0, records);
      ASSERT_HR(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), S_OK);
      EXPECT_HR(GetErrorInfo(0, error.Receive()), S_FALSE);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SetValuesTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
