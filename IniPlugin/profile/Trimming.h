// How the profile functions trim the names and values they are given and read: what the
// plug-in must know of them to tell beforehand whether a write reads back as written.
#pragma once

#include <string_view>

namespace iniplugin::profile {

// Trims the profile reader's blanks, as it trims the names and values of the file.
std::u16string_view TrimBlanks(std::u16string_view text);
// Trims spaces only, as the reader and the writer trim the names a caller passes (and the
// end of a default).
std::u16string_view TrimSpaces(std::u16string_view text);
std::u16string_view TrimTrailingSpaces(std::u16string_view text);
// Whether `name` begins or ends with a blank other than a space: the writer writes such a
// name as it is given, and the reader never finds it in the file again.
bool EdgedByOtherBlanks(std::u16string_view name);
// Removes one pair of matching quotes (" or ') around a text of two or more characters.
std::u16string_view StripQuotes(std::u16string_view text);

// A value as the profile functions read it back once written: without the blanks around
// it and without one pair of matching quotes.
std::u16string_view ValueAsRead(std::u16string_view written);

}  // namespace iniplugin::profile
