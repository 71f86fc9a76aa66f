// The performance table: the INI document, the profile functions and the navigator beside
// SimpleIni and beside the floor of what reading and writing a file can cost, on generated
// files of 1, 10 and 50 MB in the three forms, all measured in one run. Every row is five
// repetitions; the table gives their median and range, then the targets as ratios.
//
//   build/native/bin/compare_bench [--wine-rows=FILE] [--quick] [Google Benchmark flags]
//
// --wine-rows adds the rows the Windows build measured under Wine (bench/WineBench.cpp);
// --quick leaves out the 50 MB files, --small-files measures the small files alone.
// scripts/bench runs both programs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <SimpleIni.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Floor.h"
#include "Generator.h"
#include "Records.h"
#include "SmallFiles.h"
#include "Table.h"
#include "inidoc/IniFileReader.h"
#include "module/ComObject.h"
#include "platform/file.h"
#include "platform/portable.h"
#include "plugin/CIniFile.h"
#include "plugin/CIniFormat.h"
#include "plugin/ProfileMode.h"
#include "profile/Profile.h"

// ---- Allocation accounting: the heap a loaded document holds at its peak ----

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void Count(void* p, int sign) {
  if (!p || !g_counting.load(std::memory_order_relaxed)) return;
  const long long size = static_cast<long long>(malloc_usable_size(p)) * sign;
  const long long live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
  long long peak = g_peak.load(std::memory_order_relaxed);
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
}
}  // namespace

// Every form, so that no allocation escapes the count (and none is freed by another
// allocator than the one that made it, which sanitizers check).
namespace {
void* CountedNew(std::size_t size) noexcept {
  void* p = std::malloc(size ? size : 1);
  Count(p, +1);
  return p;
}
// What the replaced operator delete gets came from malloc in the replaced operator new; GCC
// sees only a delete meeting a free once it inlines this.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void CountedDelete(void* p) noexcept {
  Count(p, -1);
  std::free(p);
}
#pragma GCC diagnostic pop
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedNew(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void operator delete(void* p) noexcept { CountedDelete(p); }
void operator delete[](void* p) noexcept { CountedDelete(p); }
void operator delete(void* p, std::size_t) noexcept { CountedDelete(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedDelete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedDelete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedDelete(p); }

namespace iniplugin::bench {
namespace {

namespace fs = std::filesystem;
using platform::ComPtr;

constexpr double kMB = 1 << 20;
constexpr int kLookups = 10'000;
constexpr int kWrites = 1'000;
constexpr int kRepetitions = 5;

// ---- The files ----

struct BenchFolder {
  BenchFolder() { fs::create_directories(path); }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  const fs::path path = fs::temp_directory_path() / ("iniplugin-bench-" + std::to_string(::getpid()));
};

BenchFolder& Folder() {
  static BenchFolder folder;
  return folder;
}

std::vector<int> g_sizes = {1, 10, 50};

const GeneratedFile& FileOf(int megabytes, Form form) {
  static std::map<std::pair<int, Form>, GeneratedFile> files;
  auto found = files.find({megabytes, form});
  if (found == files.end()) {
    found = files.emplace(std::pair{megabytes, form}, Generate(Folder().path, megabytes, form)).first;
  }
  return found->second;
}

std::string Label(const char* what, Form form, int megabytes) {
  return std::string(what) + ", " + FormName(form) + " " + std::to_string(megabytes) + " MB";
}

std::string ReadAll(const fs::path& path) {
  std::string bytes;
  Check(platform::ReadFileBytes(path.u16string(), bytes) == platform::ReadResult::Ok, "read");
  return bytes;
}

// ---- Rows ----

struct RowSpec {
  std::string name;
  std::string unit;      // "MB/s" or "ms"
  double bytes = 0;      // for MB/s: the bytes one iteration handles
};

std::map<std::string, RowSpec>& Specs() {
  static std::map<std::string, RowSpec> specs;
  return specs;
}
std::vector<std::string>& Order() {
  static std::vector<std::string> order;
  return order;
}
std::map<std::string, Row>& Measured() {
  static std::map<std::string, Row> rows;
  return rows;
}

// `iterations`: a fixed count per repetition, for workloads that prepare their files
// ahead; otherwise as many as fill a fifth of a second.
void Register(const std::string& name, const std::string& unit, double bytes,
              std::function<void(benchmark::State&)> body, int iterations = 0) {
  Specs()[name] = RowSpec{name, unit, bytes};
  Order().push_back(name);
  benchmark::internal::Benchmark* run =
      benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
          ->Repetitions(kRepetitions)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
  if (iterations > 0) {
    run->Iterations(iterations);
  } else {
    run->MinTime(0.2);
  }
}

void AddRow(const std::string& name, const std::string& unit, std::vector<double> samples) {
  Order().push_back(name);
  Measured()[name] = Row{name, unit, std::move(samples)};
}

// Keeps every repetition's time per iteration, and shows progress on the error stream.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const RowSpec& spec = Specs().at(run.run_name.function_name);
      const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      Row& row = Measured()[spec.name];
      row.name = spec.name;
      row.unit = spec.unit;
      row.samples.push_back(spec.unit == "ms" ? seconds * 1000 : spec.bytes / kMB / seconds);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// ---- The document, SimpleIni and the floor ----

void CheckDocument(const inidoc::IniFileReader& document, const GeneratedFile& file) {
  Check(document.SectionCount() == static_cast<std::size_t>(file.sections), "section count");
  std::u16string value;
  for (const Pick& pick : Picks(file.sections, 50, 3)) {
    const bool found =
        document.GetValue(SectionName(pick.section), KeyName(pick.key), value);
    Check(found == pick.exists(), "document lookup");
    if (found) Check(value == ValueOf(pick.section, pick.key), "document value");
  }
}

void RegisterDocument(int megabytes, Form form) {
  const GeneratedFile& file = FileOf(megabytes, form);
  Register(Label("IniFileReader::Load", form, megabytes), "MB/s", file.bytes,
           [&file](benchmark::State& state) {
             for (auto _ : state) {
               inidoc::IniFileReader document;
               Check(document.Load(file.path.u16string()).loaded, "load");
               benchmark::DoNotOptimize(document.SectionCount());
               state.PauseTiming();
               CheckDocument(document, file);
               state.ResumeTiming();
             }
           });
  Register(Label("IniFileReader::Save (atomic, flushed)", form, megabytes), "MB/s", file.bytes,
           [&file](benchmark::State& state) {
             inidoc::IniFileReader document;
             Check(document.Load(file.path.u16string()).loaded, "load");
             const fs::path target = Folder().path / "saved.ini";
             for (auto _ : state) Check(document.Save(target.u16string()), "save");
             // Saved files reload to the same document: here, to the same bytes.
             Check(ReadAll(target) == ReadAll(file.path), "saved bytes");
           });
}

void RegisterSimpleIni(int megabytes, Form form) {
  const GeneratedFile& file = FileOf(megabytes, form);
  const auto load = [&file, form](CSimpleIniA& ini) {
    ini.SetUnicode(form == Form::Utf8);
    Check(ini.LoadFile(file.path.string().c_str()) == SI_OK, "SimpleIni load");
  };
  Register(Label("SimpleIni load", form, megabytes), "MB/s", file.bytes,
           [load](benchmark::State& state) {
             for (auto _ : state) {
               CSimpleIniA ini;
               load(ini);
               benchmark::DoNotOptimize(ini.GetSectionSize("Section 0"));
             }
           });
  Register(Label("SimpleIni 10,000 lookups", form, megabytes), "ms", 0,
           [load, &file, form](benchmark::State& state) {
             CSimpleIniA ini;
             load(ini);
             std::vector<std::pair<std::string, std::string>> names;
             std::vector<std::string> expected;
             const std::vector<Pick> picks = Picks(file.sections, kLookups, 11);
             for (const Pick& pick : picks) {
               names.emplace_back(SimpleIniBytes(form, SectionName(pick.section)), SimpleIniBytes(form, KeyName(pick.key)));
               expected.push_back(pick.exists() ? SimpleIniBytes(form, ValueOf(pick.section, pick.key)) : "");
             }
             for (auto _ : state) {
               for (std::size_t i = 0; i < names.size(); ++i) {
                 const char* value = ini.GetValue(names[i].first.c_str(), names[i].second.c_str(), nullptr);
                 if (picks[i].exists() ? !value || expected[i] != value : value != nullptr) {
                   Fail("SimpleIni lookup");
                 }
               }
             }
           });
  Register(Label("SimpleIni save (flushed)", form, megabytes), "MB/s", file.bytes,
           [load, form](benchmark::State& state) {
             CSimpleIniA ini;
             load(ini);
             const std::string target = (Folder().path / "simpleini.ini").string();
             for (auto _ : state) {
               Check(ini.SaveFile(target.c_str(), form == Form::Utf8) == SI_OK, "SimpleIni save");
               const int fd = ::open(target.c_str(), O_RDONLY);
               Check(fd >= 0 && ::fsync(fd) == 0, "SimpleIni flush");
               ::close(fd);
             }
           });
}

// Reading the file and finding every line end and the first "=" of every line, with one
// fixed buffer and nothing else: what any reader pays at least.
void RegisterFloor(int megabytes, Form form) {
  const GeneratedFile& file = FileOf(megabytes, form);
  Register(Label("floor: read + memchr line ends and '='", form, megabytes), "MB/s", file.bytes,
           [&file](benchmark::State& state) {
             for (auto _ : state) {
               LineCounter counter;
               Check(ReadCounting(file.path, counter), "floor read");
               // Every section: a header, two comments, the keys and a blank line.
               Check(counter.Lines() == static_cast<std::size_t>(file.sections) * (kKeysPerSection + 4),
                     "floor line count");
               Check(counter.Equals() == static_cast<std::size_t>(file.sections) * kKeysPerSection,
                     "floor '=' count");
             }
           });
  Register(Label("floor: write + flush", form, megabytes), "MB/s", file.bytes,
           [&file](benchmark::State& state) {
             const std::string bytes = ReadAll(file.path);
             const fs::path target = Folder().path / "floor.ini";
             for (auto _ : state) Check(WriteFlushed(target, bytes), "floor write");
           });
}

// ---- Peak memory ----

template <class Work>
double PeakMultiple(const GeneratedFile& file, Work&& work) {
  g_live = 0;
  g_peak = 0;
  g_counting = true;
  work();
  g_counting = false;
  return static_cast<double>(g_peak.load()) / static_cast<double>(file.bytes);
}

void MeasureMemory(int megabytes, Form form) {
  const GeneratedFile& file = FileOf(megabytes, form);
  std::vector<double> ours, theirs;
  for (int i = 0; i < kRepetitions; ++i) {
    ours.push_back(PeakMultiple(file, [&] {
      inidoc::IniFileReader document;
      Check(document.Load(file.path.u16string()).loaded, "load");
    }));
    if (form != Form::Utf16) {
      theirs.push_back(PeakMultiple(file, [&] {
        CSimpleIniA ini;
        ini.SetUnicode(form == Form::Utf8);
        Check(ini.LoadFile(file.path.string().c_str()) == SI_OK, "SimpleIni load");
      }));
    }
  }
  AddRow(Label("peak heap of a loaded IniFileReader", form, megabytes), "x file", ours);
  if (!theirs.empty()) AddRow(Label("peak heap of a loaded SimpleIni", form, megabytes), "x file", theirs);
}

// ---- The navigator ----

void DropProfileCache(const fs::path& path) {
  const std::u16string file = path.u16string();
  profile::WritePrivateProfileStringW(nullptr, nullptr, nullptr, platform::AsWide(file.c_str()));
}

void RegisterGetValues() {
  const GeneratedFile& ansi = FileOf(10, Form::Ansi);
  const GeneratedFile& wide = FileOf(10, Form::Utf16);
  Register("IniFileReader::Load + 10,000 lookups, ANSI 10 MB", "ms", 0, [&ansi](benchmark::State& state) {
    const std::vector<Pick> picks = Picks(ansi.sections, kLookups, 11);
    std::vector<std::pair<std::u16string, std::u16string>> names;
    for (const Pick& pick : picks) names.emplace_back(SectionName(pick.section), KeyName(pick.key));
    std::u16string value;
    for (auto _ : state) {
      inidoc::IniFileReader document;
      Check(document.Load(ansi.path.u16string()).loaded, "load");
      std::size_t found = 0;
      for (const auto& [section, key] : names) found += document.GetValue(section, key, value);
      benchmark::DoNotOptimize(found);
    }
  });
  const auto getValues = [](const GeneratedFile& file, int mode, bool parseEachTime) {
    return [&file, mode, parseEachTime](benchmark::State& state) {
      ProfileMode::ResetForTesting(mode);
      ComPtr<IOrvFileNavigator> navigator = Open(file.path);
      RecordSet records(Picks(file.sections, kLookups, 11), false);
      Check(navigator->GetValues(0, 0, 0, records.Count(), records.Data()) == S_OK, "GetValues");
      records.CheckRead();
      for (auto _ : state) {
        if (parseEachTime) DropProfileCache(file.path);
        Check(navigator->GetValues(0, 0, 0, records.Count(), records.Data()) == S_OK, "GetValues");
      }
      records.CheckRead();
      DropProfileCache(file.path);
    };
  };
  Register("GetValues 10,000, mode 0, ANSI 10 MB (parse + reads)", "ms", 0,
           getValues(ansi, 0, true));
  Register("GetValues 10,000, mode 0, ANSI 10 MB (parsed form kept)", "ms", 0,
           getValues(ansi, 0, false));
  Register("GetValues 10,000, mode 1, UTF-16 10 MB (document)", "ms", 0,
           getValues(wide, 1, false));
}

// SetValues of 1,000 records (nine in ten replace a value, one in ten adds a key) plus
// Commit, each time on a fresh copy of the file; afterwards the file must hold every value.
void RegisterSetValues(int megabytes, Form form, int mode) {
  const GeneratedFile& file = FileOf(megabytes, form);
  const std::string name = "SetValues 1,000 + Commit, mode " + std::to_string(mode) + ", " +
                           FormName(form) + " " + std::to_string(megabytes) + " MB";
  Register(name, "ms", 0, [&file, mode](benchmark::State& state) {
    ProfileMode::ResetForTesting(mode);
    const std::vector<Pick> picks = Picks(file.sections, kWrites, 5);
    RecordSet records(picks, true);
    // A fresh copy for every iteration, all made and left to settle beforehand: a file a
    // host opens has usually not been changed in the last instant, and no wait falls
    // between iterations to let the processor idle.
    std::vector<fs::path> copies;
    for (std::int64_t i = 0; i < state.max_iterations; ++i) {
      copies.push_back(Folder().path / ("set-target-" + std::to_string(i) + ".ini"));
      fs::copy_file(file.path, copies.back(), fs::copy_options::overwrite_existing);
    }
    for (const fs::path& copy : copies) Settle(copy);
    // On the disk, as a file a host opens usually is: otherwise the first flush inside the
    // timing would also carry the copies' own data to the disk.
    ::sync();
    std::size_t next = 0;
    fs::path target;
    for (auto _ : state) {
      state.PauseTiming();
      target = copies[next++];
      ComPtr<IOrvFileNavigator> navigator = Open(target);
      state.ResumeTiming();
      Check(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0) == S_OK, "SetValues");
      Check(navigator->Commit() == S_OK, "Commit");
    }
    std::map<std::pair<int, int>, std::u16string> expected;
    for (std::size_t i = 0; i < picks.size(); ++i) {
      expected[{picks[i].section, picks[i].key}] = RecordSet::NewValue(i);
    }
    inidoc::IniFileReader document;
    Check(document.Load(target.u16string()).loaded, "reload");
    std::u16string value;
    for (const auto& [at, text] : expected) {
      Check(document.GetValue(SectionName(at.first), KeyName(at.second), value) && value == text,
            "a written value is not in the file");
    }
    for (const fs::path& copy : copies) fs::remove(copy);
  }, 4);
}

void RegisterLoadSave(int megabytes) {
  const GeneratedFile& file = FileOf(megabytes, Form::Ansi);
  Register(Label("IniFileReader::Load + Save", Form::Ansi, megabytes), "ms", 0,
           [&file](benchmark::State& state) {
             const fs::path target = Folder().path / "loadsave.ini";
             for (auto _ : state) {
               inidoc::IniFileReader document;
               Check(document.Load(file.path.u16string()).loaded, "load");
               Check(document.Save(target.u16string()), "save");
             }
           });
}

// ---- Keys chosen to collide ----

// FNV-1a as the indexes hashed before their seed: a fixed start, so that names could be
// chosen offline to share one hash.
std::uint32_t UnseededStep(std::uint32_t state, std::string_view text) {
  for (char c : text) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
  return state;
}

// 2^stages names with one unseeded hash: at each stage, two pieces that lead from the
// common state to one state (found by a birthday search), so that every choice of one
// piece a stage ends in the same state.
std::vector<std::string> CollidingNames(int stages) {
  std::mt19937 random(20261208);
  const std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uint32_t state = 2166136261u;
  std::vector<std::pair<std::string, std::string>> pieces;
  for (int stage = 0; stage < stages; ++stage) {
    std::unordered_map<std::uint32_t, std::string> seen;
    for (;;) {
      std::string piece(6, ' ');
      for (char& c : piece) c = alphabet[pick(random)];
      const std::uint32_t next = UnseededStep(state, piece);
      auto [slot, added] = seen.emplace(next, piece);
      if (!added && slot->second != piece) {
        pieces.emplace_back(slot->second, piece);
        state = next;
        break;
      }
    }
  }
  std::vector<std::string> names(std::size_t{1} << stages);
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (int stage = 0; stage < stages; ++stage) {
      names[i] += (i >> stage) & 1 ? pieces[stage].second : pieces[stage].first;
    }
  }
  return names;
}

fs::path WriteKeysFile(const std::string& name, const std::vector<std::string>& keys) {
  const fs::path path = Folder().path / name;
  std::string text = "[S]\r\n";
  for (const std::string& key : keys) text += key + "=1\r\n";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void RegisterCollidingKeys() {
  constexpr int kStages = 14;  // 16,384 names
  static const std::vector<std::string> crafted = CollidingNames(kStages);
  std::vector<std::string> random;
  std::mt19937 generator(7);
  std::uniform_int_distribution<int> letter('a', 'z');
  for (const std::string& name : crafted) {
    std::string key(name.size(), ' ');
    for (char& c : key) c = static_cast<char>(letter(generator));
    random.push_back(key);
  }
  using Keys = const std::vector<std::string>*;
  for (const auto& [label, keys] : {std::pair<std::string, Keys>{"crafted to collide", &crafted},
                                    std::pair<std::string, Keys>{"random", &random}}) {
    const fs::path path = WriteKeysFile("keys-" + label.substr(0, 7) + ".ini", *keys);
    const std::u16string probe = std::u16string(keys->back().begin(), keys->back().end());
    Register("IniFileReader::Load, 16,384 keys " + label, "ms", 0,
             [path, probe](benchmark::State& state) {
               for (auto _ : state) {
                 inidoc::IniFileReader document;
                 Check(document.Load(path.u16string()).loaded, "load");
                 std::u16string value;
                 Check(document.GetValue(u"S", probe, value) && value == u"1", "lookup");
               }
             });
  }
}

// ---- Small files ----

void MeasureSmallFiles(Form form) {
  std::fprintf(stderr, "small files, %s...\n", FormName(form).c_str());
  const SmallFiles files(Folder().path, form);
  const std::string of = ", " + std::string(FormName(form)) + " 2 KB";
  const auto add = [&](const char* what, const std::vector<double>& rates) {
    AddRow(what + of, "files/s", rates);
    std::fprintf(stderr, "  %s: %.0f files/s\n", what, Measured()[what + of].Median());
  };
  add(SmallFiles::kReadName, files.Read());
  add(SmallFiles::kFloorReadName, files.FloorRead());
  add(SmallFiles::kSimpleIniName, files.SimpleIni());
  add(SmallFiles::kProfileName, files.ProfileReads(&profile::GetPrivateProfileStringW));
  add(SmallFiles::kReadWriteName, files.ReadWrite());
  add(SmallFiles::kFloorReadWriteName, files.FloorReadWrite());
}

// ---- The targets ----

const Row* FindRow(const std::vector<Row>& rows, const std::string& name) {
  for (const Row& row : rows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

void PrintTargets(const std::vector<Row>& rows) {
  const auto median = [&](const std::string& name) {
    const Row* row = FindRow(rows, name);
    return row ? row->Median() : 0.0;
  };
  struct Target {
    std::string what;
    std::string goal;
    double measured;
    bool holds;
  };
  std::vector<Target> targets;
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };

  // A ratio of 0 means a row was not measured (a filtered or quick run): never a pass.
  const auto atLeast = [&](std::string what, std::string goal, double measured, double bound) {
    targets.push_back({std::move(what), std::move(goal), measured, measured > 0 && measured >= bound});
  };
  const auto atMost = [&](std::string what, std::string goal, double measured, double bound) {
    targets.push_back({std::move(what), std::move(goal), measured, measured > 0 && measured <= bound});
  };
  for (int size : {10, 50}) {
    for (Form form : kForms) {
      const double load = median(Label("IniFileReader::Load", form, size));
      const double floorRead = median(Label("floor: read + memchr line ends and '='", form, size));
      if (load > 0) atLeast(Label("Load / floor read", form, size), ">= 0.5", ratio(load, floorRead), 0.5);
    }
  }
  for (int size : {10, 50}) {
    for (Form form : kForms) {
      const double save = median(Label("IniFileReader::Save (atomic, flushed)", form, size));
      const double floorWrite = median(Label("floor: write + flush", form, size));
      if (save > 0) {
        atLeast(Label("Save / floor write + flush", form, size), ">= 0.9", ratio(save, floorWrite), 0.9);
      }
    }
  }
  for (Form form : kForms) {
    if (const Row* memory = FindRow(rows, Label("peak heap of a loaded IniFileReader", form, 50))) {
      atMost(Label("peak heap of a loaded document", form, 50), "<= 2x file", memory->Median(), 2);
    }
  }
  const double load = median(Label("IniFileReader::Load", Form::Ansi, 10));
  const double siLoad = median(Label("SimpleIni load", Form::Ansi, 10));
  atLeast("Load, ANSI 10 MB / SimpleIni load", ">= 15x", ratio(load, siLoad), 15);
  const double getValues = median("GetValues 10,000, mode 0, ANSI 10 MB (parse + reads)");
  const double reference = median("IniFileReader::Load + 10,000 lookups, ANSI 10 MB");
  atMost("GetValues mode 0 10 MB / (Load + 10,000 lookups)", "<= 1.1", ratio(getValues, reference), 1.1);
  const double setValues = median("SetValues 1,000 + Commit, mode 0, ANSI 1 MB");
  const double loadSave = median(Label("IniFileReader::Load + Save", Form::Ansi, 1));
  atMost("SetValues mode 0 1 MB / (Load + Save)", "<= 2", ratio(setValues, loadSave), 2);
  const double crafted = median("IniFileReader::Load, 16,384 keys crafted to collide");
  const double random = median("IniFileReader::Load, 16,384 keys random");
  atMost("Load, keys crafted to collide / random keys", "<= 2", ratio(crafted, random), 2);
  // The small files: ours serve every file natively, a UTF-8 one in the Windows builds.
  const auto smallFiles = [&](const std::string& prefix, Form form) {
    const std::string of = ", " + std::string(FormName(form)) + " 2 KB";
    const double read = median(prefix + SmallFiles::kReadName + of);
    if (read == 0) return;
    atLeast(prefix + "small files read / floor" + of, ">= 0.5",
            ratio(read, median(prefix + SmallFiles::kFloorReadName + of)), 0.5);
    atLeast(prefix + "small files read / SimpleIni" + of, ">= 10x",
            ratio(read, median(prefix + SmallFiles::kSimpleIniName + of)), 10);
    atLeast(prefix + "small files write / floor" + of, ">= 0.3",
            ratio(median(prefix + SmallFiles::kReadWriteName + of),
                  median(prefix + SmallFiles::kFloorReadWriteName + of)),
            0.3);
  };
  smallFiles("", Form::Ansi);
  smallFiles("", Form::Utf8);
  // Figures with no goal: how a row compares, said in the table.
  const auto report = [&](std::string what, double measured) {
    if (measured > 0) targets.push_back({std::move(what), "(reported)", measured, true});
  };
  for (const std::string build : {"win32", "win64"}) {
    const std::string wine = "Wine (" + build + "): ";
    for (Form form : kForms) {
      const double load = median(Label((wine + "IniFileReader::Load").c_str(), form, 10));
      const double floorRead =
          median(Label((wine + "floor: read + memchr line ends and '='").c_str(), form, 10));
      if (load > 0) {
        atLeast(Label((wine + "Load / floor read").c_str(), form, 10), ">= 0.5",
                ratio(load, floorRead), 0.5);
      }
      const double save = median(Label((wine + "IniFileReader::Save (atomic, flushed)").c_str(), form, 10));
      const double floorWrite = median(Label((wine + "floor: write + flush").c_str(), form, 10));
      report(Label((wine + "Save / floor write + flush").c_str(), form, 10), ratio(save, floorWrite));
    }
    // The profile workloads against the floor's time for the same file.
    const double floorRate =
        median(Label((wine + "floor: read + memchr line ends and '='").c_str(), Form::Ansi, 10));
    const double floorMs = floorRate > 0 ? 10 * 1000.0 / floorRate : 0;
    report(wine + "floor read time / GetValues 10,000 reads (portable), ANSI 10 MB",
           ratio(floorMs, median(wine + "GetValues 10,000 reads, portable profile functions, ANSI 10 MB")));
    smallFiles(wine, Form::Utf8);
    // Where the system's functions serve: no goal, their share of a file's time.
    const std::string ansi = ", ANSI 2 KB";
    const double systemRead = median(wine + SmallFiles::kReadName + ansi);
    report(wine + "small files read / floor, ANSI 2 KB (the system's functions)",
           ratio(systemRead, median(wine + SmallFiles::kFloorReadName + ansi)));
    report(wine + "small files: the system's 20 reads' share of a read, ANSI 2 KB",
           ratio(systemRead, median(wine + SmallFiles::kProfileName + ansi)));
    report(wine + "small files: our 20 reads' share of a read, UTF-8 2 KB",
           ratio(median(wine + SmallFiles::kReadName + ", UTF-8 2 KB"),
                 median(wine + SmallFiles::kProfileName + ", UTF-8 2 KB")));
    report(wine + "small files write / floor, ANSI 2 KB (the system's functions)",
           ratio(median(wine + SmallFiles::kReadWriteName + ansi),
                 median(wine + SmallFiles::kFloorReadWriteName + ansi)));
    const double real = median(wine + "GetValues 10,000 reads, real profile functions, ANSI 10 MB");
    const double portable =
        median(wine + "GetValues 10,000 reads, portable profile functions, ANSI 10 MB");
    if (real > 0) {
      targets.push_back({wine + "GetValues real / portable", ">= 50", ratio(real, portable),
                         ratio(real, portable) >= 50});
    }
    const double load = median(Label((wine + "IniFileReader::Load").c_str(), Form::Ansi, 10));
    const double simpleIni = median(Label((wine + "SimpleIni load").c_str(), Form::Ansi, 10));
    if (load > 0) {
      targets.push_back({wine + "Load / SimpleIni load, ANSI 10 MB", ">= 5",
                         ratio(load, simpleIni), ratio(load, simpleIni) >= 5});
    }
  }

  std::printf("\n| target | goal | measured (medians) | holds |\n|---|---|---|---|\n");
  for (const Target& target : targets) {
    std::printf("| %s | %s | %s | %s |\n", target.what.c_str(), target.goal.c_str(),
                Figure(target.measured).c_str(), target.holds ? "yes" : "NO");
  }
}

}  // namespace
}  // namespace iniplugin::bench

int main(int argc, char** argv) {
  using namespace iniplugin::bench;
  std::string wineRows;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--wine-rows=", 0) == 0) {
      wineRows = arg.substr(12);
    } else if (arg == "--quick") {
      g_sizes = {1, 10};
    } else if (arg == "--small-files") {
      g_sizes = {};
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  std::fprintf(stderr, "generating files...\n");
  for (int size : g_sizes) {
    for (Form form : kForms) FileOf(size, form);
  }
  for (int size : g_sizes) {
    for (Form form : kForms) MeasureMemory(size, form);
  }
  for (int size : g_sizes) {
    for (Form form : kForms) {
      RegisterDocument(size, form);
      if (form != Form::Utf16) RegisterSimpleIni(size, form);
      RegisterFloor(size, form);
    }
  }
  if (!g_sizes.empty()) {
    RegisterGetValues();
    RegisterLoadSave(1);
    RegisterLoadSave(10);
    RegisterSetValues(1, Form::Ansi, 0);
    RegisterSetValues(10, Form::Ansi, 0);
    RegisterSetValues(1, Form::Utf16, 1);
    RegisterSetValues(10, Form::Utf16, 1);
    RegisterCollidingKeys();
  }

  Collector collector;
  collector.SetOutputStream(&std::cerr);
  collector.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  MeasureSmallFiles(Form::Ansi);
  MeasureSmallFiles(Form::Utf8);

  std::vector<Row> rows;
  for (const std::string& name : Order()) {
    auto found = Measured().find(name);
    if (found != Measured().end() && !found->second.samples.empty()) rows.push_back(found->second);
  }
  if (!wineRows.empty()) {
    for (const Row& row : ReadRowLines(wineRows)) rows.push_back(row);
  }
  PrintTable(rows);
  PrintTargets(rows);
  return 0;
}
