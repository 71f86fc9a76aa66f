// The text that a host value is stored as behind the equals sign of a key.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_types.h"
#include "valuetext/ValueConversionError.h"

namespace iniplugin::valuetext {

// A VT_DATE value (other than the date 0.0) in the layout that `layoutCode` selects (see
// FormatDate); every other value in the system's own text for it, as VariantChangeType
// writes it in the user's locale (a boolean is -1 or 0, never a word). The text ends at
// its first NUL. `value` is only read.
//
// Throws ValueConversionError with the system's HRESULT for a value without a text form
// (VT_NULL, VT_ERROR, objects, arrays), and std::bad_alloc when memory runs out.
std::u16string ValueToText(const VARIANT& value, std::int32_t layoutCode);

}  // namespace iniplugin::valuetext
