// The portable profile functions on any file and any names. A read stays inside the buffer
// it is given (the buffer ends at an inaccessible page), terminates its answer, and gives
// at every buffer size the same answer cut shorter. A write the functions report as done
// reads back as written, both from the parsed form they keep and from the file on disk,
// whenever the names and the value are ones the file can carry (see Representable). The
// names are the section and key names; the file is always the same one, in a folder of the
// fuzzer's own.
//
// Input, so that a seed can be written by hand:
//   byte 0       flags (kNoFile ...)
//   bytes 1-2    the read's buffer size in characters, little-endian, taken modulo 1024
//   then four texts: section, key, value, default; each is a length byte and that many
//   characters, one byte each (as Latin-1) under kNarrowText, else two (UTF-16LE)
//   the rest     the file's bytes
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/portable.h"
#include "platform/unicode.h"
#include "platform/wide.h"
#include "profile/Profile.h"
#include "support/FileForms.h"

namespace {

using iniplugin::platform::AsWide;
namespace platform = iniplugin::platform;
namespace portable = iniplugin::portable;
namespace profile = iniplugin::profile;
using iniplugin::test::Form;

enum Flags : std::uint8_t {
  kNoFile = 1,        // the file does not exist
  kNullSection = 2,   // the read passes no section (the section list)
  kNullKey = 4,       // the read passes no key (the section's key list)
  kNullDefault = 8,   // the read passes no default text
  kWrite = 16,        // write the value first, then read it back
  kDelete = 32,       // the write passes no value (deletes the key)
  kNarrowText = 64,   // texts are one byte a character
};

void Require(bool condition) {
  if (!condition) std::abort();
}

// Reads the input front to back; what runs out reads as empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::u16string Text(bool narrow) {
    const std::size_t length = Byte();
    std::u16string text;
    for (std::size_t i = 0; i < length && m_pos < m_size; ++i) {
      if (narrow) {
        text.push_back(Byte());
      } else {
        const std::uint8_t low = Byte();
        text.push_back(static_cast<char16_t>(low | (Byte() << 8)));
      }
    }
    return text;
  }
  std::string_view Rest() const {
    return {reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos};
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// `size` characters that end where an inaccessible page begins, so that a write past the
// end faults at once; the bytes before them in the page are filled and checked afterwards.
class GuardedBuffer {
 public:
  static constexpr std::uint8_t kFill = 0xCC;

  explicit GuardedBuffer(std::size_t size) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = size * sizeof(char16_t);
    m_mapped = (bytes + page - 1) / page * page + page;
    void* map = ::mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
    Require(map != MAP_FAILED);
    m_base = static_cast<std::uint8_t*>(map);
    Require(::mprotect(m_base + m_mapped - page, page, PROT_NONE) == 0);
    m_text = reinterpret_cast<char16_t*>(m_base + m_mapped - page - bytes);
    std::memset(m_base, kFill, m_mapped - page);
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  ~GuardedBuffer() { ::munmap(m_base, m_mapped); }

  char16_t* Data() { return m_text; }
  // Nothing before the buffer was touched.
  bool UnderrunFree() const {
    const auto* begin = m_base;
    const auto* end = reinterpret_cast<const std::uint8_t*>(m_text);
    return std::all_of(begin, end, [](std::uint8_t b) { return b == kFill; });
  }

 private:
  std::size_t m_mapped = 0;
  std::uint8_t* m_base = nullptr;
  char16_t* m_text = nullptr;
};

const char16_t* Pointer(const std::u16string& text, bool null) {
  return null ? nullptr : text.c_str();
}

// The answer of one read: its result and the characters up to and including the
// terminator that follows it.
struct Answer {
  DWORD result = 0;
  std::u16string text;
};

Answer Read(const char16_t* section, const char16_t* key, const char16_t* defaultText,
            std::size_t size, const std::u16string& file) {
  GuardedBuffer buffer(size);
  const DWORD result = profile::GetPrivateProfileStringW(
      AsWide(section), AsWide(key), AsWide(defaultText), AsWide(buffer.Data()),
      static_cast<DWORD>(size), AsWide(file.c_str()));
  Require(buffer.UnderrunFree());
  if (size == 0) {
    Require(result == 0);
    return {};
  }
  Require(result < size);
  Require(buffer.Data()[result] == u'\0');
  return {result, std::u16string(buffer.Data(), result)};
}

// Ctrl-Z is one of them, as the system's reader takes it.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\x1A';
}

// The names a caller passes lose their spaces only.
std::u16string_view TrimSpaces(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool EdgedByBlanks(std::u16string_view text) {
  return !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()));
}

// How the functions store text in a file with these bytes (a missing file is made ANSI;
// big-endian UTF-16 holds what little-endian does).
Form FormOf(std::string_view bytes, bool missing) {
  if (missing) return Form::Ansi;
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") return Form::Utf16;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return Form::Utf8;
  return Form::Ansi;
}

bool Encodable(std::u16string_view text, Form form) {
  switch (form) {
    case Form::Ansi:
      return portable::AnsiToUtf16(portable::Utf16ToAnsi(text)) == text;
    case Form::Utf8:
      return platform::Utf8ToUtf16(platform::Utf16ToUtf8(text)) == text;
    case Form::Utf16:
      break;
  }
  return true;
}

// Whether a write of `value` under `key` in `section` must read back as `value`. The
// functions trim spaces around the names given, blanks around the file's names and values,
// and take one pair of quotes off a value, as the platform's own do, so that a name with
// another blank at either end is written as given and never found again; a line break
// would start another line; a key that is empty, holds "=" or starts with "[" or ";" makes
// a line that is not that key's entry; and a character
// the file's encoding cannot hold is stored as something else ('?' in ANSI, U+FFFD for
// a lone surrogate in UTF-8). A section name with "]" makes a header whose name ends there.
bool Representable(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   Form form) {
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  if (EdgedByBlanks(section) || EdgedByBlanks(key)) return false;
  if (section.find(u']') != std::u16string_view::npos) return false;
  for (std::u16string_view text : {section, key, value}) {
    if (text.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
    if (!Encodable(text, form)) return false;
  }
  if (key.empty() || key.front() == u'[' || key.front() == u';' ||
      key.find(u'=') != std::u16string_view::npos) {
    return false;
  }
  if (EdgedByBlanks(value)) return false;
  const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                      value.back() == value.front();
  return !quoted;
}

std::u16string CText(const std::u16string& text) { return std::u16string(text.c_str()); }

// A folder of this process's own for the file, on a memory file system where there is one
// (each write flushes to the disk), removed when the fuzzer exits.
const std::u16string& FilePath() {
  // Never destroyed, so that it is still there when the exit handler runs.
  static const std::filesystem::path* const folder = [] {
    auto* made = new std::filesystem::path(std::filesystem::exists("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path());
    *made /= "iniplugin-fuzz-profile-" + std::to_string(::getpid());
    std::filesystem::create_directories(*made);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return made;
  }();
  static const std::u16string path = (*folder / "fuzz.ini").u16string();
  return path;
}

void PutFile(const std::u16string& path, std::string_view bytes, bool missing) {
  // The previous input's writes may still be held; they go to its own file first, or the
  // flush below would rightly carry them over into this input's file.
  profile::WritePrivateProfileStringW(nullptr, nullptr, nullptr, AsWide(path.c_str()));
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(path), ignored);
  if (!missing) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Forget the previous input's parsed form: every input starts from its own file.
  profile::WritePrivateProfileStringW(nullptr, nullptr, nullptr, AsWide(path.c_str()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint8_t flags = input.Byte();
  const std::uint8_t sizeLow = input.Byte();
  const std::size_t bufferSize = (sizeLow | (input.Byte() << 8)) % 1024;
  const bool narrow = flags & kNarrowText;
  const std::u16string section = input.Text(narrow);
  const std::u16string key = input.Text(narrow);
  const std::u16string value = input.Text(narrow);
  const std::u16string defaultText = input.Text(narrow);
  const std::string_view bytes = input.Rest();
  const bool missing = flags & kNoFile;
  const std::u16string& path = FilePath();
  PutFile(path, bytes, missing);

  if (flags & kWrite) {
    const bool deletes = flags & kDelete;
    const BOOL written = profile::WritePrivateProfileStringW(
        AsWide(section.c_str()), AsWide(key.c_str()), AsWide(Pointer(value, deletes)),
        AsWide(path.c_str()));
    if (written && !deletes &&
        Representable(CText(section), CText(key), CText(value), FormOf(bytes, missing))) {
      const std::size_t room = CText(value).size() + 2;
      // The marker default tells a missing entry from any value.
      Require(Read(section.c_str(), key.c_str(), u"\x1", room, path).text == CText(value));
      // Again from the file itself, without the parsed form the write left behind.
      profile::WritePrivateProfileStringW(nullptr, nullptr, nullptr, AsWide(path.c_str()));
      Require(Read(section.c_str(), key.c_str(), u"\x1", room, path).text == CText(value));
    }
  }

  // Any read: the answer in a buffer of the given size is the answer in a buffer with
  // room for anything the file and the default hold, cut shorter. The write may still be
  // held in the parsed form rather than on disk, so the room counts what it added.
  const char16_t* readSection = Pointer(section, flags & kNullSection);
  const char16_t* readKey = Pointer(key, flags & kNullKey);
  const char16_t* readDefault = Pointer(defaultText, flags & kNullDefault);
  const std::size_t written = (flags & kWrite) ? section.size() + key.size() + value.size() : 0;
  const std::size_t roomForAll = bytes.size() + written + defaultText.size() + 16;
  const Answer whole = Read(readSection, readKey, readDefault, roomForAll, path);
  const Answer cut = Read(readSection, readKey, readDefault, bufferSize, path);
  if (bufferSize == 0) return 0;
  if (readSection && readKey) {
    Require(cut.result == std::min<std::size_t>(whole.result, bufferSize - 1));
    Require(whole.text.compare(0, cut.result, cut.text) == 0);
  } else if (whole.result + 2 <= bufferSize) {
    // A name list that fits with room for its two final terminators is the whole list.
    Require(cut.result == whole.result && cut.text == whole.text);
  }
  return 0;
}
