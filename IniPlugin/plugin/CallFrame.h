// One call of the host's into the plug-in's objects, from its start to the result the host
// gets. A call that fails leaves the thread's error object holding one plain sentence:
// what failed, why, and what was kept ("C:\Data\a.ini is held by another program; the 3
// queued values were kept for the next Commit."). A call that succeeds leaves none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "inidoc/IniFileReader.h"
#include "platform/windows_types.h"

namespace iniplugin {

class CallFrame {
 public:
  // `iid`: the interface the host called; `source`: the object's ProgID.
  CallFrame(const IID& iid, std::u16string_view source) noexcept;
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  // Records why the call fails: `what` is the sentence up to what was kept ("[S] k: a value
  // cannot hold a line break"). The first reason recorded is the one told. Returns `hr`.
  HRESULT Fail(HRESULT hr, std::u16string what);
  // The end of the sentence: what the failure kept ("nothing was written"); none when
  // empty. Throws std::bad_alloc: call it inside the call's body.
  void Kept(std::u16string kept) { m_kept = std::move(kept); }
  // The file a failure without a recorded reason (an exception) names.
  void About(std::u16string_view file) { m_file = file; }
  bool Failed() const { return !m_what.empty(); }

  // The call's result: sets the error object for a failure, clears it for a success.
  HRESULT Finish(HRESULT hr) noexcept;
  // The same for the exception being handled; call only inside a catch block.
  HRESULT FinishWithException() noexcept;

 private:
  const IID& m_iid;
  std::u16string_view m_source;
  std::u16string_view m_file;
  std::u16string m_what;
  std::u16string m_kept;
};

// Runs `body` (which returns the call's result) as `call`, whatever it throws.
template <class Body>
HRESULT Answer(CallFrame& call, Body&& body) noexcept {
  try {
    return call.Finish(body());
  } catch (...) {
    return call.FinishWithException();
  }
}

// The sentences' parts, each naming what it is about.
namespace describe {

// "[Section] Key": the variable a record names.
std::u16string Variable(std::u16string_view section, std::u16string_view key);
// Why the file at `path` could not be loaded, from what Load reported and, for a file that
// could not be read, what the platform noted: "C:\a.ini is not valid UTF-8 (byte 1,234)".
std::u16string LoadFailure(std::u16string_view path,
                           const inidoc::IniFileReader::LoadResult& result);
// Why the file at `path` could not be locked or saved, from what the platform noted.
std::u16string SaveFailure(std::u16string_view path);
// Why a value could not be converted to text, from the conversion's result.
std::u16string_view ConversionFailure(HRESULT hr);
// "the 3 queued values were kept for the next Commit".
std::u16string QueuedKept(std::size_t count);
// 1234567 as "1,234,567".
std::u16string Number(std::uint64_t value);

}  // namespace describe

}  // namespace iniplugin
