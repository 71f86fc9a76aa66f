// The two sets of profile functions the profile tests compare: the portable ones, and
// the system's own (the platform's real functions on Windows; elsewhere the SDK-named
// functions, which forward to the portable ones). Which the system offers is chosen by
// the build: ProfileApi_win.cpp or ProfileApi_posix.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/wide.h"
#include "platform/windows_types.h"

namespace iniplugin::test {

struct ProfileApi {
  DWORD (*read)(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                char16_t* buffer, DWORD size, const char16_t* file);
  BOOL (*write)(const char16_t* section, const char16_t* key, const char16_t* value,
                const char16_t* file);
  const char* name;
};

const ProfileApi& PortableProfile();
const ProfileApi& SystemProfile();
// True when SystemProfile() is the platform's own, so that comparing it with the portable
// functions tells us something.
bool SystemProfileIsPlatformOwn();

// What one read left: the result, and the buffer with four sentinel characters (0xCCCC)
// after its end, to catch writes past it.
struct ReadOutcome {
  DWORD result = 0;
  std::u16string buffer;
};

constexpr char16_t kSentinel = 0xCCCC;

inline ReadOutcome Read(const ProfileApi& api, const char16_t* section, const char16_t* key,
                        const char16_t* defaultText, DWORD size, const std::u16string& file) {
  ReadOutcome outcome;
  outcome.buffer.assign(size + 4, kSentinel);
  outcome.result = api.read(section, key, defaultText, outcome.buffer.data(), size, file.c_str());
  return outcome;
}

// The meaningful part of a read: the text (or name list) the result counts, without the
// final terminator; empty if the terminator is missing where the result says it is.
inline std::u16string_view Answer(const ReadOutcome& outcome) {
  if (outcome.result >= outcome.buffer.size() || outcome.buffer[outcome.result] != u'\0') {
    return u"<unterminated>";
  }
  return std::u16string_view(outcome.buffer).substr(0, outcome.result);
}

// Splits a name list (each name terminated) into its names.
inline std::vector<std::u16string> Names(std::u16string_view list) {
  std::vector<std::u16string> names;
  while (!list.empty()) {
    const std::size_t end = list.find(u'\0');
    names.emplace_back(list.substr(0, end));
    list.remove_prefix(end + 1);
  }
  return names;
}

}  // namespace iniplugin::test
