// Any bytes: the document either refuses them or loads them; what it saves loads again to
// the same document, and saving that gives the same bytes (one save is a fixed point).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "inidoc/IniFileReader.h"
#include "platform/simd.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool SameDocument(const iniplugin::inidoc::IniFileReader& a,
                  const iniplugin::inidoc::IniFileReader& b) {
  if (a.SectionCount() != b.SectionCount() || a.Form() != b.Form()) return false;
  for (std::size_t s = 0; s < a.SectionCount(); ++s) {
    if (a.Header(s) != b.Header(s) || a.IsIndexed(s) != b.IsIndexed(s) ||
        a.LineCount(s) != b.LineCount(s)) {
      return false;
    }
    for (std::size_t l = 0; l < a.LineCount(s); ++l) {
      const auto x = a.Line(s, l);
      const auto y = b.Line(s, l);
      if (x.key != y.key || x.value != y.value || x.raw != y.raw) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The plain decoding and encoding are the answer the SSE2 ones must give.
  iniplugin::platform::UseWideInstructions(false);
  iniplugin::inidoc::IniFileReader plain;
  const bool plainLoaded = plain.LoadBytes(bytes);
  const std::string plainSaved = plainLoaded ? plain.Serialize() : std::string();
  iniplugin::platform::UseWideInstructions(true);

  iniplugin::inidoc::IniFileReader first;
  Require(first.LoadBytes(bytes) == plainLoaded);
  if (!plainLoaded) return 0;
  Require(SameDocument(first, plain));
  const std::string saved = first.Serialize();
  Require(saved == plainSaved);

  iniplugin::inidoc::IniFileReader second;
  Require(second.LoadBytes(saved));
  Require(second.Serialize() == saved);

  // Every entry the first document can reach, the second reaches with the same value.
  for (std::size_t s = 0; s < first.SectionCount(); ++s) {
    const std::u16string_view header = first.Header(s);
    if (!first.IsIndexed(s) || header.size() < 2) continue;
    for (std::size_t l = 0; l < first.LineCount(s); ++l) {
      const auto line = first.Line(s, l);
      if (line.raw) continue;
      std::u16string a, b;
      const bool inFirst = first.GetValue(header.substr(1, header.size() - 2), line.key, a);
      const bool inSecond = second.GetValue(header.substr(1, header.size() - 2), line.key, b);
      Require(inFirst == inSecond && a == b);
    }
  }
  // Re-rendering after the normalisation of the first save changes nothing more.
  iniplugin::inidoc::IniFileReader third;
  Require(third.LoadBytes(second.Serialize()));
  Require(SameDocument(second, third));
  return 0;
}
