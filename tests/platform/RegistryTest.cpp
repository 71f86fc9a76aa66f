// The registry interface on both backends. In the win32 build the ClassesRoot backend is
// the system's registry, so every case here is also a check that the text-file registry
// answers as the system does.
#include <gtest/gtest.h>

#include "support/Hresult.h"
#include "support/RegistrySupport.h"

namespace iniplugin::test {
namespace {

std::string Repeated(std::string_view text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out.append(text);
  return out;
}

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kHasSubkeys = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

using RegistryBackendTest = RegistryTest;

TEST_P(RegistryBackendTest, KeysAreCreatedWithTheirParentsAndFoundWithoutRegardToCase) {
  EXPECT_HR(m_registry->KeyExists(u"Alpha"), S_FALSE);
  ASSERT_HR(m_registry->CreateKey(u"Alpha\\Beta\\Gamma"), S_OK);
  EXPECT_HR(m_registry->KeyExists(u"alpha\\BETA"), S_OK);
  EXPECT_HR(m_registry->CreateKey(u"ALPHA\\beta"), S_OK);  // exists: left as it is
  std::vector<std::u16string> names;
  ASSERT_HR(m_registry->ListSubkeys(u"alpha", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::u16string>{u"Beta"});  // the case it was made with
  EXPECT_EQ(m_registry->ListSubkeys(u"Missing", &names), kNotFound);
}

TEST_P(RegistryBackendTest, StringValues) {
  ASSERT_HR(m_registry->CreateKey(u"Key"), S_OK);
  ASSERT_HR(m_registry->SetValue(u"Key", u"", u"default"), S_OK);
  ASSERT_HR(m_registry->SetValue(u"Key", u"Named", u"C:\\Path \"quoted\" \u00e9\U0001F600"), S_OK);
  ASSERT_HR(m_registry->SetValue(u"Key", u"named", u"again"), S_OK);  // same value

  std::u16string text = u"stale";
  EXPECT_HR(m_registry->GetValue(u"key", u"", &text), S_OK);
  EXPECT_EQ(text, u"default");
  EXPECT_HR(m_registry->GetValue(u"Key", u"NAMED", &text), S_OK);
  EXPECT_EQ(text, u"again");
  EXPECT_HR(m_registry->GetValue(u"Key", u"Absent", &text), S_FALSE);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(m_registry->GetValue(u"NoKey", u"", &text), kNotFound);
  EXPECT_EQ(m_registry->SetValue(u"NoKey", u"", u"x"), kNotFound);

  EXPECT_HR(m_registry->DeleteValue(u"Key", u"named"), S_OK);
  EXPECT_HR(m_registry->DeleteValue(u"Key", u"named"), S_FALSE);
  EXPECT_HR(m_registry->DeleteValue(u"NoKey", u"named"), S_FALSE);
  std::vector<std::u16string> names;
  ASSERT_HR(m_registry->ListValues(u"Key", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::u16string>{u""});
}

TEST_P(RegistryBackendTest, DeletingKeys) {
  ASSERT_HR(m_registry->CreateKey(u"Parent\\Child\\Grandchild"), S_OK);
  ASSERT_HR(m_registry->SetValue(u"Parent\\Child", u"v", u"x"), S_OK);

  EXPECT_EQ(m_registry->DeleteKey(u"Parent\\Child"), kHasSubkeys);
  EXPECT_HR(m_registry->KeyExists(u"Parent\\Child"), S_OK);
  EXPECT_HR(m_registry->DeleteKey(u"Parent\\Child\\Grandchild"), S_OK);
  EXPECT_HR(m_registry->DeleteKey(u"Parent\\Child"), S_OK);  // values go with it
  EXPECT_HR(m_registry->DeleteKey(u"Parent\\Child"), S_FALSE);
  EXPECT_HR(m_registry->DeleteKey(u"Nowhere\\Child"), S_FALSE);

  ASSERT_HR(m_registry->CreateKey(u"Parent\\A\\B\\C"), S_OK);
  EXPECT_HR(m_registry->DeleteTree(u"Parent"), S_OK);
  EXPECT_HR(m_registry->KeyExists(u"Parent"), S_FALSE);
  EXPECT_HR(m_registry->DeleteTree(u"Parent"), S_FALSE);
  EXPECT_EQ(Dump(*m_registry), "");
}

TEST_P(RegistryBackendTest, MalformedPathsAreRefused) {
  for (const std::u16string path : {u"a\\\\b", u"\\a", u"a\\", u"a\\b\x01"}) {
    SCOPED_TRACE(Narrow(path));
    EXPECT_HR(m_registry->CreateKey(path), E_INVALIDARG);
    EXPECT_HR(m_registry->DeleteTree(path), E_INVALIDARG);
  }
  // The registry's own root is not deleted through it.
  EXPECT_HR(m_registry->DeleteKey(u""), E_INVALIDARG);
  EXPECT_HR(m_registry->DeleteTree(u""), E_INVALIDARG);
}

TEST_P(RegistryBackendTest, CommittedChangesAreSeenByTheNextReader) {
  ASSERT_HR(m_registry->CreateKey(u"CLSID\\{X}\\InprocServer32"), S_OK);
  ASSERT_EQ(m_registry->SetValue(u"CLSID\\{X}\\InprocServer32", u"ThreadingModel", u"Both"),
            S_OK);
  ASSERT_HR(m_registry->Commit(), S_OK);
  EXPECT_EQ(Dump(*Open()),
            "[CLSID]\n"
            "  [{X}]\n"
            "    [InprocServer32]\n"
            "      ThreadingModel=Both\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, RegistryBackendTest,
                         ::testing::Values(Backend::File, Backend::ClassesRoot), BackendName);

// ---- the text file behind the file registry ----

class FileRegistryTest : public ::testing::Test {
 protected:
  std::unique_ptr<Registry> Open(HRESULT expected = S_OK) {
    std::unique_ptr<Registry> registry;
    EXPECT_EQ(portable::OpenFileRegistry(U16Path(m_path), u"", &registry), expected);
    return registry;
  }
  TempDir m_dir;
  std::filesystem::path m_path = m_dir / "registry.reg";
};

TEST_F(FileRegistryTest, WritesAReadableRegedit4File) {
  auto registry = Open();
  ASSERT_HR(registry->CreateKey(u"IniPlugin.IniFormat\\CurVer"), S_OK);
  ASSERT_HR(registry->CreateKey(u"CLSID\\{8D9885B2}\\InprocServer32"), S_OK);
  ASSERT_EQ(registry->SetValue(u"CLSID\\{8D9885B2}\\InprocServer32", u"ThreadingModel", u"Both"),
            S_OK);
  ASSERT_EQ(registry->SetValue(u"CLSID\\{8D9885B2}\\InprocServer32", u"", u"/opt/a \"b\"\\c"),
            S_OK);
  ASSERT_HR(registry->SetValue(u"IniPlugin.IniFormat", u"", u"Caf\u00e9"), S_OK);
  ASSERT_HR(registry->CreateKey(u"Empty"), S_OK);
  EXPECT_FALSE(std::filesystem::exists(m_path)) << "written before Commit";
  ASSERT_HR(registry->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(m_path),
            "REGEDIT4\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{8D9885B2}]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{8D9885B2}\\InprocServer32]\n"
            "@=\"/opt/a \\\"b\\\"\\\\c\"\n"
            "\"ThreadingModel\"=\"Both\"\n"
            "\n[HKEY_CLASSES_ROOT\\Empty]\n"
            "\n[HKEY_CLASSES_ROOT\\IniPlugin.IniFormat]\n"
            "@=\"Caf\xC3\xA9\"\n"
            "\n[HKEY_CLASSES_ROOT\\IniPlugin.IniFormat\\CurVer]\n");
}

TEST_F(FileRegistryTest, KeepsOtherHivesAndWritesNothingWhenNothingChanged) {
  const std::string original =
      "REGEDIT4\r\n; a note\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"a\"=\"1\"\r\n";
  WriteBytes(m_path, original);
  auto registry = Open();
  ASSERT_HR(registry->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(m_path), original);
  ASSERT_HR(registry->CreateKey(u"New"), S_OK);
  ASSERT_HR(registry->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(m_path),
            "REGEDIT4\n"
            "\n[HKEY_CLASSES_ROOT\\New]\n"
            "\n[HKEY_CURRENT_USER\\Software]\n"
            "\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"1\"\n");
}

TEST_F(FileRegistryTest, RefusesWhatCannotBeStoredInALine) {
  auto registry = Open();
  ASSERT_HR(registry->CreateKey(u"K"), S_OK);
  EXPECT_HR(registry->SetValue(u"K", u"", u"two\nlines"), E_INVALIDARG);
  EXPECT_HR(registry->SetValue(u"K", u"a\rb", u"x"), E_INVALIDARG);
  EXPECT_HR(registry->SetValue(u"K", u"", std::u16string_view(u"nul\0", 4)), E_INVALIDARG);
}

TEST_F(FileRegistryTest, AMalformedFileIsAnErrorAndIsNeverOverwritten) {
  const std::string cases[] = {
      "not a registry\n",
      "\"a\"=\"b\"\n",                                           // no header
      "REGEDIT4\n\"a\"=\"b\"\n",                                 // value before any key
      "REGEDIT4\n[-HKEY_CLASSES_ROOT\\A]\n",                     // deletion entries
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A\\\\B]\n",                 // empty key name
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A\n",                       // unclosed header
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=dword:00000001\n",  // not a string
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"open\n",         // unterminated text
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"x\" tail\n",     // text after the value
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"bad \\n escape\"\n",
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n@=\"\xC3\"\n",           // not UTF-8
      // Deeper than keys nest: a million levels would have been freed one call a level.
      "REGEDIT4\n[HKEY_CLASSES_ROOT" + Repeated("\\K", 1'000'000) + "]\n",
      "REGEDIT4\n[HKEY_CLASSES_ROOT" + Repeated("\\K", 512) + "]\n",
  };
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.substr(0, 80));
    WriteBytes(m_path, bytes);
    auto registry = Open(HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(registry, nullptr);
    EXPECT_EQ(ReadBytes(m_path), bytes);
  }
}

TEST_F(FileRegistryTest, AFailedCommitIsReported) {
  WriteBytes(m_dir / "blocker", "a file where a folder should be");
  std::unique_ptr<Registry> registry;
  ASSERT_EQ(portable::OpenFileRegistry(U16Path(m_dir / "blocker" / "registry.reg"), u"",
                                       &registry),
            S_OK);
  ASSERT_HR(registry->CreateKey(u"K"), S_OK);
  EXPECT_TRUE(FAILED(registry->Commit()));
}

// Two registry objects of one file, as one process may hold them: each commit keeps what
// the other committed after this one read the file, and neither waits for the other.
TEST_F(FileRegistryTest, TwoObjectsOfOneFileKeepEachOthersChanges) {
  auto first = Open();
  auto second = Open();
  ASSERT_HR(first->CreateKey(u"A"), S_OK);
  ASSERT_HR(second->CreateKey(u"B"), S_OK);
  ASSERT_HR(second->SetValue(u"B", u"v", u"2"), S_OK);
  ASSERT_HR(first->Commit(), S_OK);
  ASSERT_HR(second->Commit(), S_OK);
  ASSERT_HR(first->DeleteKey(u"A"), S_OK);
  ASSERT_HR(first->Commit(), S_OK);
  EXPECT_EQ(ReadBytes(m_path),
            "REGEDIT4\n"
            "\n[HKEY_CLASSES_ROOT\\B]\n"
            "\"v\"=\"2\"\n");
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
    EXPECT_EQ(entry.path(), m_path) << "left behind";
  }
}

TEST(RegistryFileLocation, FollowsTheEnvironment) {
  struct Case {
    const char* registry;
    const char* dataHome;
    const char* home;
    std::u16string expected;
  };
  const Case cases[] = {
      {"/tmp/r.reg", "/data", "/home/u", u"/tmp/r.reg"},
      {"", "/data", "/home/u", u"/data/iniplugin/registry.reg"},
      {nullptr, "relative", "/home/u", u"/home/u/.local/share/iniplugin/registry.reg"},
      {nullptr, nullptr, "/home/u", u"/home/u/.local/share/iniplugin/registry.reg"},
      {nullptr, nullptr, nullptr, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(portable::RegistryFileLocation(c.registry, c.dataHome, c.home), c.expected)
        << Narrow(c.expected);
  }
}

TEST(GuidToString, BracedUpperCase) {
  const GUID guid = {0x8d9885b2, 0x3079, 0x4925, {0xba, 0x06, 0x9f, 0xa2, 0xb7, 0x71, 0x31, 0xf9}};
  EXPECT_EQ(portable::GuidToString(guid), u"{8D9885B2-3079-4925-BA06-9FA2B77131F9}");
}

}  // namespace
}  // namespace iniplugin::test
