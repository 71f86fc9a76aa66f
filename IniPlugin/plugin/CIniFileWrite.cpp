// Writing variables: SetValues and Commit.
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_problem.h"
#include "platform/wide.h"
#include "plugin/CIniFile.h"
#include "profile/FileRoute.h"
#include "profile/Profile.h"
#include "profile/Trimming.h"
#include "text/Names.h"
#include "valuetext/ValueConversionError.h"
#include "valuetext/ValueToText.h"

namespace iniplugin {

namespace {

// What a value that the ANSI code page cannot hold gets: the system's writer would put
// "?" or a look-alike in its place and report success.
constexpr HRESULT kNoTranslation = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

// Why the text would change the file's structure instead of one value, or empty when it
// would not: a line break starts a new line (an injected key or section), and a key that
// is empty, holds "=", or reads as a comment or header after its leading spaces is a line
// that can never be read back by that key. Leading spaces are dropped by every reader, so
// such a key would be added again on every commit. A section without a name is refused
// too: the profile functions and the document disagree about where its keys live.
std::u16string_view WhyNotWritable(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view value) {
  if (HasLineBreak(value)) return u"a value cannot hold a line break";
  if (HasLineBreak(section) || HasLineBreak(key)) return u"a name cannot hold a line break";
  if (profile::TrimBlanks(section).empty()) return u"a section needs a name";
  // The system's reader ends a header's name at its first "]": the value would be written
  // again on every commit under a header that never reads back by this name.
  if (section.find(u']') != std::u16string_view::npos) {
    return u"a section name cannot hold \"]\"";
  }
  // The profile functions write such a name as it is given, and read it from the file
  // without those blanks: no Commit could read the value back.
  if (profile::EdgedByOtherBlanks(section) || profile::EdgedByOtherBlanks(key)) {
    return u"a name cannot begin or end with a tab, vertical tab, form feed or Ctrl-Z";
  }
  if (key.empty()) return u"a key needs a name";
  if (key.front() == u' ') return u"a key name cannot begin with a space";
  if (key.find(u'=') != std::u16string_view::npos) return u"a key name cannot hold \"=\"";
  if (key.front() == u';' || key.front() == u'[') {
    return u"a key name cannot begin with \";\" or \"[\"";
  }
  return {};
}

// The queued writes that decide what the file must hold: the last write to each key, as
// the profile functions name keys (spaces around a name do not count, A to Z match
// without regard to case), in the order they were queued.
template <class Writes>
std::vector<const CIniFile::Data*> LastWrites(const Writes& writes) {
  std::vector<const CIniFile::Data*> last;
  std::unordered_set<std::u16string> seen;
  std::u16string name;
  for (auto write = writes.rbegin(); write != writes.rend(); ++write) {
    const CIniFile::Data& data = **write;
    name.clear();
    for (char16_t c : profile::TrimSpaces(data.m_sectionName)) name.push_back(text::FoldCase(c));
    name.push_back(u'\0');  // no name holds one: WhyNotWritable refuses it
    for (char16_t c : profile::TrimSpaces(data.m_keyName)) name.push_back(text::FoldCase(c));
    if (seen.insert(name).second) last.push_back(&data);
  }
  return {last.rbegin(), last.rend()};
}

// Whether `document` already holds what the writes would leave in it: for each key, the
// value of the last write to it. Keys match as the document matches them (A to Z without
// regard to case).
template <class Writes>
bool HoldsEveryWrite(const inidoc::IniFileReader& document, const Writes& writes) {
  std::unordered_set<std::u16string> seen;
  std::u16string name, value;
  for (auto write = writes.rbegin(); write != writes.rend(); ++write) {
    const auto& data = **write;
    name.clear();
    for (char16_t c : data.m_sectionName) name.push_back(text::FoldCase(c));
    name.push_back(u'\0');  // no name holds one: the host's names end at their first
    for (char16_t c : data.m_keyName) name.push_back(text::FoldCase(c));
    if (!seen.insert(name).second) continue;  // a later write to the key decides
    if (!document.GetValue(data.m_sectionName, data.m_keyName, value) ||
        value != data.m_valueText) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool CIniFile::HasValue(const profile::FileRoute* source,
                        const OrvVariableRecord& record) const {
  std::u16string text;
  ReadValueText(source, record.sectionName, record.keyName, nullptr, text);
  return !text.empty();
}

HRESULT CIniFile::QueueWrite(const profile::FileRoute* source, bool writeNow,
                             const OrvVariableRecord& record, LONG dateLayout, CallFrame& call) {
  const std::u16string_view section = platform::BstrCText(record.sectionName);
  const std::u16string_view key = platform::BstrCText(record.keyName);
  const auto refuse = [&](HRESULT hr, std::u16string_view why) {
    return call.Fail(hr, describe::Variable(section, key).append(u": ").append(why));
  };
  std::u16string text;
  try {
    text = valuetext::ValueToText(record.value, dateLayout);
  } catch (const valuetext::ValueConversionError& error) {
    return refuse(error.Result(), describe::ConversionFailure(error.Result()));
  }
  if (const std::u16string_view why = WhyNotWritable(section, key, text); !why.empty()) {
    return refuse(E_INVALIDARG, why);
  }
  if (source && source->StoresAnsi() &&
      !(platform::AnsiHoldsExactly(section) && platform::AnsiHoldsExactly(key) &&
        platform::AnsiHoldsExactly(text))) {
    return refuse(kNoTranslation, m_filePath + u" is stored in the ANSI code page, which "
                                               u"cannot hold this text exactly");
  }

  auto data = std::make_unique<Data>(Data{std::u16string(section), std::u16string(key),
                                          std::move(text)});
  const Data& queued = *data;
  m_pendingWrites.push_back(std::move(data));
  if (source && writeNow) {
    // Its result is not needed: Commit reads every value back and writes again what did
    // not arrive.
    source->Write(platform::AsWide(queued.m_sectionName.c_str()),
                  platform::AsWide(queued.m_keyName.c_str()),
                  platform::AsWide(queued.m_valueText.c_str()));
  }
  return S_OK;
}

HRESULT CIniFile::SetValues(INT_PTR, LONG firstMatch, INT_PTR, LONG count,
                            OrvVariableRecord* records, LONG dateLayout) {
  CallFrame call(IID_IOrvFileNavigator, kProgId);
  if (count <= 0) return call.Finish(S_OK);
  if (!records) return call.Finish(E_POINTER);
  call.About(m_filePath);
  return Answer(call, [&] {
    const std::optional<profile::FileRoute> source = ProfileSource();
    const profile::FileRoute* const profile = source ? &*source : nullptr;
    // A read-only file is left to Commit, which refuses it: no writer of the system's
    // may touch it first (as root, or under Wine, the attribute would not stop them).
    const bool writeNow = profile && !platform::IsMarkedReadOnly(m_filePath);
    if (!firstMatch) {
      HRESULT result = S_OK;
      LONG refused = 0;
      for (LONG i = 0; i < count; ++i) {
        const HRESULT hr = QueueWrite(profile, writeNow, records[i], dateLayout, call);
        records[i].handled = SUCCEEDED(hr) ? 1 : 0;
        refused += FAILED(hr) ? 1 : 0;
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
      // The profile functions may hold direct writes until their flush: one flush for the
      // whole call puts them in the file before SetValues returns, and costs one rewrite
      // of the file instead of one per record.
      if (refused < count && writeNow) profile->Flush();
      if (refused == count) {
        call.Kept(u"nothing was written");
      } else if (refused > 0) {
        call.Kept(describe::Number(static_cast<std::uint64_t>(refused)) + u" of " +
                  describe::Number(static_cast<std::uint64_t>(count)) +
                  (refused == 1 ? u" values was not written; the others were"
                                : u" values were not written; the others were"));
      }
      return result;
    }

    // The records are alternatives for one variable: write the first that already has a
    // value, or else the first record.
    for (LONG i = 0; i < count; ++i) {
      if (!HasValue(profile, records[i])) {
        records[i].handled = 0;
        continue;
      }
      const HRESULT hr = QueueWrite(profile, writeNow, records[i], dateLayout, call);
      records[i].handled = SUCCEEDED(hr) ? 1 : 0;
      if (FAILED(hr)) {
        call.Kept(u"nothing was written");
        return hr;
      }
      // A failed commit keeps the write queued for the host's own Commit, which reports it.
      Commit();
      return S_OK;
    }
    const HRESULT hr = QueueWrite(profile, writeNow, records[0], dateLayout, call);
    records[0].handled = SUCCEEDED(hr) ? 1 : 0;
    if (FAILED(hr)) call.Kept(u"nothing was written");
    if (SUCCEEDED(hr) && writeNow) profile->Flush();
    return hr;
  });
}

HRESULT CIniFile::Commit() {
  CallFrame call(IID_IOrvFileNavigator, kProgId);
  return Answer(call, [&] { return CommitQueued(call); });
}

HRESULT CIniFile::CommitQueued(CallFrame& call) {
  if (m_pendingWrites.empty()) return S_OK;
  call.About(m_filePath);
  call.Kept(describe::QueuedKept(m_pendingWrites.size()));
  // Refused before any writer looks at it: the system's own would write into it where
  // the attribute does not bind them.
  if (platform::IsMarkedReadOnly(m_filePath)) {
    platform::NoteFileProblem(platform::FileProblem::ReadOnly);
    return call.Fail(E_FAIL, describe::SaveFailure(m_filePath));
  }
  const std::optional<profile::FileRoute> source = ProfileSource();
  const HRESULT hr = source ? CommitThroughProfile(*source, call) : CommitThroughDocument(call);
  // Only a commit that put them all in the file ends the queued writes: after any failure
  // a later Commit can still write them.
  if (SUCCEEDED(hr)) m_pendingWrites.clear();
  return hr;
}

HRESULT CIniFile::CommitThroughProfile(const profile::FileRoute& source, CallFrame& call) {
  const std::vector<const Data*> last = LastWrites(m_pendingWrites);
  std::vector<const Data*> missing;
  std::u16string text;
  // The keys whose last value the file does not give back, as the profile functions read
  // it: each read is one lookup in the file's one parse.
  const auto collectMissing = [&](const std::vector<const Data*>& writes) {
    profile::ProfileReadBatch batch(m_filePath);
    std::vector<const Data*> result;
    for (const Data* data : writes) {
      ReadValueText(&source, platform::AsWide(data->m_sectionName.c_str()),
                    platform::AsWide(data->m_keyName.c_str()), nullptr, text);
      if (text != profile::ValueAsRead(data->m_valueText)) result.push_back(data);
    }
    return result;
  };

  // A flush that failed leaves nothing to read back: every key is written again.
  missing = source.Flush() ? collectMissing(last) : last;
  if (missing.empty()) return S_OK;
  // A direct write can miss: the file was replaced, or changed beside it, or was not
  // writable for a moment. Once more, then the file has the last word.
  for (const Data* data : missing) {
    source.Write(platform::AsWide(data->m_sectionName.c_str()),
                 platform::AsWide(data->m_keyName.c_str()),
                 platform::AsWide(data->m_valueText.c_str()));
  }
  const std::size_t lost = source.Flush() ? collectMissing(missing).size() : missing.size();
  if (lost == 0) return S_OK;
  if (platform::LastFileProblem() != platform::FileProblem::Unknown) {
    return call.Fail(E_FAIL, describe::SaveFailure(m_filePath));
  }
  return call.Fail(E_FAIL, m_filePath + u" did not keep " + describe::Number(lost) + u" of the " +
                               describe::Number(last.size()) + u" values written to it");
}

HRESULT CIniFile::CommitThroughDocument(CallFrame& call) {
  // The navigator's own document changes only with a save that succeeded: reads served
  // from it after a failed Commit still show the file as it is.
  // Held from the read to the replacement, so that another writer's save in between is
  // neither lost to ours nor ours to it.
  const platform::FileLock lock(m_filePath, platform::FileLock::Missing::Fail);
  if (!lock.Held()) return call.Fail(E_FAIL, describe::SaveFailure(m_filePath));
  // From here on a failure leaves the file as it was.
  call.Kept(u"it was left unchanged and " + describe::QueuedKept(m_pendingWrites.size()));
  inidoc::IniFileReader document;
  if (const inidoc::IniFileReader::LoadResult loaded = document.Load(m_filePath); !loaded) {
    return call.Fail(LoadFailureResult(loaded), describe::LoadFailure(m_filePath, loaded));
  }
  // Where saving would only write back the bytes just read, the file is left alone rather
  // than rewritten.
  if (!document.SavesAsLoaded() || !HoldsEveryWrite(document, m_pendingWrites)) {
    for (const auto& data : m_pendingWrites) {
      document.SetValue(data->m_sectionName, data->m_keyName, data->m_valueText);
    }
    if (!document.Save(lock)) return call.Fail(E_FAIL, describe::SaveFailure(m_filePath));
  }
  m_document = std::move(document);
  return S_OK;
}

}  // namespace iniplugin
