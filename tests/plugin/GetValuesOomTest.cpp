// GetValues when memory runs out. This program alone replaces operator new (which fails
// for blocks from a set size up) and wraps malloc (which the portable BSTRs come from, and
// which fails on a set call), so that the failures land where the test wants them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "PluginFixture.h"
#include "Records.h"

namespace {
std::atomic<std::size_t> g_newFailsFrom{std::numeric_limits<std::size_t>::max()};
std::atomic<int> g_mallocsBeforeFailure{-1};
}  // namespace

extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size) {
  int left = g_mallocsBeforeFailure.load();
  while (left >= 0 && !g_mallocsBeforeFailure.compare_exchange_weak(left, left - 1)) {
  }
  return left == 0 ? nullptr : __real_malloc(size);
}

// This operator new takes its blocks from malloc, so free is the matching release; the
// compiler cannot see that through the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (size >= g_newFailsFrom.load()) throw std::bad_alloc();
  if (void* block = __real_malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace iniplugin::test {
namespace {

class GetValuesOomTest : public PluginTest {
 protected:
  void TearDown() override {
    g_newFailsFrom = std::numeric_limits<std::size_t>::max();
    g_mallocsBeforeFailure = -1;
    PluginTest::TearDown();
  }
  std::string FileBytes(bool unicode, std::u16string_view text) {
    if (unicode) return "\xFF\xFE" + Utf16Bytes(text);
    return std::string(text.begin(), text.end());
  }
};

TEST_P(GetValuesOomTest, FailedCopyLeavesTheRecordHandledAndEmpty) {
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "UTF-16 file" : "ANSI file");
    ComPtr<IOrvFileNavigator> navigator =
        Open(WriteFile("a.ini", FileBytes(unicode, u"[S]\r\na=1\r\nb=2\r\nc=3\r\n")));
    RecordArray records;
    records.Add(u"S", u"a");
    records.Add(u"S", u"b");
    records.Add(u"S", u"c");
    g_mallocsBeforeFailure = 1;  // the first value's copy succeeds, the second's fails
    EXPECT_EQ(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), E_OUTOFMEMORY);
    g_mallocsBeforeFailure = -1;
    EXPECT_EQ(records[0].handled, 1);
    EXPECT_EQ(records.Text(0), u"1");
    EXPECT_EQ(records[1].handled, 1);
    EXPECT_EQ(records[1].value.vt, VT_EMPTY);
    EXPECT_EQ(records[2].handled, RecordArray::kUntouched);
  }
}

TEST_P(GetValuesOomTest, FailedReadEndsTheCallAndKeepsEarlierRecords) {
  constexpr std::size_t kLength = 3'000'000;  // 6 MB as UTF-16
  // An ANSI file is read through the profile functions in both modes; a UTF-16 file in
  // mode 1 from the document.
  for (bool unicode : {false, true}) {
    if (unicode && Mode() == 0) continue;
    SCOPED_TRACE(unicode ? "UTF-16 file" : "ANSI file");
    const std::u16string text =
        u"[S]\r\na=1\r\nbig=" + std::u16string(kLength, u'x') + u"\r\nc=3\r\n";
    ComPtr<IOrvFileNavigator> navigator = Open(WriteFile("a.ini", FileBytes(unicode, text)));
    RecordArray records;
    records.Add(u"S", u"a");
    // Reads the file once, so that what fails below is the value's own buffer.
    ASSERT_EQ(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), S_OK);
    records.Add(u"S", u"big");
    records.Add(u"S", u"c");
    records[0].handled = RecordArray::kUntouched;
    g_newFailsFrom = 5'000'000;
    EXPECT_EQ(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), E_OUTOFMEMORY);
    g_newFailsFrom = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(records[0].handled, 1);
    EXPECT_EQ(records.Text(0), u"1");
    EXPECT_EQ(records[1].handled, RecordArray::kUntouched);
    EXPECT_EQ(records[1].value.vt, VT_EMPTY);
    EXPECT_EQ(records[2].handled, RecordArray::kUntouched);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, GetValuesOomTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
