#include <cstdlib>
#include <cstring>

#include "platform/portable.h"

namespace iniplugin::portable {

namespace {
// The byte count precedes the text, as the SDK lays a BSTR out.
constexpr std::size_t kPrefix = sizeof(DWORD);
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // The byte count is 32 bits, so longer texts cannot be represented.
  if (length > (0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const DWORD count = static_cast<DWORD>(bytes);
  std::memcpy(block, &count, kPrefix);
  auto* result = reinterpret_cast<OLECHAR*>(block + kPrefix);
  if (text) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = 0;
  return result;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return portable::SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  DWORD count;
  std::memcpy(&count, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
  return count / sizeof(OLECHAR);
}

}  // namespace iniplugin::portable
