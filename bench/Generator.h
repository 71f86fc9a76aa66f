// The generated INI files every benchmark works on, native and under Wine alike: sections
// of twenty KeyNN=value lines of 20 to 40 characters, a comment every ten lines, a blank
// line between sections, CR LF line ends, in the three forms a file is stored in.
//
// Everything is a function of the section and key numbers, so a lookup knows the value it
// must find without a table of the whole file.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "support/FileForms.h"

namespace iniplugin::bench {

using test::Form;
using test::FormName;
using test::kForms;

constexpr int kKeysPerSection = 20;

// A small deterministic mixer (SplitMix64): the same numbers on every compiler and system.
inline std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline std::u16string Digits(unsigned number, std::size_t width) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + number % 10));
    number /= 10;
  } while (number > 0);
  if (text.size() < width) text.insert(0, width - text.size(), u'0');
  return text;
}

inline std::u16string SectionName(int section) {
  return u"Section " + Digits(static_cast<unsigned>(section), 1);
}
inline std::u16string KeyName(int key) { return u"Key" + Digits(static_cast<unsigned>(key), 2); }

// The value of KeyNN in a section: 14 to 34 characters, so that the line is 20 to 40; one
// value in eight holds an accented letter, which every form stores but differently.
inline std::u16string ValueOf(int section, int key) {
  std::uint64_t state = Mix((static_cast<std::uint64_t>(section) << 8) | static_cast<unsigned>(key));
  const std::size_t length = 14 + state % 21;
  std::u16string value;
  value.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    state = Mix(state);
    value.push_back(static_cast<char16_t>(u'a' + state % 26));
  }
  if (state % 8 == 0) value[length / 2] = u'\u00E9';
  return value;
}

// One section's lines.
inline void AppendSection(std::u16string& text, int section) {
  text += u"[" + SectionName(section) + u"]\r\n";
  for (int key = 1; key <= kKeysPerSection; ++key) {
    if (key % 10 == 1) text += u"; settings of group " + Digits(static_cast<unsigned>(key / 10), 1) + u"\r\n";
    text += KeyName(key) + u"=" + ValueOf(section, key) + u"\r\n";
  }
  text += u"\r\n";
}

using test::Encode;

// A name or value in the file's own bytes, without the mark, as SimpleIni hands it out.
inline std::string SimpleIniBytes(Form form, const std::u16string& text) {
  const std::string bytes = Encode(form, text);
  return bytes.substr(form == Form::Utf8 ? 3 : 0);
}

// Sets a file's times in the past, as a user's files are.
inline void Backdate(const std::filesystem::path& path) {
  std::filesystem::last_write_time(path,
                                   std::filesystem::file_time_type::clock::now() -
                                       std::chrono::hours(1));
}

// Waits until a backdated file's stamp no longer counts as recent (where the system also
// keeps a change time that cannot be set, that takes a moment): the profile reader then
// trusts its stamp. Many files are backdated first and waited for after, once.
inline void WaitSettled(const std::filesystem::path& path) {
  for (;;) {
    const auto stamp = platform::QueryFileStamp(path.u16string());
    if (!stamp || !stamp->recent) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

inline void Settle(const std::filesystem::path& path) {
  Backdate(path);
  WaitSettled(path);
}

struct GeneratedFile {
  std::filesystem::path path;
  Form form = Form::Ansi;
  int sections = 0;
  std::uint64_t bytes = 0;
};

// Writes a file of about `megabytes` MB in `form` into `folder` and lets it settle (its
// times in the past, as a user's files are), so that the profile reader trusts its stamp.
inline GeneratedFile Generate(const std::filesystem::path& folder, int megabytes, Form form) {
  const std::uint64_t target = static_cast<std::uint64_t>(megabytes) << 20;
  const std::uint64_t unit = form == Form::Utf16 ? 2 : 1;
  std::u16string text;
  int sections = 0;
  while (text.size() * unit < target) AppendSection(text, sections++);
  GeneratedFile file;
  file.form = form;
  file.sections = sections;
  file.path = folder / (std::string(FormName(form)) + "-" + std::to_string(megabytes) + "MB.ini");
  const std::string bytes = Encode(form, text);
  file.bytes = bytes.size();
  {
    std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  Settle(file.path);
  return file;
}

// A variable to look up: nine in ten exist, one in ten names a key past the last.
struct Pick {
  int section = 0;
  int key = 0;
  bool exists() const { return key <= kKeysPerSection; }
};

inline std::vector<Pick> Picks(int sections, int count, std::uint64_t seed) {
  std::vector<Pick> picks;
  picks.reserve(static_cast<std::size_t>(count));
  std::uint64_t state = seed;
  for (int i = 0; i < count; ++i) {
    state = Mix(state);
    const int section = static_cast<int>(state % static_cast<std::uint64_t>(sections));
    state = Mix(state);
    const int key = 1 + static_cast<int>(state % (kKeysPerSection + 2));
    picks.push_back(Pick{section, key});
  }
  return picks;
}

}  // namespace iniplugin::bench
