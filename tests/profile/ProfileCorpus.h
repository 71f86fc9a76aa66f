// The shared corpus of INI files the profile functions are tested on, each named for the
// rule it exercises. The read table, the write table and the differential sweep all draw
// from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace iniplugin::test {

struct CorpusFile {
  std::string name;
  std::string bytes;
};

const std::vector<CorpusFile>& ProfileCorpus();
// The corpus file of that name; fails the test (and returns an empty file) if there is none.
const CorpusFile& CorpusFileNamed(std::string_view name);

// File bytes: UTF-16 little-endian with its mark, and big-endian with its mark.
std::string Utf16File(std::u16string_view text);
std::string Utf16BigEndianFile(std::u16string_view text);

}  // namespace iniplugin::test
