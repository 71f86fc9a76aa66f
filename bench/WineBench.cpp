// The Windows build's figures, run under Wine: the same read and write workloads through
// the portable profile functions and through the platform's own, side by side; the
// document's load and save beside SimpleIni's and beside the floor of the system's own
// file calls; and the small-files workload. No Google Benchmark is packaged for the cross build,
// so this program times its own repetitions (five of each, wall clock) and prints one
// "ROW" line a workload for compare_bench to put into the table.
//
//   cmake/wine-run build/win32/bin/wine_bench.exe > rows.txt      (32-bit)
//   cmake/wine64-run build/win64/bin/wine_bench.exe > rows.txt    (64-bit)
//
// --small-files measures the small files alone (INIPLUGIN_BENCH_SMALL_FILES sets how many),
// --documents the document's load and save beside their floors alone.
#include <SimpleIni.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Floor.h"
#include "Generator.h"
#include "Records.h"
#include "SmallFiles.h"
#include "Table.h"
#include "inidoc/IniFileReader.h"
#include "platform/portable.h"
#include "platform/wide.h"
#include "profile/Profile.h"

namespace iniplugin::bench {
namespace {

namespace fs = std::filesystem;
using platform::AsWide;

constexpr int kRepetitions = 5;
constexpr int kLookups = 10'000;
constexpr int kWrites = 1'000;
constexpr double kMB = 1 << 20;

using ReadFunction = DWORD (*)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
using WriteFunction = BOOL (*)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);

struct ProfileFunctions {
  const char* name;
  ReadFunction read;
  WriteFunction write;
};

DWORD RealRead(LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR b, DWORD n, LPCWSTR f) {
  return ::GetPrivateProfileStringW(s, k, d, b, n, f);
}
BOOL RealWrite(LPCWSTR s, LPCWSTR k, LPCWSTR v, LPCWSTR f) {
  return ::WritePrivateProfileStringW(s, k, v, f);
}

const ProfileFunctions kPortable{"portable profile functions", &profile::GetPrivateProfileStringW,
                                 &profile::WritePrivateProfileStringW};
const ProfileFunctions kReal{"real profile functions", &RealRead, &RealWrite};

// Seconds one call of `work` takes, `kRepetitions` times; `prepare` runs untimed before each.
std::vector<double> Time(const std::function<void()>& work,
                         const std::function<void()>& prepare = [] {}) {
  std::vector<double> seconds;
  for (int i = 0; i < kRepetitions; ++i) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    work();
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return seconds;
}

void Emit(const std::string& name, const std::string& unit, const std::vector<double>& seconds,
          double bytes = 0) {
  Row row{name, unit, {}};
  for (double s : seconds) row.samples.push_back(unit == "ms" ? s * 1000 : bytes / kMB / s);
  std::printf("%s\n", FormatRowLine(row).c_str());
  std::fflush(stdout);
}

// Each Windows build measures under its own Wine: the rows say which.
std::string Build() { return sizeof(void*) == 8 ? "Wine (win64): " : "Wine (win32): "; }

std::string Label(const std::string& what, int megabytes, Form form = Form::Ansi) {
  return Build() + what + ", " + FormName(form) + " " + std::to_string(megabytes) + " MB";
}

void Flush(const ProfileFunctions& api, const std::u16string& file) {
  api.write(nullptr, nullptr, nullptr, AsWide(file.c_str()));
}

// What GetValues asks of the profile functions: one read a record, a 256-character buffer.
void ReadWorkload(const ProfileFunctions& api, const GeneratedFile& file) {
  const std::u16string path = file.path.u16string();
  const std::vector<Pick> picks = Picks(file.sections, kLookups, 11);
  std::vector<std::pair<std::u16string, std::u16string>> names;
  for (const Pick& pick : picks) names.emplace_back(SectionName(pick.section), KeyName(pick.key));
  std::vector<char16_t> buffer(256);
  const auto work = [&] {
    for (std::size_t i = 0; i < names.size(); ++i) {
      const DWORD got = api.read(AsWide(names[i].first.c_str()), AsWide(names[i].second.c_str()),
                                 AsWide(u""), AsWide(buffer.data()), 256, AsWide(path.c_str()));
      const std::u16string_view value(buffer.data(), got);
      if (picks[i].exists() ? value != ValueOf(picks[i].section, picks[i].key) : got != 0) {
        Fail("a profile read gave the wrong answer");
      }
    }
  };
  // Each time from the file: the reader's kept form is dropped first.
  Emit(Label(std::string("GetValues 10,000 reads, ") + api.name, 10), "ms",
       Time(work, [&] { Flush(api, path); }));
}

// What SetValues asks in mode 0: a write a record, then the flush that puts them down.
void WriteWorkload(const ProfileFunctions& api, const GeneratedFile& file, const fs::path& folder) {
  const fs::path target = folder / (std::string("set-target-") + (api.write == kReal.write ? "real" : "portable") + ".ini");
  const std::u16string path = target.u16string();
  const std::vector<Pick> picks = Picks(file.sections, kWrites, 5);
  std::vector<std::u16string> sections, keys, values;
  for (std::size_t i = 0; i < picks.size(); ++i) {
    sections.push_back(SectionName(picks[i].section));
    keys.push_back(KeyName(picks[i].key));
    values.push_back(RecordSet::NewValue(i));
  }
  const auto work = [&] {
    for (std::size_t i = 0; i < picks.size(); ++i) {
      Check(api.write(AsWide(sections[i].c_str()), AsWide(keys[i].c_str()),
                      AsWide(values[i].c_str()), AsWide(path.c_str())) != FALSE,
            "a profile write failed");
    }
    Flush(api, path);
  };
  const auto fresh = [&] {
    fs::remove(target);
    fs::copy_file(file.path, target);
    Settle(target);
  };
  Emit(Label(std::string("SetValues 1,000 writes + flush, ") + api.name, 1), "ms",
       Time(work, fresh));
  // The file holds the last value of every variable written.
  std::map<std::pair<int, int>, std::u16string> expected;
  for (std::size_t i = 0; i < picks.size(); ++i) {
    expected[{picks[i].section, picks[i].key}] = values[i];
  }
  inidoc::IniFileReader document;
  Check(document.Load(path).loaded, "reload");
  std::u16string value;
  for (const auto& [at, text] : expected) {
    Check(document.GetValue(SectionName(at.first), KeyName(at.second), value) && value == text,
          "a written value is not in the file");
  }
}

// The document's load and save in a form, beside the floor: the file read and its lines
// counted, and its bytes written and flushed, with the system's own calls.
void DocumentWorkloads(const GeneratedFile& file, const fs::path& folder) {
  const auto bytes = static_cast<double>(file.bytes);
  Emit(Label("IniFileReader::Load", 10, file.form), "MB/s", Time([&] {
         inidoc::IniFileReader document;
         Check(document.Load(file.path.u16string()).loaded, "load");
         Check(document.SectionCount() == static_cast<std::size_t>(file.sections), "sections");
       }),
       bytes);
  Emit(Label("floor: read + memchr line ends and '='", 10, file.form), "MB/s", Time([&] {
         LineCounter counter;
         Check(ReadCounting(file.path, counter), "floor read");
         // Every section: a header, two comments, the keys and a blank line.
         Check(counter.Lines() == static_cast<std::size_t>(file.sections) * (kKeysPerSection + 4),
               "floor line count");
       }),
       bytes);
  inidoc::IniFileReader document;
  Check(document.Load(file.path.u16string()).loaded, "load");
  const fs::path saved = folder / "saved.ini";
  Emit(Label("IniFileReader::Save (atomic, flushed)", 10, file.form), "MB/s",
       Time([&] { Check(document.Save(saved.u16string()), "save"); }), bytes);
  std::string content;
  Check(platform::ReadFileBytes(file.path.u16string(), content) == platform::ReadResult::Ok,
        "read");
  const fs::path written = folder / "floor.ini";
  Emit(Label("floor: write + flush", 10, file.form), "MB/s",
       Time([&] { Check(WriteFlushed(written, content), "floor write"); }), bytes);
  if (file.form != Form::Ansi) return;
  const std::string path = file.path.string();
  Emit(Label("SimpleIni load", 10), "MB/s", Time([&] {
         CSimpleIniA ini;
         Check(ini.LoadFile(path.c_str()) == SI_OK, "SimpleIni load");
         Check(ini.GetValue("Section 0", "Key01") != nullptr, "SimpleIni lookup");
       }),
       bytes);
}

// Files a second, each row under its own name; in mode 0 the system's functions serve an
// ANSI file, ours a UTF-8 one.
void SmallFileWorkloads(const fs::path& folder, Form form) {
  const SmallFiles files(folder, form);
  const std::string of = ", " + std::string(FormName(form)) + " 2 KB";
  const auto emit = [&](const std::string& what, const std::vector<double>& rates) {
    std::printf("%s\n", FormatRowLine(Row{Build() + what + of, "files/s", rates}).c_str());
    std::fflush(stdout);
  };
  emit(SmallFiles::kReadName, files.Read());
  emit(SmallFiles::kFloorReadName, files.FloorRead());
  emit(SmallFiles::kSimpleIniName, files.SimpleIni());
  emit(SmallFiles::kProfileName, files.ProfileReads(form == Form::Ansi ? kReal.read : kPortable.read));
  emit(SmallFiles::kReadWriteName, files.ReadWrite());
  emit(SmallFiles::kFloorReadWriteName, files.FloorReadWrite());
}

}  // namespace
}  // namespace iniplugin::bench

int main(int argc, char** argv) {
  using namespace iniplugin::bench;
  const fs::path folder = fs::temp_directory_path() / "iniplugin-wine-bench";
  fs::create_directories(folder);
  if (argc > 1 && std::string_view(argv[1]) == "--small-files") {
    SmallFileWorkloads(folder, Form::Ansi);
    SmallFileWorkloads(folder, Form::Utf8);
    return 0;
  }
  const GeneratedFile one = Generate(folder, 1, Form::Ansi);
  const GeneratedFile ten = Generate(folder, 10, Form::Ansi);
  for (Form form : kForms) {
    if (form == Form::Ansi) {
      DocumentWorkloads(ten, folder);
    } else {
      DocumentWorkloads(Generate(folder, 10, form), folder);
    }
  }
  if (argc > 1 && std::string_view(argv[1]) == "--documents") return 0;
  ReadWorkload(kPortable, ten);
  ReadWorkload(kReal, ten);
  WriteWorkload(kPortable, one, folder);
  WriteWorkload(kReal, one, folder);
  SmallFileWorkloads(folder, Form::Ansi);
  SmallFileWorkloads(folder, Form::Utf8);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
