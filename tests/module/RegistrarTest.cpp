// The registrar on both registry backends, with the module's own scripts and with
// malformed ones.
#include <gtest/gtest.h>

#include "support/Hresult.h"
#include "support/RegistrySupport.h"
#include "module/Registrar.h"

namespace iniplugin::test {
namespace {

// A quote and a percent sign in the path: neither may change how the script reads.
constexpr std::u16string_view kModule = u"C:\\Program Files\\Bob's 100%\\IniPlugin.dll";

std::u16string Script(const char* name) {
  const std::string bytes =
      ReadBytes(std::filesystem::path(INIPLUGIN_SOURCE_DIR) / "IniPlugin" / "dll" / name);
  EXPECT_FALSE(bytes.empty()) << name;
  return std::u16string(bytes.begin(), bytes.end());
}

const std::string kIniFormatKeys =
    "[CLSID]\n"
    "  [{8D9885B2-3079-4925-BA06-9FA2B77131F9}]\n"
    "    @=IniFormat Class\n"
    "    [InprocServer32]\n"
    "      @=C:\\Program Files\\Bob's 100%\\IniPlugin.dll\n"
    "      ThreadingModel=Both\n"
    "    [ProgID]\n"
    "      @=IniPlugin.IniFormat.1\n"
    "    [TypeLib]\n"
    "      @={75F3FE65-F866-4B20-B89B-CBFAED227540}\n"
    "    [VersionIndependentProgID]\n"
    "      @=IniPlugin.IniFormat\n"
    "[IniPlugin.IniFormat]\n"
    "  @=IniFormat Class\n"
    "  [CLSID]\n"
    "    @={8D9885B2-3079-4925-BA06-9FA2B77131F9}\n"
    "  [CurVer]\n"
    "    @=IniPlugin.IniFormat.1\n"
    "[IniPlugin.IniFormat.1]\n"
    "  @=IniFormat Class\n"
    "  [CLSID]\n"
    "    @={8D9885B2-3079-4925-BA06-9FA2B77131F9}\n";

const std::u16string_view kClassKey = u"CLSID\\{8D9885B2-3079-4925-BA06-9FA2B77131F9}";

class RegistrarTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    m_registrar.AddReplacement(u"Module", kModule);
    m_registrar.AddReplacement(u"Module_Raw", kModule);
  }
  HRESULT Register(const std::u16string& script) {
    return m_registrar.Register(script, *m_registry, &m_error);
  }
  HRESULT Unregister(const std::u16string& script) {
    return m_registrar.Unregister(script, *m_registry, &m_error);
  }

  Registrar m_registrar;
  Registrar::ScriptError m_error;
};

TEST_P(RegistrarTest, RegistersEveryKeyAndValueOfTheScript) {
  ASSERT_HR(Register(Script("IniFormat.rgs")), S_OK) << m_error.line << ": " << m_error.reason;
  EXPECT_EQ(Dump(*Open()), kIniFormatKeys);
}

TEST_P(RegistrarTest, RegisteringAgainLeavesTheSameKeysAndDropsStaleOnes) {
  const std::u16string script = Script("IniFormat.rgs");
  ASSERT_HR(Register(script), S_OK);
  // Somebody else's subkey under the class id, and a stale value of ours.
  ASSERT_HR(m_registry->CreateKey(std::u16string(kClassKey) + u"\\Foreign"), S_OK);
  ASSERT_EQ(m_registry->SetValue(std::u16string(kClassKey) + u"\\InprocServer32", u"Old", u"1"),
            S_OK);
  ASSERT_HR(Register(script), S_OK);
  EXPECT_EQ(Dump(*Open()), kIniFormatKeys);
}

TEST_P(RegistrarTest, UnregisteringRemovesTheScriptsKeysButNotCLSID) {
  const std::u16string script = Script("IniFormat.rgs");
  ASSERT_HR(m_registry->CreateKey(u"CLSID\\{SomeoneElse}"), S_OK);
  ASSERT_HR(Register(script), S_OK);
  ASSERT_HR(Register(Script("IniFile.rgs")), S_OK);
  ASSERT_HR(Unregister(Script("IniFile.rgs")), S_OK);
  ASSERT_HR(Unregister(script), S_OK);
  EXPECT_EQ(Dump(*Open()), "[CLSID]\n  [{SomeoneElse}]\n");

  // Nothing registered: nothing to do, and nothing is created.
  ASSERT_HR(m_registry->DeleteTree(u"CLSID"), S_OK);
  EXPECT_HR(Unregister(script), S_OK);
  EXPECT_EQ(Dump(*Open()), "");
}

TEST_P(RegistrarTest, AForeignSubkeyKeepsItsClassKeyUntilTheNextRegistration) {
  const std::u16string script = Script("IniFormat.rgs");
  ASSERT_HR(Register(script), S_OK);
  ASSERT_HR(m_registry->CreateKey(std::u16string(kClassKey) + u"\\Foreign\\Deeper"), S_OK);
  ASSERT_HR(Unregister(script), S_OK);
  EXPECT_EQ(Dump(*Open()),
            "[CLSID]\n"
            "  [{8D9885B2-3079-4925-BA06-9FA2B77131F9}]\n"
            "    @=IniFormat Class\n"
            "    [Foreign]\n"
            "      [Deeper]\n");
  ASSERT_HR(Register(script), S_OK);
  EXPECT_EQ(Dump(*Open()), kIniFormatKeys);
}

TEST_P(RegistrarTest, ReplacementsAndQuoting) {
  m_registrar.AddReplacement(u"MODULE", u"replaced");  // names ignore case
  ASSERT_EQ(Register(u"HKCR { 'It''s' = s '%module% 100%% {sure}' { val '%Module_Raw%' = s '' } }"),
            S_OK);
  EXPECT_EQ(Dump(*Open()),
            "[It's]\n"
            "  @=replaced 100% {sure}\n"
            "  C:\\Program Files\\Bob's 100%\\IniPlugin.dll=\n");
}

TEST_P(RegistrarTest, AMalformedScriptChangesNothing) {
  struct Case {
    std::u16string script;
    int line;
  };
  std::u16string deep = u"HKCR {\n";
  for (int i = 0; i < 1'000'000; ++i) deep += u"A {\n";
  const Case cases[] = {
      {u"HKCR {\n  A = s 'x'\n", 3},                     // missing '}'
      {u"HKCR {\n  A = s 'x'\n}\n}", 4},                 // one '}' too many
      {u"HKCR {\n  A = s 'never closed\n}", 2},
      {u"HKCR {\n  A = d '1'\n}", 2},                    // only string values
      {u"HKCR {\n  A =\n}", 3},
      {u"HKCR {\n  A { val = s 'x' }\n}", 2},            // value without a name
      {u"HKCR {\n  A { val B s 'x' }\n}", 2},            // value without '='
      {u"HKCR {\n  NoRemove\n}", 3},                     // modifier without a key
      {u"HKCR {\n  ForceRemove NoRemove A\n}", 2},
      {u"HKCR {\n  Delete A\n}", 2},                     // not supported: never guessed at
      {u"HKCR {\n  '' = s 'x'\n}", 2},                   // empty key name
      {u"HKCR {\n  'A\\B' = s 'x'\n}", 2},               // a path is not a name
      {u"HKCR {\n  A = s '%Unknown%'\n}", 2},
      {u"HKCR {\n  A = s '50%'\n}", 2},                  // unterminated replacement
      {u"HKCR {\n  val A = s 'x'\n}", 2},                // the root holds no values
      {u"HKLM {\n  A = s 'x'\n}", 1},                    // only HKCR is written
      {u"HKCR A", 1},
      {deep, 513},                                        // deeper than keys nest
  };
  ASSERT_HR(m_registry->CreateKey(u"A\\Existing"), S_OK);
  ASSERT_HR(m_registry->Commit(), S_OK);
  const std::string before = Dump(*Open());
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.script.substr(0, 80)));
    m_error = {};
    EXPECT_EQ(Register(c.script), kMalformedScript);
    EXPECT_EQ(m_error.line, c.line) << m_error.reason;
    EXPECT_FALSE(m_error.reason.empty());
    EXPECT_EQ(Unregister(c.script), kMalformedScript);
    EXPECT_EQ(Dump(*Open()), before);
  }
}

TEST_P(RegistrarTest, EveryTruncatedScriptIsRefusedWhole) {
  const std::u16string script = Script("IniFormat.rgs");
  for (std::size_t length = 1; length < script.size(); ++length) {
    const std::u16string cut = script.substr(0, length);
    const HRESULT hr = Register(cut);
    if (hr == S_OK) {
      // Only whitespace after the last '}' can be cut off without harm.
      EXPECT_EQ(script.find_first_not_of(u" \t\r\n", length), std::u16string::npos) << length;
      ASSERT_HR(Unregister(cut), S_OK);
      continue;
    }
    ASSERT_HR(hr, kMalformedScript) << length;
    ASSERT_EQ(Dump(*m_registry), "") << length;
  }
}

// Passes everything to the registry underneath but fails the write numbered `failAt`.
class FailingRegistry final : public Registry {
 public:
  FailingRegistry(Registry& inner, int failAt) : m_inner(inner), m_failAt(failAt) {}
  int Writes() const { return m_writes; }

  HRESULT KeyExists(std::u16string_view p) override { return m_inner.KeyExists(p); }
  HRESULT CreateKey(std::u16string_view p) override {
    return Write() ? m_inner.CreateKey(p) : E_ACCESSDENIED;
  }
  HRESULT DeleteKey(std::u16string_view p) override { return m_inner.DeleteKey(p); }
  HRESULT DeleteTree(std::u16string_view p) override {
    return Write() ? m_inner.DeleteTree(p) : E_ACCESSDENIED;
  }
  HRESULT ListSubkeys(std::u16string_view p, std::vector<std::u16string>* n) override {
    return m_inner.ListSubkeys(p, n);
  }
  HRESULT SetValue(std::u16string_view p, std::u16string_view n,
                   std::u16string_view t) override {
    return Write() ? m_inner.SetValue(p, n, t) : E_ACCESSDENIED;
  }
  HRESULT GetValue(std::u16string_view p, std::u16string_view n, std::u16string* t) override {
    return m_inner.GetValue(p, n, t);
  }
  HRESULT DeleteValue(std::u16string_view p, std::u16string_view n) override {
    return m_inner.DeleteValue(p, n);
  }
  HRESULT ListValues(std::u16string_view p, std::vector<std::u16string>* n) override {
    return m_inner.ListValues(p, n);
  }
  HRESULT Commit() override { return m_inner.Commit(); }

 private:
  bool Write() { return ++m_writes != m_failAt; }
  Registry& m_inner;
  int m_failAt;
  int m_writes = 0;
};

TEST_P(RegistrarTest, ARegistrationThatFailsPartWayLeavesNoKeysBehind) {
  const std::u16string script = Script("IniFormat.rgs");
  int writes = 0;
  {
    FailingRegistry counting(*m_registry, 0);
    ASSERT_HR(m_registrar.Register(script, counting), S_OK);
    writes = counting.Writes();
    ASSERT_HR(m_registrar.Unregister(script, *m_registry), S_OK);
  }
  ASSERT_GT(writes, 10);
  for (int failAt = 1; failAt <= writes; ++failAt) {
    SCOPED_TRACE(failAt);
    m_registry = Open();
    FailingRegistry failing(*m_registry, failAt);
    EXPECT_HR(m_registrar.Register(script, failing), E_ACCESSDENIED);
    EXPECT_EQ(Dump(*Open()), "[CLSID]\n");  // NoRemove: it may stay, empty
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, RegistrarTest,
                         ::testing::Values(Backend::File, Backend::ClassesRoot), BackendName);

}  // namespace
}  // namespace iniplugin::test
