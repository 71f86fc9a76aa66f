// Writing: SetValues of 1,000 records plus Commit on generated 1 MB and 10 MB files, in
// profile mode 0 (ANSI file: a direct write per record, then the document's commit) and
// mode 1 (UTF-16 file: the document alone); and the document's own Load and Save
// throughput.
//
//   build/native/bin/write_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include "BenchFiles.h"
#include "inidoc/IniFileReader.h"
#include "plugin/ProfileMode.h"

namespace iniplugin {
namespace {

using bench::Encoding;
using platform::UniqueBstr;

constexpr int kRecords = 1'000;

// 1,000 writes spread over the file: nine in ten replace a value, one in ten adds a key.
class WriteRecords {
 public:
  explicit WriteRecords(const bench::Corpus& corpus) {
    std::mt19937 random(5);
    m_records.resize(kRecords);
    for (OrvVariableRecord& record : m_records) {
      const int section = static_cast<int>(random() % corpus.sections);
      const int key = static_cast<int>(random() % (bench::kKeysPerSection * 10 / 9));
      record.sectionName =
          UniqueBstr::FromText(u"Section " + bench::U16(std::to_string(section))).Release();
      record.keyName = UniqueBstr::FromText(u"Key" + bench::U16(std::to_string(key))).Release();
      VariantInit(&record.value);
      record.value.vt = VT_I4;
      record.value.lVal = static_cast<LONG>(random() % 100000);
    }
  }
  ~WriteRecords() {
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

// Each iteration works on a fresh copy of the generated file, so every run writes the
// same changes into the same text.
void SetValuesAndCommit(benchmark::State& state, int mode, Encoding encoding) {
  ProfileMode::ResetForTesting(mode);
  const bench::Corpus& corpus = bench::FileOfSize(bench::Megabytes(state), encoding);
  const std::filesystem::path source(corpus.path);
  const std::filesystem::path target = source.parent_path() / "write-target.ini";
  WriteRecords records(corpus);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    platform::ComPtr<IOrvFileNavigator> navigator = bench::Open(target.u16string());
    state.ResumeTiming();
    if (navigator->SetValues(0, 0, 0, kRecords, records.Data(), 0) != S_OK) std::abort();
    if (navigator->Commit() != S_OK) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SetValuesCommit_ProfileMode0(benchmark::State& state) {
  SetValuesAndCommit(state, 0, Encoding::Ansi);
}
void BM_SetValuesCommit_DocumentMode1(benchmark::State& state) {
  SetValuesAndCommit(state, 1, Encoding::Utf16);
}

void BM_Load(benchmark::State& state, Encoding encoding) {
  const bench::Corpus& corpus = bench::FileOfSize(bench::Megabytes(state), encoding);
  const auto bytes = std::filesystem::file_size(std::filesystem::path(corpus.path));
  for (auto _ : state) {
    IniFileReader document;
    if (!document.Load(corpus.path)) std::abort();
    benchmark::DoNotOptimize(document.SectionCount());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Save(benchmark::State& state, Encoding encoding) {
  const bench::Corpus& corpus = bench::FileOfSize(bench::Megabytes(state), encoding);
  const std::filesystem::path target =
      std::filesystem::path(corpus.path).parent_path() / "save-target.ini";
  IniFileReader document;
  if (!document.Load(corpus.path)) std::abort();
  const auto bytes = std::filesystem::file_size(std::filesystem::path(corpus.path));
  for (auto _ : state) {
    if (!document.Save(target.u16string())) std::abort();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_SetValuesCommit_ProfileMode0)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetValuesCommit_DocumentMode1)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, Ansi, Encoding::Ansi)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, Utf16, Encoding::Utf16)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, Ansi, Encoding::Ansi)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, Utf16, Encoding::Utf16)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace iniplugin

BENCHMARK_MAIN();
