// ValueToText on any VARIANT: it gives a text without NULs or throws ValueConversionError
// with a failure code; it neither changes the value nor keeps a reference to an object it
// was handed, and asking twice gives the same answer.
//
// Input, so that a seed can be written by hand:
//   bytes 0-1    the type tag, little-endian (any of the 65536)
//   bytes 2-5    the date layout code, little-endian
//   bytes 6-21   the VARIANT's 16 bytes, the first two (the tag's place) replaced by the
//                tag: the value as it lies in the VARIANT (a DECIMAL fills all of it)
//   bytes 22-37  what a by-reference value points at: the value, or a VARIANT (tag first)
//   bytes 38-53  what a by-reference VARIANT inside that points at
//   the rest     the text of every BSTR involved, UTF-16LE; an odd count means a null BSTR
// Wherever the tag says a pointer is followed (a BSTR, an object, a by-reference value),
// the pointer is made to point at valid storage of the right kind; a pointer to an array
// is null, as no SAFEARRAY can be built here.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com.h"
#include "platform/windows_types.h"
#include "valuetext/ValueConversionError.h"
#include "valuetext/ValueToText.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// An object that only counts its references.
class CountingObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_references; }
  ULONG References() const { return m_references; }

 private:
  ULONG m_references = 1;
};

constexpr std::size_t kValueBytes = 16;
constexpr VARTYPE kRecord = 36;
static_assert(sizeof(VARIANT) >= kValueBytes);

constexpr int kLevels = 3;  // the value, what it points at, what that points at

// Everything a fuzzed VARIANT may point at, outliving the conversion.
struct Storage {
  CountingObject object;
  BSTR text = nullptr;
  // What a by-reference value at each level points at; aligned for any value type.
  alignas(16) unsigned char pointee[kLevels][sizeof(VARIANT) > 32 ? sizeof(VARIANT) : 32] = {};
};

void* ObjectOrNull(Storage& storage, unsigned char choice) {
  return (choice & 1) ? static_cast<IUnknown*>(&storage.object) : nullptr;
}

// Fills the VARIANT at `slot` with level `level`'s 16 input bytes under the tag `vt`, then
// points whatever the tag makes a pointer at valid storage. A by-reference value points
// at the next level's bytes: a VARIANT built from them, or the plain value.
void Build(unsigned char* slot, VARTYPE vt, const unsigned char* const* levels, int level,
           Storage& storage) {
  const unsigned char* bytes = levels[level];
  std::memset(slot, 0, sizeof(VARIANT));
  std::memcpy(slot, bytes, kValueBytes);
  auto* value = reinterpret_cast<VARIANT*>(slot);
  value->vt = vt;
  const VARTYPE base = vt & VT_TYPEMASK;
  unsigned char* target = storage.pointee[level];
  if (vt & VT_BYREF) {
    value->byref = target;
    const unsigned char* next = level + 1 < kLevels ? levels[level + 1] : nullptr;
    if (!next || (vt & VT_ARRAY)) return;  // zeroed: VT_EMPTY, or a null array
    if (base == VT_VARIANT) {
      Build(target, static_cast<VARTYPE>(next[0] | (next[1] << 8)), levels, level + 1, storage);
      return;
    }
    std::memcpy(target, next, kValueBytes);
    if (base == VT_BSTR) {
      std::memcpy(target, &storage.text, sizeof(BSTR));
    } else if (base == VT_UNKNOWN || base == VT_DISPATCH) {
      void* object = ObjectOrNull(storage, next[0]);
      std::memcpy(target, &object, sizeof object);
    } else if (base == kRecord) {
      std::memset(target, 0, kValueBytes);
    }
    return;
  }
  if (vt & VT_ARRAY) {
    value->parray = nullptr;
  } else if (vt == VT_BSTR) {
    value->bstrVal = storage.text;
  } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    value->punkVal = static_cast<IUnknown*>(ObjectOrNull(storage, bytes[8]));
  } else if (vt == kRecord) {
    value->byref = target;
  }
}

struct Outcome {
  bool converted = false;
  std::u16string text;
  HRESULT result = S_OK;
  bool operator==(const Outcome&) const = default;
};

Outcome Convert(const VARIANT& value, std::int32_t layout) {
  Outcome outcome;
  try {
    outcome.text = iniplugin::valuetext::ValueToText(value, layout);
    outcome.converted = true;
  } catch (const iniplugin::valuetext::ValueConversionError& error) {
    outcome.result = error.Result();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHead = 6 + kLevels * kValueBytes;
  unsigned char head[kHead] = {};
  std::memcpy(head, data, size < kHead ? size : kHead);
  const auto vt = static_cast<VARTYPE>(head[0] | (head[1] << 8));
  std::int32_t layout;
  std::memcpy(&layout, head + 2, sizeof layout);

  Storage storage;
  const std::size_t rest = size > kHead ? size - kHead : 0;
  if (rest % 2 == 0) {
    std::u16string text(rest / 2, u'\0');
    std::memcpy(text.data(), data + kHead, rest);
    storage.text = iniplugin::platform::UniqueBstr::FromText(text).Release();
  }

  alignas(VARIANT) unsigned char slot[sizeof(VARIANT)];
  const unsigned char* levels[kLevels] = {head + 6, head + 6 + kValueBytes,
                                          head + 6 + 2 * kValueBytes};
  Build(slot, vt, levels, 0, storage);
  const auto& value = *reinterpret_cast<const VARIANT*>(slot);
  unsigned char before[sizeof slot + sizeof storage.pointee];
  std::memcpy(before, slot, sizeof slot);
  std::memcpy(before + sizeof slot, storage.pointee, sizeof storage.pointee);
  const std::u16string textBefore(iniplugin::platform::BstrView(storage.text));

  const Outcome first = Convert(value, layout);
  if (first.converted) {
    Require(first.text.find(u'\0') == std::u16string::npos);
    if (vt == VT_BSTR) Require(first.text == iniplugin::platform::BstrCText(storage.text));
  } else {
    Require(FAILED(first.result));
  }
  Require(Convert(value, layout) == first);

  Require(std::memcmp(before, slot, sizeof slot) == 0);
  Require(std::memcmp(before + sizeof slot, storage.pointee, sizeof storage.pointee) == 0);
  Require(iniplugin::platform::BstrView(storage.text) == textBefore);
  Require(storage.object.References() == 1);
  SysFreeString(storage.text);
  return 0;
}
