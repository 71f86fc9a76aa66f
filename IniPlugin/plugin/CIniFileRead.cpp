// Reading variables: GetValues and the one-value read that writing also uses.
#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/wide.h"
#include "plugin/CIniFile.h"
#include "profile/FileRoute.h"
#include "profile/Profile.h"

namespace iniplugin {

namespace {

// Most values are short: start small and grow, rather than fill a large buffer per record.
constexpr DWORD kFirstBufferSize = 256;
// The reader's size is a DWORD; no value of a file we can hold comes near this.
constexpr DWORD kLargestBufferSize = 0x40000000;

// The text as a C string sees it: up to the first NUL.
void CutAtNul(std::u16string& text) {
  text.resize(static_cast<std::size_t>(std::find(text.begin(), text.end(), u'\0') - text.begin()));
}

}  // namespace

std::optional<profile::FileRoute> CIniFile::ProfileSource() const {
  if (ReadsFromDocument()) return std::nullopt;
  return std::optional<profile::FileRoute>(std::in_place, m_filePath);
}

void CIniFile::ReadValueText(const profile::FileRoute* source, const WCHAR* section,
                             const WCHAR* key, const WCHAR* defaultText,
                             std::u16string& text) const {
  if (!source) {
    if (!m_document.GetValue(platform::WideView(section), platform::WideView(key), text)) {
      text.assign(platform::WideView(defaultText));
    }
    CutAtNul(text);
    return;
  }
  // The reader cuts what does not fit; a result that leaves less than two characters spare
  // may have been cut (a value at size - 1, a name list at size - 2), so read again with
  // twice the room until it fits.
  DWORD size = kFirstBufferSize;
  for (;;) {
    text.resize(size);
    const DWORD got =
        source->Read(section, key, defaultText, platform::AsWide(text.data()), size);
    if (got + 2 < size) {
      // The reader ended the text at `got`: only what comes before can hold a NUL.
      text.resize(got);
      break;
    }
    if (size > kLargestBufferSize / 2) throw std::bad_alloc();
    size *= 2;
  }
  CutAtNul(text);
}

HRESULT CIniFile::GetValues(INT_PTR, LONG firstMatch, INT_PTR, LONG count,
                            OrvVariableRecord* records) {
  CallFrame call(IID_IOrvFileNavigator, kProgId);
  if (!records) return call.Finish(E_POINTER);
  call.About(m_filePath);
  return Answer(call, [&] {
    call.Kept(u"nothing more was read");
    // One call reads one version of the file, and the file is checked once for it.
    const std::optional<profile::FileRoute> source = ProfileSource();
    std::optional<profile::ProfileReadBatch> batch;
    if (source) batch.emplace(m_filePath);
    std::u16string text;
    for (LONG i = 0; i < count; ++i) {
      OrvVariableRecord& record = records[i];
      ReadValueText(source ? &*source : nullptr, record.sectionName, record.keyName, nullptr,
                    text);
      if (text.empty()) {
        record.handled = 0;
        continue;
      }
      record.handled = 1;
      // A record whose copy fails keeps handled = 1 and an empty value.
      VariantClear(&record.value);
      record.value.bstrVal = platform::UniqueBstr::FromText(text).Release();
      record.value.vt = VT_BSTR;
      if (firstMatch) break;
    }
    return S_OK;
  });
}

}  // namespace iniplugin
