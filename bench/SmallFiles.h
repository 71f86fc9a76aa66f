// The work a vault client does most: thousands of small files, each opened as the host
// opens it (CreateNavigator, GetValues of twenty variables, release), and a second pass
// that also writes two variables and commits. Beside them, the floor (each file opened,
// read and closed; in the second pass also written and flushed) and SimpleIni (a load and
// twenty lookups a file). Shared by the native program and the one that runs under Wine;
// every figure is in files a second.
#pragma once

#include <SimpleIni.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Floor.h"
#include "Generator.h"
#include "Records.h"
#include "module/ComObject.h"
#include "platform/com.h"
#include "platform/wide.h"
#include "plugin/CIniFormat.h"
#include "plugin/ProfileMode.h"

namespace iniplugin::bench {

// INIPLUGIN_BENCH_SMALL_FILES sets another count, for a profiler's shorter run.
inline int SmallFileCount() {
  const char* count = std::getenv("INIPLUGIN_BENCH_SMALL_FILES");
  return count ? std::atoi(count) : 10'000;
}
constexpr int kSmallSections = 2;  // of kKeysPerSection keys: forty a file
constexpr int kSmallReads = 20;
constexpr int kSmallWrites = 2;
constexpr int kSmallPasses = 5;

// A navigator on `path`, as the host gets one: from a format object of its own.
inline platform::ComPtr<IOrvFileNavigator> Open(const std::filesystem::path& path) {
  ComObject<CIniFormat>* object = nullptr;
  Check(ComObject<CIniFormat>::CreateInstance(&object) == S_OK, "format object");
  platform::ComPtr<IOrvFileFormat> format;
  object->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid());
  platform::ComPtr<IOrvFileNavigator> navigator;
  platform::UniqueBstr bstr = platform::UniqueBstr::FromText(path.u16string());
  Check(format->CreateNavigator(bstr.Get(), 0, navigator.Receive()) == S_OK, "navigator");
  return navigator;
}

class SmallFiles {
 public:
  // The rows' names, before the form.
  static constexpr const char* kReadName = "small files: CreateNavigator + GetValues 20 + release";
  static constexpr const char* kReadWriteName =
      "small files: CreateNavigator + GetValues 20 + SetValues 2 + Commit + release";
  static constexpr const char* kFloorReadName = "small files floor: open + read + close";
  static constexpr const char* kFloorReadWriteName =
      "small files floor: open + read + close, write + flush";
  static constexpr const char* kSimpleIniName = "small files: SimpleIni load + 20 lookups";
  static constexpr const char* kProfileName = "small files: the profile functions alone, 20 reads";

  using ReadFunction = DWORD (*)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);

  // Writes the files into a folder of their own below `folder`, settled: about 2 KB each
  // (a comment block, then two sections of twenty keys), each file's sections numbered
  // apart so that no two files hold the same values.
  SmallFiles(const std::filesystem::path& folder, Form form) : m_form(form) {
    m_folder = folder / (std::string("small-") + FormName(form));
    std::filesystem::create_directories(m_folder);
    const int count = SmallFileCount();
    for (int i = 0; i < count; ++i) {
      std::u16string text =
          u"; Settings of one document. The vault reads a few of them when it indexes the\r\n"
          u"; folder, and writes one or two back when the document is checked in.\r\n"
          u"; Edit with care: tools of other departments read this file as well.\r\n\r\n";
      for (int s = 0; s < kSmallSections; ++s) AppendSection(text, i * kSmallSections + s);
      m_paths.push_back(m_folder / ("doc-" + std::to_string(i) + ".ini"));
      const std::string bytes = Encode(form, text);
      std::ofstream(m_paths.back(), std::ios::binary).write(bytes.data(),
                                                           static_cast<std::streamsize>(bytes.size()));
      // Each file's twenty reads: one in eleven names a key past the last.
      std::vector<Pick> picks = Picks(kSmallSections, kSmallReads, 100 + i);
      for (Pick& pick : picks) pick.section += i * kSmallSections;
      m_reads.push_back(std::make_unique<RecordSet>(picks, false));
    }
    for (const std::filesystem::path& path : m_paths) Backdate(path);
    for (const std::filesystem::path& path : m_paths) WaitSettled(path);
  }
  ~SmallFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

  Form form() const { return m_form; }

  // Files a second of each pass of `work` over every file.
  std::vector<double> Passes(const std::function<void(std::size_t)>& work,
                             const std::function<void(int)>& prepare = [](int) {}) const {
    std::vector<double> rates;
    for (int pass = 0; pass < kSmallPasses; ++pass) {
      prepare(pass);
      const auto start = std::chrono::steady_clock::now();
      for (std::size_t i = 0; i < m_paths.size(); ++i) work(i);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      rates.push_back(static_cast<double>(m_paths.size()) / seconds);
    }
    return rates;
  }

  std::vector<double> FloorRead() const {
    static char buffer[1 << 16];
    return Passes([&](std::size_t i) {
      Check(ReadSmall(m_paths[i], buffer, sizeof buffer) > 0, "floor read");
    });
  }

  std::vector<double> FloorReadWrite() const {
    static char buffer[1 << 16];
    return Passes([&](std::size_t i) {
      const long long got = ReadSmall(m_paths[i], buffer, sizeof buffer);
      Check(got > 0, "floor read");
      Check(WriteFlushed(m_paths[i], std::string_view(buffer, static_cast<std::size_t>(got))),
            "floor write");
    });
  }

  std::vector<double> SimpleIni() const {
    std::vector<std::vector<std::pair<std::string, std::string>>> names;
    for (const auto& reads : m_reads) {
      auto& file = names.emplace_back();
      for (const Pick& pick : reads->Picks()) {
        file.emplace_back(SimpleIniBytes(m_form, SectionName(pick.section)),
                          SimpleIniBytes(m_form, KeyName(pick.key)));
      }
    }
    const std::vector<double> rates = Passes([&](std::size_t i) {
      CSimpleIniA ini;
      ini.SetUnicode(m_form == Form::Utf8);
      Check(ini.LoadFile(m_paths[i].string().c_str()) == SI_OK, "SimpleIni load");
      std::size_t found = 0;
      for (const auto& [section, key] : names[i]) {
        found += ini.GetValue(section.c_str(), key.c_str(), nullptr) != nullptr;
      }
      Check(found > 0, "SimpleIni lookups");
    });
    return rates;
  }

  // Only the twenty reads a GetValues makes of the profile functions that serve the file:
  // how much of a file's time is theirs.
  std::vector<double> ProfileReads(ReadFunction read) const {
    std::vector<std::vector<std::pair<std::u16string, std::u16string>>> names;
    for (const auto& reads : m_reads) {
      auto& file = names.emplace_back();
      for (const Pick& pick : reads->Picks()) file.emplace_back(SectionName(pick.section), KeyName(pick.key));
    }
    std::vector<std::u16string> paths;
    for (const std::filesystem::path& path : m_paths) paths.push_back(path.u16string());
    char16_t buffer[256];
    return Passes([&](std::size_t i) {
      DWORD total = 0;
      for (const auto& [section, key] : names[i]) {
        total += read(platform::AsWide(section.c_str()), platform::AsWide(key.c_str()),
                      platform::AsWide(u""), platform::AsWide(buffer), 256,
                      platform::AsWide(paths[i].c_str()));
      }
      Check(total > 0, "profile reads");
    });
  }

  // CreateNavigator, GetValues of twenty variables, release.
  std::vector<double> Read() const {
    ProfileMode::ResetForTesting(ProfileMode::kUndecided);
    const std::vector<double> rates = Passes([&](std::size_t i) {
      RecordSet& records = *m_reads[i];
      const platform::ComPtr<IOrvFileNavigator> navigator = Open(m_paths[i]);
      Check(navigator->GetValues(0, 0, 0, records.Count(), records.Data()) == S_OK, "GetValues");
    });
    for (std::size_t i = 0; i < m_reads.size(); i += 997) m_reads[i]->CheckRead();
    return rates;
  }

  // The same, then SetValues of two variables (new values at every pass) and Commit.
  std::vector<double> ReadWrite() const {
    ProfileMode::ResetForTesting(ProfileMode::kUndecided);
    std::vector<std::unique_ptr<test::RecordArray>> writes;
    const std::vector<double> rates = Passes(
        [&](std::size_t i) {
          RecordSet& records = *m_reads[i];
          const platform::ComPtr<IOrvFileNavigator> navigator = Open(m_paths[i]);
          Check(navigator->GetValues(0, 0, 0, records.Count(), records.Data()) == S_OK,
                "GetValues");
          test::RecordArray& write = *writes[i];
          Check(navigator->SetValues(0, 0, 0, write.Count(), write.Data(), 0) == S_OK,
                "SetValues");
          Check(navigator->Commit() == S_OK, "Commit");
        },
        [&](int pass) {
          writes.clear();
          for (std::size_t i = 0; i < m_paths.size(); ++i) {
            auto& write = *writes.emplace_back(std::make_unique<test::RecordArray>());
            for (int k = 0; k < kSmallWrites; ++k) {
              const std::u16string section = SectionName(static_cast<int>(i) * kSmallSections + k);
              write.AddText(section.c_str(), u"Written",
                            u"pass " + Digits(static_cast<unsigned>(pass), 1) + u" value " +
                                Digits(static_cast<unsigned>(k), 1));
            }
          }
        });
    // The last pass's values are in the files.
    for (std::size_t i = 0; i < m_paths.size(); i += 997) {
      test::RecordArray read;
      read.Add(SectionName(static_cast<int>(i) * kSmallSections).c_str(), u"Written");
      const platform::ComPtr<IOrvFileNavigator> navigator = Open(m_paths[i]);
      Check(navigator->GetValues(0, 0, 0, read.Count(), read.Data()) == S_OK, "read back");
      Check(read[0].value.vt == VT_BSTR &&
                platform::BstrView(read[0].value.bstrVal) ==
                    u"pass " + Digits(static_cast<unsigned>(kSmallPasses - 1), 1) + u" value 0",
            "a written value is not in the file");
    }
    return rates;
  }

 private:
  Form m_form;
  std::filesystem::path m_folder;
  std::vector<std::filesystem::path> m_paths;
  std::vector<std::unique_ptr<RecordSet>> m_reads;
};

}  // namespace iniplugin::bench
