// Dates in the layouts the host selects by a date layout code: English month names and
// fixed separators, whatever the user's regional settings say.
#pragma once

#include <cstdint>

#include "valuetext/Str.h"

namespace iniplugin::valuetext {

// Replaces the text of `out` with `date` (an Automation date) in the layout that
// `layoutCode` selects; a code without a layout of its own selects the fallback layout
// "05 Mars 2024 14:07:09:000". Returns false, leaving `out` untouched, only for the date
// 0.0, which the caller converts as a plain value. A date the system cannot break into
// calendar fields (outside the years 100 to 9999) is still written, with every number -1
// and the month names empty. Throws only std::bad_alloc.
bool FormatDate(Str& out, double date, std::int32_t layoutCode);

}  // namespace iniplugin::valuetext
