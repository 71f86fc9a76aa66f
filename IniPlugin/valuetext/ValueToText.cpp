#include "valuetext/ValueToText.h"

#include "platform/com.h"
#include "platform/wide.h"
#include "valuetext/FormatDate.h"

namespace iniplugin::valuetext {

namespace {

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw ValueConversionError(hr);
}

std::u16string TextBeforeNul(BSTR text) { return std::u16string(platform::BstrCText(text)); }

}  // namespace

std::u16string ValueToText(const VARIANT& value, std::int32_t layoutCode) {
  // Exactly VT_DATE: a date held by reference takes the system's conversion.
  if (value.vt == VT_DATE) {
    Str text;
    if (FormatDate(text, value.date, layoutCode)) return text.Text();
  }

  platform::UniqueVariant copy;
  // The SDK declares the source without const; neither call changes it.
  ThrowIfFailed(VariantCopy(copy.Get(), const_cast<VARIANT*>(&value)));
  if (copy->vt == VT_BSTR) return TextBeforeNul(copy->bstrVal);

  platform::UniqueVariant converted;
  ThrowIfFailed(VariantChangeType(converted.Get(), copy.Get(), 0, VT_BSTR));
  return TextBeforeNul(converted->bstrVal);
}

}  // namespace iniplugin::valuetext
