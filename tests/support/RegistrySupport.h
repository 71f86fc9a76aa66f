// Registries for tests: the two backends behind one parameter, a scratch key in each, and
// a readable dump of a subtree to compare whole registries at once.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/portable.h"
#include "platform/registry.h"
#include "support/Files.h"
#include "support/Hresult.h"

namespace iniplugin::test {

using platform::Registry;

enum class Backend {
  File,         // portable::FileRegistry on a scratch file (both builds)
  ClassesRoot,  // platform::OpenClassesRoot: the system's registry on Windows
};

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::File ? "File" : "ClassesRoot";
}

// The whole subtree below `path`, one line per key and per value, subkeys sorted.
inline std::string Dump(Registry& registry, const std::u16string& path = u"",
                        const std::string& indent = "") {
  std::string out;
  std::vector<std::u16string> values;
  EXPECT_HR(registry.ListValues(path, &values), S_OK) << Narrow(path);
  std::sort(values.begin(), values.end());
  for (const std::u16string& name : values) {
    std::u16string text;
    EXPECT_HR(registry.GetValue(path, name, &text), S_OK);
    out += indent + (name.empty() ? "@" : Narrow(name)) + "=" + Narrow(text) + "\n";
  }
  std::vector<std::u16string> subkeys;
  EXPECT_HR(registry.ListSubkeys(path, &subkeys), S_OK) << Narrow(path);
  std::sort(subkeys.begin(), subkeys.end());
  for (const std::u16string& name : subkeys) {
    out += indent + "[" + Narrow(name) + "]\n";
    out += Dump(registry, path.empty() ? name : path + u"\\" + name, indent + "  ");
  }
  return out;
}

// A registry of the chosen backend that serves a scratch key of its own, emptied before
// and removed after the test, so tests never meet each other's keys.
class RegistryTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_scratch = u"IniPluginTests\\";
    for (char c : std::string(info->test_suite_name()) + "." + info->name()) {
      m_scratch.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : u'_');
    }
    if (GetParam() == Backend::ClassesRoot && !platform::ClassesRootFile().empty() &&
        !std::getenv("INIPLUGIN_REGISTRY")) {
      GTEST_SKIP() << "INIPLUGIN_REGISTRY must name a scratch file (ctest sets it)";
    }
    RemoveScratch();
    m_registry = Open();
    ASSERT_TRUE(m_registry);
  }
  void TearDown() override {
    m_registry.reset();
    if (!IsSkipped()) RemoveScratch();
  }

  // A fresh view of the same scratch key, as another process would see it.
  std::unique_ptr<Registry> Open() {
    std::unique_ptr<Registry> registry;
    const HRESULT hr = GetParam() == Backend::File
                           ? portable::OpenFileRegistry(File(), m_scratch, &registry)
                           : platform::OpenClassesRoot(&registry, m_scratch);
    EXPECT_HR(hr, S_OK) << std::hex << hr;
    return registry;
  }

  std::u16string File() const { return U16Path(m_dir / "registry.reg"); }

  TempDir m_dir;
  std::u16string m_scratch;
  std::unique_ptr<Registry> m_registry;

 private:
  void RemoveScratch() {
    std::unique_ptr<Registry> root;
    const HRESULT hr = GetParam() == Backend::File
                           ? portable::OpenFileRegistry(File(), u"", &root)
                           : platform::OpenClassesRoot(&root);
    ASSERT_HR(hr, S_OK) << std::hex << hr;
    ASSERT_TRUE(SUCCEEDED(root->DeleteTree(m_scratch)));
    (void)root->DeleteKey(u"IniPluginTests");
    ASSERT_HR(root->Commit(), S_OK);
  }
};

}  // namespace iniplugin::test
