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
#include "BenchFiles.h"

namespace iniplugin {
namespace {

using platform::ComPtr;
using platform::UniqueBstr;
using bench::Corpus;
using bench::FileOfSize;
using bench::Megabytes;
using bench::Open;
using bench::U16;

constexpr int kRecords = 10'000;
constexpr int kKeysPerSection = bench::kKeysPerSection;

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
