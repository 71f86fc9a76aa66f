// The calls the host and the component runtime make, when memory runs out: at each
// allocation of the call in turn (the first, the second, ... until the call needs no
// more), and for blocks from a given size up. Each failing allocation throws, in turn,
// std::bad_alloc, std::length_error and an exception the module has no particular answer
// for. Every call answers with a result code (E_OUTOFMEMORY for the first two,
// E_UNEXPECTED for the third) and frees what it allocated; the file on disk is at every
// moment the old one or the new one; and once memory is back, the navigator reads what it
// read before and writes everything the host was told it would.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "support/FileForms.h"
#include "PluginFixture.h"
#include "support/RecordArray.h"
#include "dll/ObjectMap.h"
#include "platform/file_lock.h"
#include "module/ClassFactory.h"
#include "plugin/Guids.h"
#include "profile/FileRoute.h"
#include "support/AllocationFailure.h"
#include "support/Hresult.h"
#include "support/ModuleExports.h"

namespace iniplugin::test {
namespace {

namespace allocation = test::allocation;

constexpr const char16_t* kSettings = u"[S]\r\na=old\r\n";

using allocation::Throw;

// The profile mode, and what a failing allocation throws.
class AllocationFailureTest : public PluginTestWith<std::tuple<int, Throw>> {
 protected:
  void TearDown() override {
    allocation::Reset();
    PluginTestWith::TearDown();
  }

  std::u16string PutFile(Form form, std::u16string_view text) {
    m_path = m_dir / "settings.ini";
    WriteBytes(m_path, Encode(form, text));
    return U16Path(m_path);
  }
  std::string FileBytes() const { return ReadBytes(m_path); }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(
        std::filesystem::directory_iterator(m_dir.Path()), std::filesystem::directory_iterator()));
  }
  // Drops the profile functions' parsed form of the file, which would otherwise count as
  // allocated memory that the call left behind.
  void ForgetParsedFile() {
    const std::u16string path = U16Path(m_path);
    profile::WriteProfileString(nullptr, nullptr, nullptr, platform::AsWide(path.c_str()));
    // So does a failed call's error object, until the host reads it.
    SetErrorInfo(0, nullptr);
  }

  Throw Thrown() const { return std::get<1>(GetParam()); }
  // What a call answers when the exception thrown reaches its end.
  HRESULT Failure() const { return Thrown() == Throw::RuntimeError ? E_UNEXPECTED : E_OUTOFMEMORY; }

  // Runs `call` with its nth allocation failing (none for n = 0), as the host would: an
  // exception may not come out of it.
  template <class Call>
  HRESULT WithNthAllocationFailing(std::size_t n, Call&& call) {
    HRESULT hr = E_UNEXPECTED;
    try {
      // A failing malloc answers null, which the module reads as out of memory: only
      // operator new throws anything else.
      allocation::FailNth(n, Thrown() == Throw::BadAlloc ? allocation::Source::Any
                                                         : allocation::Source::New,
                          Thrown());
      hr = call();
    } catch (...) {
      allocation::Reset();
      ADD_FAILURE() << "an exception crossed the interface with allocation " << n << " failing";
    }
    m_injected = allocation::Injected();
    allocation::Reset();
    return hr;
  }

  // Runs `scenario(n)`, which makes one call with its nth allocation failing and releases
  // everything it made, for n = 1, 2, ... until the call succeeds without reaching the
  // nth; each time no block may stay allocated. A first run without failure sets up what
  // lives on between calls (the parsed-form cache).
  template <class Scenario>
  void ForEveryAllocation(Scenario&& scenario) {
    scenario(0);
    ForgetParsedFile();
    for (std::size_t n = 1; !HasFatalFailure(); ++n) {
      const std::size_t live = allocation::LiveBlocks();
      scenario(n);
      ForgetParsedFile();
      ASSERT_EQ(allocation::LiveBlocks(), live) << "blocks leaked with allocation " << n
                                                << " failing";
      if (!m_injected) {
        std::printf("the call made %zu allocations, each failed in turn\n", n - 1);
        return;
      }
      ASSERT_LT(n, 100000u) << "the call never stops allocating";
    }
  }

  std::filesystem::path m_path;
  bool m_injected = false;
};

// What a record holds after GetValues.
std::u16string Outcome(RecordArray& records, std::size_t i) {
  const OrvVariableRecord& record = records[i];
  if (record.handled == RecordArray::kUntouched) return u"<untouched>";
  if (record.handled == 0) return record.value.vt == VT_EMPTY ? u"<missing>" : u"<bad>";
  return record.value.vt == VT_EMPTY ? u"<empty>" : records.Text(i);
}

TEST_P(AllocationFailureTest, GetValuesAtEveryAllocation) {
  const std::u16string longValue(300, u'x');  // more than the first read buffer holds
  const std::u16string text =
      u"[S]\r\na=1\r\nlong=" + longValue + u"\r\n[T]\r\nb=\u00E9\r\n";
  const std::u16string expected[] = {u"1", longValue, u"\u00E9", u"<missing>"};
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    const std::u16string path = PutFile(form, text);
    const std::string before = FileBytes();
    auto fill = [](RecordArray& records) {
      records.Add(u"S", u"a");
      records.Add(u"S", u"long");
      records.Add(u"T", u"b");
      records.Add(u"S", u"missing");
    };
    ForEveryAllocation([&](std::size_t n) {
      ComPtr<IOrvFileNavigator> navigator = Open(path);
      RecordArray records;
      fill(records);
      const HRESULT hr = WithNthAllocationFailing(n, [&] {
        return navigator->GetValues(0, 0, 0, records.Count(), records.Data());
      });
      if (!m_injected) {
        ASSERT_HR(hr, S_OK);
      }
      ASSERT_TRUE(hr == S_OK || hr == Failure()) << std::hex << hr;
      for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::u16string got = Outcome(records, i);
        if (got == expected[i]) continue;
        // A failed copy leaves the record handled and empty, and the call ends with it; a
        // read the profile functions could not finish answers as for a missing value.
        const bool allowed = (got == u"<empty>" || got == u"<untouched>")
                                 ? hr == Failure()
                                 : got == u"<missing>" && m_injected;
        EXPECT_TRUE(allowed) << "allocation " << n << ": " << Narrow(got);
      }
      // Memory back: the same navigator reads every value, also into a record that holds
      // an earlier call's text, which it frees (the leak check below counts it).
      RecordArray again;
      fill(again);
      again[0].value.vt = VT_BSTR;
      again[0].value.bstrVal = Bstr(u"earlier").Release();
      ASSERT_HR(navigator->GetValues(0, 0, 0, again.Count(), again.Data()), S_OK);
      for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(Outcome(again, i), expected[i]);
      EXPECT_EQ(FileBytes(), before);
    });
  }
}

TEST_P(AllocationFailureTest, SetValuesAtEveryAllocation) {
  // Three writes. A value that cannot be converted for want of memory is refused like any
  // value without a text form, and the call goes on; a failure anywhere else ends the call.
  // A direct write that runs out of memory is left to Commit, so the file may hold any of
  // the writes made before Commit, and after it exactly those.
  auto withWrites = [](unsigned mask) {
    std::u16string text = (mask & 1) ? u"[S]\r\na=new\r\n" : kSettings;
    if (mask & 2) text += u"number=42\r\n";
    if (mask & 4) text += u"[New]\r\nwhen=2005-11-23\r\n";
    return text;
  };
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ForEveryAllocation([&](std::size_t n) {
      ComPtr<IOrvFileNavigator> navigator = Open(PutFile(form, kSettings));
      RecordArray records;
      records.AddText(u"S", u"a", u"new");
      OrvVariableRecord& number = records.Add(u"S", u"number");
      number.value.vt = VT_I4;
      number.value.lVal = 42;
      OrvVariableRecord& when = records.Add(u"New", u"when");
      when.value.vt = VT_DATE;
      when.value.date = 38679.5;
      const HRESULT hr = WithNthAllocationFailing(n, [&] {
        return navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 120);
      });
      if (!m_injected) {
        ASSERT_HR(hr, S_OK);
      }
      ASSERT_TRUE(hr == S_OK || hr == Failure()) << std::hex << hr;
      unsigned written = 0;
      bool ended = false;
      for (std::size_t i = 0; i < 3; ++i) {
        const LONG handled = records[i].handled;
        if (ended) {
          EXPECT_EQ(handled, RecordArray::kUntouched);
        }
        ended = handled == RecordArray::kUntouched;
        EXPECT_TRUE(handled == 1 || handled == 0 || ended) << handled;
        if (handled == 1) written |= 1u << i;
      }
      EXPECT_EQ(hr == S_OK, written == 7u) << "allocation " << n;
      EXPECT_EQ(static_cast<CIniFile*>(navigator.Get())->PendingWriteCount(),
                static_cast<std::size_t>(std::popcount(written)));
      // Each direct write replaced the file whole, and only handled records were written.
      const std::string now = FileBytes();
      bool whole = false;
      for (unsigned mask = 0; mask < 8; ++mask) {
        if ((mask & written) == mask) whole = whole || now == Encode(form, withWrites(mask));
      }
      EXPECT_TRUE(whole) << "allocation " << n;

      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), Encode(form, withWrites(written))) << "allocation " << n;
    });
  }
}

TEST_P(AllocationFailureTest, FirstMatchSetValuesAtEveryAllocation) {
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    const std::string before = Encode(form, kSettings);
    const std::string after = Encode(form, u"[S]\r\na=new\r\n");
    ForEveryAllocation([&](std::size_t n) {
      ComPtr<IOrvFileNavigator> navigator = Open(PutFile(form, kSettings));
      RecordArray records;
      records.AddText(u"S", u"a", u"new");
      records.AddText(u"S", u"missing", u"other");
      const HRESULT hr = WithNthAllocationFailing(n, [&] {
        return navigator->SetValues(0, 1, 0, records.Count(), records.Data(), 0);
      });
      if (!m_injected) {
        ASSERT_HR(hr, S_OK);
      }
      ASSERT_TRUE(hr == S_OK || hr == Failure()) << std::hex << hr;
      EXPECT_TRUE(FileBytes() == before || FileBytes() == after) << "allocation " << n;
      // Only the first record may be written, whether its value was seen or not.
      EXPECT_NE(records[1].handled, 1);
      ASSERT_HR(navigator->Commit(), S_OK);
      EXPECT_EQ(FileBytes(), records[0].handled == 1 ? after : before) << "allocation " << n;
    });
  }
}

TEST_P(AllocationFailureTest, CommitAtEveryAllocation) {
  const std::u16string committed = u"[S]\r\na=new\r\n[T]\r\nb=2\r\n";
  for (Form form : kForms) {
    SCOPED_TRACE(FormName(form));
    ForEveryAllocation([&](std::size_t n) {
      ComPtr<IOrvFileNavigator> navigator = Open(PutFile(form, kSettings));
      RecordArray records;
      records.AddText(u"S", u"a", u"new");
      records.AddText(u"T", u"b", u"2");
      ASSERT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
      const std::string before = FileBytes();
      auto read = [&] {
        RecordArray values;
        values.Add(u"S", u"a");
        values.Add(u"T", u"b");
        EXPECT_HR(navigator->GetValues(0, 0, 0, values.Count(), values.Data()), S_OK);
        return Outcome(values, 0) + u"|" + Outcome(values, 1);
      };
      const std::u16string readBefore = read();

      const HRESULT hr = WithNthAllocationFailing(n, [&] { return navigator->Commit(); });
      if (!m_injected) {
        ASSERT_HR(hr, S_OK);
      }
      ASSERT_TRUE(hr == S_OK || hr == Failure()) << std::hex << hr;
      const std::size_t pending = static_cast<CIniFile*>(navigator.Get())->PendingWriteCount();
      if (hr == S_OK) {
        EXPECT_EQ(pending, 0u);
        EXPECT_EQ(FileBytes(), Encode(form, committed));
      } else {
        // Nothing changed: the same file, the same queue, the same values read.
        EXPECT_EQ(pending, 2u);
        EXPECT_EQ(FileBytes(), before) << "allocation " << n;
        EXPECT_EQ(Narrow(read()), Narrow(readBefore)) << "allocation " << n;
        ASSERT_HR(navigator->Commit(), S_OK);
        EXPECT_EQ(FileBytes(), Encode(form, committed));
      }
      EXPECT_EQ(FilesInFolder(), 1u) << "a temporary file is left";
    });
  }
}

TEST_P(AllocationFailureTest, EntryPointsAtEveryAllocation) {
  const std::u16string path = PutFile(Form::Ansi, kSettings);
  // The built module's allocations come to this program's operator new.
  std::unique_ptr<ModuleExports> dll = ModuleExports::Load();
  ASSERT_TRUE(dll) << "INIPLUGIN_MODULE must name the built module (ctest sets it)";
  ComPtr<IOrvFileFormat> format = NewFormat();

  // Each makes its call with the nth allocation failing and releases what the call made.
  // The built module decides its profile mode itself, so its exports run in one mode.
  struct EntryPoint {
    const char* name;
    bool ofTheBuiltModule;
    std::function<HRESULT(std::size_t n)> call;
  };
  const EntryPoint entryPoints[] = {
      {"GetInfo", false,
       [&](std::size_t n) {
         UniqueBstr maker, description, extensions;
         const HRESULT hr = WithNthAllocationFailing(n, [&] {
           return format->GetInfo(maker.Receive(), description.Receive(), extensions.Receive());
         });
         EXPECT_EQ(SUCCEEDED(hr), maker.Get() != nullptr);
         return hr;
       }},
      {"CreateNavigator and the navigator's Init", false,
       [&](std::size_t n) {
         UniqueBstr bstr = Bstr(path);
         ComPtr<IOrvFileNavigator> navigator;
         const HRESULT hr = WithNthAllocationFailing(
             n, [&] { return format->CreateNavigator(bstr.Get(), 0, navigator.Receive()); });
         EXPECT_EQ(SUCCEEDED(hr), navigator.Get() != nullptr);
         return hr;
       }},
      {"ModuleObject::GetClassObject, making the factory", false,
       [&](std::size_t n) {
         ModuleObject module;
         EXPECT_HR(module.Init(IniPluginDescription(), nullptr), S_OK);
         ComPtr<IClassFactory> factory;
         const HRESULT hr = WithNthAllocationFailing(n, [&] {
           return module.GetClassObject(CLSID_IniFile, IID_IClassFactory, factory.ReceiveVoid());
         });
         factory = {};
         module.Term();
         return hr;
       }},
      {"ClassFactory::CreateInstance", false,
       [&](std::size_t n) {
         ModuleObject module;
         EXPECT_HR(module.Init(IniPluginDescription(), nullptr), S_OK);
         ComPtr<IClassFactory> factory;
         EXPECT_EQ(module.GetClassObject(CLSID_IniFormat, IID_IClassFactory, factory.ReceiveVoid()),
                   S_OK);
         ComPtr<IOrvFileFormat> object;
         const HRESULT hr = WithNthAllocationFailing(n, [&] {
           return factory->CreateInstance(nullptr, IID_IOrvFileFormat, object.ReceiveVoid());
         });
         object = {};
         factory = {};
         module.Term();
         return hr;
       }},
      {"DllGetClassObject", true,
       [&](std::size_t n) {
         ComPtr<IClassFactory> factory;
         const HRESULT hr = WithNthAllocationFailing(n, [&] {
           return dll->getClassObject(CLSID_IniFormat, IID_IClassFactory, factory.ReceiveVoid());
         });
         return hr;
       }},
      {"DllCanUnloadNow", true,
       [&](std::size_t n) { return WithNthAllocationFailing(n, [&] { return dll->canUnloadNow(); }); }},
      {"DllRegisterServer", true,
       [&](std::size_t n) {
         const HRESULT hr = WithNthAllocationFailing(n, [&] { return dll->registerServer(); });
         // A failed registration may have left nothing to take away (the type library).
         (void)dll->unregisterServer();
         return hr;
       }},
      {"DllUnregisterServer", true,
       [&](std::size_t n) {
         EXPECT_HR(dll->registerServer(), S_OK);
         const HRESULT hr = WithNthAllocationFailing(n, [&] { return dll->unregisterServer(); });
         if (FAILED(hr)) {
           EXPECT_HR(dll->unregisterServer(), S_OK);
         }
         return hr;
       }},
  };
  for (const EntryPoint& entryPoint : entryPoints) {
    if (entryPoint.ofTheBuiltModule && Mode() != 0) continue;
    SCOPED_TRACE(entryPoint.name);
    ForEveryAllocation([&](std::size_t n) {
      const HRESULT hr = entryPoint.call(n);
      if (!m_injected) {
        ASSERT_HR(hr, S_OK);
      }
      ASSERT_TRUE(hr == S_OK || hr == Failure()) << "allocation " << n << ": " << std::hex << hr;
    });
  }
  EXPECT_HR(dll->canUnloadNow(), S_OK) << "something still holds the module";
}

TEST_P(AllocationFailureTest, FailedCopyLeavesTheRecordHandledAndEmpty) {
  if (Thrown() != Throw::BadAlloc) GTEST_SKIP() << "a failing malloc throws nothing";
  for (Form form : {Form::Ansi, Form::Utf16}) {
    SCOPED_TRACE(FormName(form));
    const std::u16string path = PutFile(form, u"[S]\r\na=1\r\nb=2\r\nc=3\r\n");
    ComPtr<IOrvFileNavigator> navigator = Open(path);
    RecordArray records;
    records.Add(u"S", u"a");
    records.Add(u"S", u"b");
    records.Add(u"S", u"c");
    allocation::FailNth(2, allocation::Source::Malloc);  // the second value's copy
    EXPECT_HR(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), E_OUTOFMEMORY);
    allocation::Reset();
    // The host hears which file the call was about.
    EXPECT_EQ(Narrow(ErrorDescription()),
              Narrow(path + u": the plug-in ran out of memory; nothing more was read."));
    EXPECT_EQ(Outcome(records, 0), u"1");
    EXPECT_EQ(Outcome(records, 1), u"<empty>");
    EXPECT_EQ(Outcome(records, 2), u"<untouched>");
  }
}

TEST_P(AllocationFailureTest, FailedReadEndsTheCallAndKeepsEarlierRecords) {
  if (Thrown() != Throw::BadAlloc) GTEST_SKIP() << "a block too large fails as out of memory";
  constexpr std::size_t kLength = 3'000'000;  // 6 MB as UTF-16
  // An ANSI file is read through the profile functions in both modes; a UTF-16 file in
  // mode 1 from the document.
  for (Form form : {Form::Ansi, Form::Utf16}) {
    if (form == Form::Utf16 && Mode() == 0) continue;
    SCOPED_TRACE(FormName(form));
    const std::u16string text =
        u"[S]\r\na=1\r\nbig=" + std::u16string(kLength, u'x') + u"\r\nc=3\r\n";
    ComPtr<IOrvFileNavigator> navigator = Open(PutFile(form, text));
    RecordArray records;
    records.Add(u"S", u"a");
    // Reads the file once, so that what fails below is the value's own buffer.
    ASSERT_HR(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), S_OK);
    records.Add(u"S", u"big");
    records.Add(u"S", u"c");
    records[0].handled = RecordArray::kUntouched;
    allocation::FailFromSize(5'000'000);
    EXPECT_HR(navigator->GetValues(0, 0, 0, records.Count(), records.Data()), E_OUTOFMEMORY);
    allocation::Reset();
    EXPECT_EQ(Outcome(records, 0), u"1");
    EXPECT_EQ(Outcome(records, 1), u"<untouched>");
    EXPECT_EQ(Outcome(records, 2), u"<untouched>");
  }
}

// A save whose new file cannot even be made (a folder has its temporary file's name) ends
// there: it does not go on to encode the document into buffers nobody will write, and so
// the host hears why the file was not saved even where large blocks cannot be had, rather
// than that memory ran out. The document is saved by Commit in mode 1, for a UTF-16 file.
TEST_P(AllocationFailureTest, ASaveThatCannotBeginEndsBeforeEncoding) {
  if (Mode() != 1 || Thrown() != Throw::BadAlloc) {
    GTEST_SKIP() << "only mode 1 saves the document; a block too large fails as out of memory";
  }
  const std::u16string path = PutFile(Form::Utf16, kSettings);
  ComPtr<IOrvFileNavigator> navigator = Open(path);
  RecordArray records;
  records.AddText(u"S", u"a", u"new");
  ASSERT_HR(navigator->SetValues(0, 0, 0, records.Count(), records.Data(), 0), S_OK);
  const std::filesystem::path blocker =
      m_dir / std::filesystem::path(platform::TemporaryName(u"settings.ini", u".tmp"));
  std::filesystem::create_directory(blocker);
  const std::string before = FileBytes();

  // Loading the file reads it in blocks of 64 KiB; saving would encode into twice that.
  allocation::FailFromSize(100'000);
  EXPECT_HR(navigator->Commit(), E_FAIL);
  allocation::Reset();
  EXPECT_EQ(Narrow(ErrorDescription()),
            Narrow(path + u" could not be saved; it was left unchanged and the queued value "
                          u"was kept for the next Commit."));
  EXPECT_EQ(FileBytes(), before);

  std::filesystem::remove(blocker);
  ASSERT_HR(navigator->Commit(), S_OK);
  EXPECT_EQ(FileBytes(), Encode(Form::Utf16, u"[S]\r\na=new\r\n"));
}

std::string ModeAndThrowName(const ::testing::TestParamInfo<std::tuple<int, Throw>>& info) {
  static const char* const kThrown[] = {"BadAlloc", "LengthError", "RuntimeError"};
  return "Mode" + std::to_string(std::get<0>(info.param)) +
         kThrown[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Modes, AllocationFailureTest,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(Throw::BadAlloc, Throw::LengthError,
                                                              Throw::RuntimeError)),
                         ModeAndThrowName);

}  // namespace
}  // namespace iniplugin::test
