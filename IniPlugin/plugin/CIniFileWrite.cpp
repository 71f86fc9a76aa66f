// Writing variables: SetValues and Commit.
#include <string>
#include <unordered_set>

#include "inidoc/FlatIndex.h"
#include "module/HostBoundary.h"
#include "platform/wide.h"
#include "plugin/CIniFile.h"
#include "profile/Route.h"
#include "valuetext/ValueConversionError.h"
#include "valuetext/ValueToText.h"

namespace iniplugin {

namespace {

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

// Text that would change the file's structure instead of one value: a line break starts
// a new line (an injected key or section), and a key that is empty, holds "=", or reads
// as a comment or header after its leading spaces is a line that can never be read back
// by that key. Leading spaces are dropped by every reader, so such a key would be added
// again on every commit.
bool IsWritable(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (key.empty() || key.front() == u' ' || key.find(u'=') != std::u16string_view::npos) {
    return false;
  }
  return key.front() != u';' && key.front() != u'[';
}

// The profile functions' flush call for the file: direct writes they still hold reach it.
void FlushDirectWrites(const std::u16string& path) {
  profile::WriteProfileString(nullptr, nullptr, nullptr, platform::AsWide(path.c_str()));
}

// Whether `document` already holds what the writes would leave in it: for each key, the
// value of the last write to it. Keys match as the document matches them (A to Z without
// regard to case).
template <class Writes>
bool HoldsEveryWrite(const IniFileReader& document, const Writes& writes) {
  std::unordered_set<std::u16string> seen;
  std::u16string name, value;
  for (auto write = writes.rbegin(); write != writes.rend(); ++write) {
    const auto& data = **write;
    name.clear();
    for (char16_t c : data.m_sectionName) name.push_back(inidoc::FoldCase(c));
    name.push_back(u'\0');  // no name holds one: the host's names end at their first
    for (char16_t c : data.m_keyName) name.push_back(inidoc::FoldCase(c));
    if (!seen.insert(name).second) continue;  // a later write to the key decides
    if (!document.GetValue(data.m_sectionName, data.m_keyName, value) ||
        value != data.m_valueText) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool CIniFile::HasValue(const OrvVariableRecord& record) const {
  std::u16string text;
  ReadValueText(record.sectionName, record.keyName, nullptr, text);
  return !text.empty();
}

HRESULT CIniFile::QueueWrite(const OrvVariableRecord& record, LONG dateLayout) {
  const std::u16string_view section = platform::BstrCText(record.sectionName);
  const std::u16string_view key = platform::BstrCText(record.keyName);
  std::u16string text;
  try {
    text = ValueToText(record.value, dateLayout);
  } catch (const ValueConversionError& error) {
    return error.Result();
  }
  if (!IsWritable(section, key, text)) return E_INVALIDARG;

  auto data = std::make_unique<Data>(Data{std::u16string(section), std::u16string(key),
                                          std::move(text)});
  const Data& queued = *data;
  m_pendingWrites.push_back(std::move(data));
  if (!ReadsFromDocument()) {
    // Its result is not needed: Commit writes the same value again through the document
    // and reports whether that worked.
    profile::WriteProfileString(platform::AsWide(queued.m_sectionName.c_str()),
                                platform::AsWide(queued.m_keyName.c_str()),
                                platform::AsWide(queued.m_valueText.c_str()),
                                platform::AsWide(m_filePath.c_str()));
  }
  return S_OK;
}

HRESULT CIniFile::SetValues(INT_PTR, LONG firstMatch, INT_PTR, LONG count,
                            OrvVariableRecord* records, LONG dateLayout) {
  if (count <= 0) return S_OK;
  if (!records) return E_POINTER;
  try {
    if (!firstMatch) {
      HRESULT result = S_OK;
      bool wrote = false;
      for (LONG i = 0; i < count; ++i) {
        const HRESULT hr = QueueWrite(records[i], dateLayout);
        records[i].handled = SUCCEEDED(hr) ? 1 : 0;
        wrote = wrote || SUCCEEDED(hr);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
      // The profile functions may hold direct writes until their flush: one flush for the
      // whole call puts them in the file before SetValues returns, and costs one rewrite
      // of the file instead of one per record.
      if (wrote && !ReadsFromDocument()) FlushDirectWrites(m_filePath);
      return result;
    }

    // The records are alternatives for one variable: write the first that already has a
    // value, or else the first record.
    for (LONG i = 0; i < count; ++i) {
      if (!HasValue(records[i])) {
        records[i].handled = 0;
        continue;
      }
      const HRESULT hr = QueueWrite(records[i], dateLayout);
      records[i].handled = SUCCEEDED(hr) ? 1 : 0;
      if (FAILED(hr)) return hr;
      // A failed commit keeps the write queued for the host's own Commit, which reports it.
      Commit();
      return S_OK;
    }
    const HRESULT hr = QueueWrite(records[0], dateLayout);
    records[0].handled = SUCCEEDED(hr) ? 1 : 0;
    if (SUCCEEDED(hr) && !ReadsFromDocument()) FlushDirectWrites(m_filePath);
    return hr;
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT CIniFile::Commit() {
  if (m_pendingWrites.empty()) return S_OK;
  try {
    // Makes every direct write reach the file before the document reads it.
    FlushDirectWrites(m_filePath);
    // The navigator's own document changes only with a save that succeeded: reads served
    // from it after a failed Commit still show the file as it is.
    IniFileReader document;
    if (!document.Load(m_filePath)) return E_FAIL;
    // In profile mode the direct writes have usually put every value in the file already;
    // where saving would only write back the bytes just read, the file is left alone
    // rather than rewritten a second time.
    if (!document.SavesAsLoaded() || !HoldsEveryWrite(document, m_pendingWrites)) {
      for (const auto& data : m_pendingWrites) {
        document.SetValue(data->m_sectionName, data->m_keyName, data->m_valueText);
      }
      if (!document.Save(m_filePath)) return E_FAIL;
    }
    m_document = std::move(document);
  } catch (...) {
    return HResultFromCurrentException();
  }
  // Only a save that holds them ends the queued writes: after any failure a later Commit
  // can still write them.
  m_pendingWrites.clear();
  return S_OK;
}

}  // namespace iniplugin
