// The typed values of the `set` command: TYPE:TEXT turned into the VARIANT a host would
// pass. A text without a known type prefix is a string.
#pragma once

#include <optional>
#include <string>

#include "platform/com.h"

namespace inihost {

// Fills `value` from the command-line text. Returns an error message when the text is
// not a valid value of its type (nothing is then called or written).
std::optional<std::string> ParseValue(const std::string& spec, iniplugin::platform::UniqueVariant& value);

// The OLE Automation day number of a calendar date and time, or nullopt when the fields
// do not form one.
std::optional<double> OleDate(int year, int month, int day, int hour, int minute, int second,
                              int millisecond);

}  // namespace inihost
