// Writes held in a file's parsed form until they reach the file: made there, answered by
// reads from there, and kept as the caller made them so that they can be made again on a
// version of the file that changed behind our back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/windows_types.h"
#include "profile/ProfileText.h"
#include "text/Encoding.h"

namespace iniplugin::profile {

// A write as the caller made it, kept so that it can be made again should the file change
// behind our back before the flush.
struct LoggedWrite {
  std::u16string section;
  std::optional<std::u16string> key;
  std::optional<std::u16string> value;
};

// An entry added to a section of the parsed text and not yet folded into it.
struct AddedEntry {
  std::uint32_t section = 0;  // in the parsed text
  std::u16string name;
  std::u16string value;
};

// A new value for an entry of the parsed text, not yet folded into it.
struct ReplacedValue {
  std::u16string value;
  bool addEquals = false;  // the entry had no "="
};

// One file's parsed form and the writes made in it since it was read, which the file
// does not hold yet.
//
// The common writes (a new value for an entry, a new entry in an existing section, with
// text that keeps the line structure) are kept beside the parsed text and answered from
// there; any other write, and any read of name lists, first folds them into the text and
// parses it again.
struct HeldProfile {
  // `writable` is false for a file that could only be read with losses.
  HeldProfile(std::u16string path, text::Form form, bool writable,
              ProfileText text)
      : path(std::move(path)), form(form), writable(writable), text(std::move(text)) {}

  std::u16string path;
  text::Form form;
  bool writable;
  ProfileText text;

  // The writes not in the file yet, in the order they were made.
  std::vector<LoggedWrite> log;
  // Of those, the ones not folded into `text` yet: by entry index, and in arrival order.
  std::unordered_map<std::uint32_t, ReplacedValue> replaced;
  std::vector<AddedEntry> added;
  std::unordered_map<std::u16string, std::uint32_t> addedIndex;

  bool Dirty() const { return !log.empty(); }
};

// Makes one write in the profile's parsed form. FALSE when the file cannot take writes.
BOOL ApplyWrite(HeldProfile& profile, std::u16string_view sectionName, LPCWSTR key,
                LPCWSTR value);

// The text with the kept writes folded in.
std::u16string FoldedText(const HeldProfile& profile);
// Folds the kept writes into the text and parses it again.
void FoldWrites(HeldProfile& profile);

// The answer to a read of one value, with the writes not folded into the text yet.
std::optional<std::u16string_view> FindValue(const HeldProfile& profile,
                                             const ProfileText::Section& section,
                                             std::u16string_view name);

}  // namespace iniplugin::profile
