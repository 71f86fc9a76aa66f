// GetValues of 10,000 records on generated UTF-16 files of 1 MB and 10 MB, through both
// read sources: the navigator's document (profile mode 1) and the profile functions
// (profile mode 0, which the native build serves with the portable ones).
//
//   build/native/bin/getvalues_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "module/ComObject.h"
#include "platform/com.h"
#include "platform/portable.h"
#include "platform/system.h"
#include "plugin/CIniFile.h"
#include "plugin/CIniFormat.h"
#include "plugin/ProfileMode.h"

namespace iniplugin {
namespace {

namespace fs = std::filesystem;
using platform::ComPtr;
using platform::UniqueBstr;

constexpr int kRecords = 10'000;
constexpr int kKeysPerSection = 100;

std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

struct Corpus {
  std::u16string path;
  int sections = 0;
};

// A UTF-16 file of about `bytes` bytes: sections of 100 keys with values of 20 to 60
// characters. Written once per size and left to settle (timestamps in the past), as a
// user's files are, so that the profile reader's cache trusts them.
// The generated files' folder, removed when the program ends.
struct BenchFolder {
  BenchFolder() { fs::create_directories(path); }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  const fs::path path = fs::temp_directory_path() / "iniplugin-bench";
};

const Corpus& FileOfSize(std::size_t bytes) {
  static BenchFolder bench;
  static std::map<std::size_t, Corpus> files;
  if (auto found = files.find(bytes); found != files.end()) return found->second;
  const fs::path& folder = bench.path;
  const fs::path path = folder / ("getvalues-" + std::to_string(bytes) + ".ini");
  std::mt19937 random(7);
  std::u16string text;
  int sections = 0;
  while (text.size() * 2 < bytes) {
    text += u"[Section " + U16(std::to_string(sections++)) + u"]\r\n";
    for (int k = 0; k < kKeysPerSection; ++k) {
      text += u"Key" + U16(std::to_string(k)) + u"=";
      text.append(20 + random() % 41, static_cast<char16_t>(u'a' + random() % 26));
      text += u"\r\n";
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write("\xFF\xFE", 2);
  for (char16_t c : text) {
    const char pair[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    out.write(pair, 2);
  }
  out.close();
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
  while (platform::QueryFileStamp(path.u16string())->recent) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return files.emplace(bytes, Corpus{path.u16string(), sections}).first->second;
}

// 10,000 records naming keys spread over the whole file, one in ten of them missing.
class Records {
 public:
  explicit Records(const Corpus& corpus) {
    std::mt19937 random(11);
    m_records.resize(kRecords);
    for (OrvVariableRecord& record : m_records) {
      const int section = static_cast<int>(random() % corpus.sections);
      const int key = static_cast<int>(random() % (kKeysPerSection + kKeysPerSection / 9));
      record.sectionName = UniqueBstr::FromText(u"Section " + U16(std::to_string(section))).Release();
      record.keyName = UniqueBstr::FromText(u"Key" + U16(std::to_string(key))).Release();
      VariantInit(&record.value);
    }
  }
  ~Records() {
    for (OrvVariableRecord& record : m_records) {
      SysFreeString(record.sectionName);
      SysFreeString(record.keyName);
      VariantClear(&record.value);
    }
  }
  OrvVariableRecord* Data() { return m_records.data(); }

 private:
  std::vector<OrvVariableRecord> m_records;
};

ComPtr<IOrvFileNavigator> Open(const std::u16string& path) {
  ComObject<CIniFormat>* object = nullptr;
  ComObject<CIniFormat>::CreateInstance(&object);
  ComPtr<IOrvFileFormat> format;
  object->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid());
  ComPtr<IOrvFileNavigator> navigator;
  UniqueBstr bstr = UniqueBstr::FromText(path);
  if (format->CreateNavigator(bstr.Get(), 0, navigator.Receive()) != S_OK) std::abort();
  return navigator;
}

std::size_t Megabytes(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0)) << 20;
}

// Mode 1 on a UTF-16 file: every record is a lookup in the document loaded at Init.
void BM_GetValues_Document(benchmark::State& state) {
  ProfileMode::ResetForTesting(1);
  const Corpus& corpus = FileOfSize(Megabytes(state));
  ComPtr<IOrvFileNavigator> navigator = Open(corpus.path);
  Records records(corpus);
  for (auto _ : state) {
    benchmark::DoNotOptimize(navigator->GetValues(0, 0, 0, kRecords, records.Data()));
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The same with the navigator's Init (the document's load) in every iteration.
void BM_OpenAndGetValues_Document(benchmark::State& state) {
  ProfileMode::ResetForTesting(1);
  const Corpus& corpus = FileOfSize(Megabytes(state));
  Records records(corpus);
  for (auto _ : state) {
    ComPtr<IOrvFileNavigator> navigator = Open(corpus.path);
    benchmark::DoNotOptimize(navigator->GetValues(0, 0, 0, kRecords, records.Data()));
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// Mode 0: every record through GetPrivateProfileStringW, the file's parsed form already
// kept by the reader (one stat and one hash lookup per record).
void BM_GetValues_Profile(benchmark::State& state) {
  ProfileMode::ResetForTesting(0);
  const Corpus& corpus = FileOfSize(Megabytes(state));
  ComPtr<IOrvFileNavigator> navigator = Open(corpus.path);
  Records records(corpus);
  navigator->GetValues(0, 0, 0, kRecords, records.Data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(navigator->GetValues(0, 0, 0, kRecords, records.Data()));
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The same with the reader's kept form dropped (the flush call) before every iteration:
// one parse of the file, then the lookups.
void BM_GetValues_ProfileAfterFlush(benchmark::State& state) {
  ProfileMode::ResetForTesting(0);
  const Corpus& corpus = FileOfSize(Megabytes(state));
  ComPtr<IOrvFileNavigator> navigator = Open(corpus.path);
  Records records(corpus);
  const std::u16string& path = corpus.path;
  for (auto _ : state) {
    portable::WritePrivateProfileStringW(nullptr, nullptr, nullptr,
                                         platform::AsWide(path.c_str()));
    benchmark::DoNotOptimize(navigator->GetValues(0, 0, 0, kRecords, records.Data()));
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_GetValues_Document)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndGetValues_Document)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetValues_Profile)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetValues_ProfileAfterFlush)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace iniplugin

BENCHMARK_MAIN();
