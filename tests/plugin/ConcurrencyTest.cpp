// One format object shared by eight threads for a bounded time, as a free-threaded object
// is used: each thread asks it for its description, takes and drops references to it, and
// opens navigators through it on a file of its own, through which it reads and writes.
// Built with the tsan preset, ThreadSanitizer watches every access on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/FileForms.h"
#include "PluginFixture.h"
#include "support/RecordArray.h"

namespace iniplugin::test {
namespace {

constexpr int kThreads = 8;
constexpr auto kDuration = std::chrono::seconds(2);

std::u16string Text(int number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

// The file after `rounds` rounds of thread `thread`.
std::u16string FileText(int thread, int rounds) {
  return u"[S]\r\ncount=" + Text(rounds) + u"\r\nowner=" + Text(thread) + u"\r\n";
}

// What one thread did, and what went wrong, reported after the threads are joined.
struct ThreadLog {
  int rounds = 0;
  std::vector<std::string> failures;
  void Check(bool condition, const std::string& what) {
    if (!condition) failures.push_back("round " + std::to_string(rounds) + ": " + what);
  }
};

// One round: the format's own calls, a reference taken and dropped, then a navigator that
// reads the count the previous round wrote and writes the next.
void Round(IOrvFileFormat* shared, const std::u16string& path, int thread, ThreadLog& log) {
  ComPtr<IOrvFileFormat> format;
  log.Check(shared->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid()) == S_OK, "query");
  UniqueBstr maker, description, extensions;
  log.Check(format->GetInfo(maker.Receive(), description.Receive(), extensions.Receive()) == S_OK &&
                maker.View() == u"QUARRYLINE" && extensions.View() == u"ini,taf",
            "GetInfo");
  LONG value = 0;
  log.Check(format->GetFormatValue(0, &value) == S_OK && value == 8, "GetFormatValue");

  UniqueBstr file = Bstr(path);
  ComPtr<IOrvFileNavigator> navigator;
  if (format->CreateNavigator(file.Get(), 0, navigator.Receive()) != S_OK) {
    log.Check(false, "CreateNavigator");
    return;
  }
  RecordArray read;
  read.Add(u"S", u"count");
  read.Add(u"S", u"owner");
  log.Check(navigator->GetValues(0, 0, 0, read.Count(), read.Data()) == S_OK &&
                read.Text(0) == Text(log.rounds) && read.Text(1) == Text(thread),
            "GetValues read " + Narrow(read.Text(0)));
  RecordArray write;
  write.AddText(u"S", u"count", Text(log.rounds + 1));
  log.Check(navigator->SetValues(0, 0, 0, write.Count(), write.Data(), 0) == S_OK, "SetValues");
  log.Check(navigator->Commit() == S_OK, "Commit");
  ++log.rounds;
}

class ConcurrencyTest : public PluginTest {};

// Mode 2 leaves the profile mode undecided, so that the threads' first Inits decide it
// at the same time.
TEST_P(ConcurrencyTest, EightThreadsShareOneFormatObject) {
  std::vector<std::u16string> paths;
  for (int t = 0; t < kThreads; ++t) {
    paths.push_back(WriteFile("thread" + std::to_string(t) + ".ini",
                              Encode(kForms[t % 3], FileText(t, 0))));
  }
  ThreadLog logs[kThreads];
  {
    ComPtr<IOrvFileFormat> format = NewFormat();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!stop.load() && logs[t].failures.empty()) Round(format.Get(), paths[t], t, logs[t]);
      });
    }
    std::this_thread::sleep_for(kDuration);
    stop = true;
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(Module::LockCount(), m_locksBefore);
  int rounds = 0;
  for (const ThreadLog& log : logs) rounds += log.rounds;
  std::printf("%d threads made %d rounds\n", kThreads, rounds);
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    for (const std::string& failure : logs[t].failures) ADD_FAILURE() << failure;
    EXPECT_GT(logs[t].rounds, 0);
    EXPECT_EQ(ReadBytes(m_dir / ("thread" + std::to_string(t) + ".ini")),
              Encode(kForms[t % 3], FileText(t, logs[t].rounds)));
  }
}

// Eight threads, each with one navigator of its own on one shared file, each committing
// its own keys again and again: a save made from a read older than another thread's save
// would put back an older value of that thread's keys, or drop them.
TEST_P(ConcurrencyTest, EightNavigatorsCommitToOneFile) {
  constexpr int kCommits = 40;
  const std::u16string path = WriteFile("shared.ini", Encode(Form::Ansi, u"[S]\r\n"));
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      UniqueBstr file = Bstr(path);
      ComPtr<IOrvFileNavigator> navigator;
      if (NewFormat()->CreateNavigator(file.Get(), 0, navigator.Receive()) != S_OK) {
        failures[t].push_back("CreateNavigator");
        return;
      }
      for (int i = 1; i <= kCommits && failures[t].empty(); ++i) {
        RecordArray write;
        write.AddText(u"S", (u"a" + Text(t)).c_str(), Text(i));
        write.AddText(u"S", (u"b" + Text(t)).c_str(), Text(i * 7));
        if (navigator->SetValues(0, 0, 0, write.Count(), write.Data(), 0) != S_OK) {
          failures[t].push_back("SetValues " + std::to_string(i));
        }
        if (navigator->Commit() != S_OK) failures[t].push_back("Commit " + std::to_string(i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string text = ReadBytes(m_dir / "shared.ini");
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    for (const std::string& failure : failures[t]) ADD_FAILURE() << failure;
    for (const std::string& line : {"a" + std::to_string(t) + "=" + std::to_string(kCommits),
                                   "b" + std::to_string(t) + "=" + std::to_string(kCommits * 7)}) {
      EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos) << line << " in\n" << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ConcurrencyTest, ::testing::Values(0, 1, 2), ModeName);

}  // namespace
}  // namespace iniplugin::test
