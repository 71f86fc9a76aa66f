// Generated INI files and navigators for the benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "module/ComObject.h"
#include "platform/com.h"
#include "platform/system.h"
#include "plugin/CIniFile.h"
#include "plugin/CIniFormat.h"

namespace iniplugin::bench {

namespace fs = std::filesystem;
using platform::ComPtr;
using platform::UniqueBstr;

constexpr int kKeysPerSection = 100;

inline std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

struct Corpus {
  std::u16string path;
  int sections = 0;
};

// A UTF-16 file of about `bytes` bytes: sections of 100 keys with values of 20 to 60
// The generated files' folder, removed when the program ends.
struct BenchFolder {
  BenchFolder() { fs::create_directories(path); }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  const fs::path path = fs::temp_directory_path() / "iniplugin-bench";
};

enum class Encoding { Ansi, Utf16 };

// A file of about `bytes` bytes: sections of 100 keys with values of 20 to 60 characters.
// Written once per size and form and left to settle (timestamps in the past), as a user's
// files are, so that the profile reader's cache trusts them.
inline const Corpus& FileOfSize(std::size_t bytes, Encoding encoding = Encoding::Utf16) {
  static BenchFolder bench;
  static std::map<std::pair<std::size_t, Encoding>, Corpus> files;
  if (auto found = files.find({bytes, encoding}); found != files.end()) return found->second;
  const bool utf16 = encoding == Encoding::Utf16;
  const fs::path path = bench.path / (std::string(utf16 ? "utf16-" : "ansi-") +
                                      std::to_string(bytes) + ".ini");
  std::mt19937 random(7);
  std::u16string text;
  int sections = 0;
  while (text.size() * (utf16 ? 2 : 1) < bytes) {
    text += u"[Section " + U16(std::to_string(sections++)) + u"]\r\n";
    for (int k = 0; k < kKeysPerSection; ++k) {
      text += u"Key" + U16(std::to_string(k)) + u"=";
      text.append(20 + random() % 41, static_cast<char16_t>(u'a' + random() % 26));
      text += u"\r\n";
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (utf16) out.write("\xFF\xFE", 2);
  for (char16_t c : text) {
    const char pair[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    out.write(pair, utf16 ? 2 : 1);
  }
  out.close();
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
  while (platform::QueryFileStamp(path.u16string())->recent) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return files.emplace(std::pair{bytes, encoding}, Corpus{path.u16string(), sections})
      .first->second;
}

inline ComPtr<IOrvFileNavigator> Open(const std::u16string& path) {
  ComObject<CIniFormat>* object = nullptr;
  ComObject<CIniFormat>::CreateInstance(&object);
  ComPtr<IOrvFileFormat> format;
  object->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid());
  ComPtr<IOrvFileNavigator> navigator;
  UniqueBstr bstr = UniqueBstr::FromText(path);
  if (format->CreateNavigator(bstr.Get(), 0, navigator.Receive()) != S_OK) std::abort();
  return navigator;
}

inline std::size_t Megabytes(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0)) << 20;
}

}  // namespace iniplugin::bench
