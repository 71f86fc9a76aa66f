// The UTF-16 and UTF-8 codecs every layer uses: one strict codec, for text that must be
// written back without loss, and one lenient UTF-8 decoder, for reading as the system's
// profile functions read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace iniplugin::platform {

// Appends up to `most` units to `text`: `write` fills them from the pointer it is given
// and returns how many it wrote. Where the library allows, the room is not cleared first:
// a decoder writes every unit it keeps, and clearing a large file's text only to write it
// again costs as much as a fast decoder's work. `write` must not throw.
template <class String, class Write>
void AppendWritten(String& text, std::size_t most, Write&& write) {
  const std::size_t old = text.size();
#if __cpp_lib_string_resize_and_overwrite
  // The size handed to the callback is not used: some library versions hand the grown
  // capacity instead of the size asked for.
  text.resize_and_overwrite(old + most, [&](typename String::value_type* data, std::size_t) {
    return old + static_cast<std::size_t>(write(data + old));
  });
#else
  text.resize(old + most);
  text.resize(old + static_cast<std::size_t>(write(text.data() + old)));
#endif
}

enum class ByteOrder { Little, Big };

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// UTF-16 in either byte order, appended to `text`; an odd last byte is left out.
void AppendUtf16(std::string_view bytes, ByteOrder order, std::u16string& text);
// Little-endian UTF-16, appended to `bytes`.
void AppendAsUtf16Le(std::u16string_view text, std::string& bytes);

// Strict UTF-8 decoding, appended to `text`: false for overlong forms, surrogates, values
// past U+10FFFF and cut sequences, with `text` then holding an unspecified tail.
bool AppendUtf8(std::string_view bytes, std::u16string& text);
// Lenient UTF-8 decoding: every broken sequence becomes one U+FFFD, nothing is refused.
void AppendUtf8Leniently(std::string_view bytes, std::u16string& text);
// UTF-8 encoding, appended to `bytes`; an unpaired surrogate becomes U+FFFD.
void AppendAsUtf8(std::u16string_view text, std::string& bytes);

// Whole strings, in the strict codec (file names, registry text, command lines).
std::string Utf16ToUtf8(std::u16string_view text);
std::optional<std::u16string> Utf8ToUtf16(std::string_view bytes);

}  // namespace iniplugin::platform
