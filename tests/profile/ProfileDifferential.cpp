// Our profile functions beside the system's on random files and random calls: files built
// from the bytes the readers treat specially, and sequences of reads (section lists, key
// lists, values, at buffer sizes that cut), writes, deletes and flushes. Every answer must
// agree, and after each flush both files must read alike. A known Wine departure is a
// named predicate that excuses exactly its cases; anything else is shrunk to a short case
// and printed as a row to add to the corpus. Seeded and repeatable:
//   INIPLUGIN_DIFFERENTIAL_CASES  cases to run (default 2000)
//   INIPLUGIN_DIFFERENTIAL_SEED   the first case's seed (default 1)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ProfileApi.h"
#include "platform/unicode.h"
#include "profile/ProfileText.h"
#include "support/Files.h"

namespace iniplugin::test {
namespace {

struct Op {
  enum Kind { Read, Write, Flush } kind = Read;
  std::optional<std::u16string> section, key, value;
  DWORD size = 0;
};

struct Case {
  std::string file;
  std::vector<Op> ops;
};

// The pieces files and names are made of.
const std::vector<std::string>& FilePieces() {
  static const std::vector<std::string> pieces = {
      " ", "\t", "\v", ";", "[", "]", "=", "\"", "'", "\r", "\n", "\r\n", "\r\n", "\r\n",
      std::string(1, '\0'), "\x1A", "a", "b", "k", "S", "T", "s", "\xE4", "1", "x=1", "[S]",
      "[T]", "k=v", "\r\n[S]\r\n", "a=\"q\""};
  return pieces;
}

const std::vector<std::u16string>& NamePieces() {
  static const std::vector<std::u16string> pieces = {u"S", u"T", u"s", u"k", u"a", u"b",
                                                     u"K", u" ", u"\t", u";", u"\u00E4"};
  return pieces;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : m_random(seed) {}
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

  std::u16string Name() {
    std::u16string name;
    for (std::size_t i = Below(3) + 1; i-- > 0;) name += NamePieces()[Below(NamePieces().size())];
    return name;
  }

  Case Make() {
    Case made;
    for (std::size_t i = Below(24); i-- > 0;) made.file += FilePieces()[Below(FilePieces().size())];
    if (OneIn(6)) made.file.insert(0, "\xFF\xFE");  // the UTF-16LE mark before ANSI bytes
    for (std::size_t i = Below(8) + 1; i-- > 0;) {
      Op op;
      const std::size_t kind = Below(10);
      if (kind < 5) {
        op.kind = Op::Read;
        if (!OneIn(5)) op.section = Name();
        if (op.section && !OneIn(4)) op.key = Name();
        op.value = OneIn(3) ? std::u16string(u"d") : std::u16string(u"\"dd\" ");
        op.size = static_cast<DWORD>(OneIn(2) ? 200 : Below(8) + 1);
      } else if (kind < 9) {
        op.kind = Op::Write;
        op.section = Name();
        if (!OneIn(8)) op.key = Name();
        if (op.key && !OneIn(5)) op.value = Name();
      } else {
        op.kind = Op::Flush;
      }
      made.ops.push_back(std::move(op));
    }
    made.ops.push_back(Op{Op::Flush});
    return made;
  }

 private:
  std::mt19937 m_random;
};

const char16_t* Pointer(const std::optional<std::u16string>& text) {
  return text ? text->c_str() : nullptr;
}

// What a reader makes of a whole file: every listed section with every listed key.
std::u16string Dump(const ProfileApi& api, const std::u16string& file) {
  constexpr DWORD kRoom = 4096;
  std::u16string dump;
  for (const std::u16string& section : Names(Answer(Read(api, nullptr, nullptr, u"", kRoom, file)))) {
    dump += u"[" + section + u"]\n";
    for (const std::u16string& key :
         Names(Answer(Read(api, section.c_str(), nullptr, u"", kRoom, file)))) {
      dump += key + u"=" + std::u16string(Answer(Read(api, section.c_str(), key.c_str(), u"", kRoom, file))) + u"\n";
    }
  }
  return dump;
}

// A file our functions read but never write (NUL bytes without a mark, UTF-16 of odd
// length): Wine's writer rewrites it, destroying what it could not read.
bool RefusedByOurWriter(const std::string& file) {
  if (file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE') return file.size() % 2 != 0;
  return file.find('\0') != std::string::npos;
}

// Wine::ReadsHeadersOtherwise: Wine ends a header's name at its last "]", opens no section
// with a "[" line without "]", and answers the empty name from the lines before the first
// header. A case whose file or writes make such a header, or that names the empty section,
// is Wine's to read otherwise.
// The file's text, one unit a byte, or UTF-16 after its mark.
std::u16string TextOf(const std::string& file) {
  if (file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE') {
    std::u16string text;
    platform::AppendUtf16(std::string_view(file).substr(2), platform::ByteOrder::Little, text);
    return text;
  }
  std::u16string text;
  for (unsigned char c : file) text.push_back(c);
  return text;
}

bool HeadersWineReadsOtherwise(const Case& c) {
  const std::u16string text = TextOf(c.file);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) end = text.size();
    const std::u16string line = text.substr(start, end - start);
    const std::size_t open = line.find_first_not_of(u" \t\v\f\x1A");
    if (open != std::string::npos && line[open] == '[') {
      const std::size_t close = line.find(u']', open);
      if (close == std::u16string::npos || line.find(u']', close + 1) != std::u16string::npos ||
          line.find_first_not_of(u" \t\v\f\x1A", open + 1) == close) {
        return true;
      }
    }
    start = end + 1;
  }
  for (const Op& op : c.ops) {
    if (!op.section) continue;
    const std::size_t named = op.section->find_first_not_of(u" ");
    if (named == std::u16string::npos || op.section->find(u']') != std::u16string::npos) return true;
  }
  return false;
}

bool EdgedByOtherBlanks(const std::optional<std::u16string>& name) {
  return name && profile::EdgedByOtherBlanks(*name);
}

// The departures that concern a whole case: after them the two files differ on purpose.
struct CaseDeparture {
  const char* name;
  bool (*excuses)(const Case& c);
};

const CaseDeparture kCaseDepartures[] = {
    {"Wine::ReadsHeadersOtherwise", &HeadersWineReadsOtherwise},
    // Wine trims every blank from the names it is given; Windows only spaces.
    {"Wine::TrimsEveryBlankOfAName",
     [](const Case& c) {
       for (const Op& op : c.ops) {
         if (EdgedByOtherBlanks(op.section) || EdgedByOtherBlanks(op.key)) return true;
       }
       return false;
     }},
    // A line whose text starts with a NUL byte: Wine's reader then lists a section's keys
    // otherwise (how Windows reads NUL bytes is not recorded).
    {"Wine::ReadsALineStartingWithNulOtherwise",
     [](const Case& c) {
       for (std::size_t at = c.file.find('\0'); at != std::string::npos; at = c.file.find('\0', at + 1)) {
         std::size_t before = at;
         while (before > 0 && std::string_view(" \t\v\f\x1A").find(c.file[before - 1]) != std::string_view::npos) --before;
         if (before == 0 || c.file[before - 1] == '\r' || c.file[before - 1] == '\n') return true;
       }
       return false;
     }},
    // A NUL byte before a line's "=": Wine still finds the "=", and takes the line for an
    // entry with a value (the name cut at the NUL); ours end the line's text at the NUL.
    // How Windows reads it is not recorded.
    {"Wine::FindsEqualsPastANul",
     [](const Case& c) {
       const std::u16string text = TextOf(c.file);
       for (std::size_t at = text.find(u'\0'); at != std::u16string::npos; at = text.find(u'\0', at + 1)) {
         const std::size_t end = text.find_first_of(u"\r\n", at);
         if (text.substr(at, end == std::u16string::npos ? end : end - at).find(u'=') != std::u16string::npos) {
           return true;
         }
       }
       return false;
     }},
    // Wine deletes nothing, neither the section nor a key of it, under a section name it
    // is given with spaces around it.
    {"Wine::DeletesNothingUnderASectionNamedWithSpaces",
     [](const Case& c) {
       for (const Op& op : c.ops) {
         if (op.kind == Op::Write && op.section && (!op.key || !op.value) &&
             (op.section->front() == u' ' || op.section->back() == u' ')) {
           return true;
         }
       }
       return false;
     }},
};

// The known Wine departures for one read, each excusing exactly its answers.
struct ReadDeparture {
  const char* name;
  bool (*excuses)(const Op& op, std::u16string_view ours, std::u16string_view theirs);
};

const ReadDeparture kReadDepartures[] = {
    // A quoted text in a buffer of exactly its length plus one comes back a character short.
    {"Wine::QuotedCutShort",
     [](const Op& op, std::u16string_view ours, std::u16string_view theirs) {
       return ours.size() + 1 == op.size && theirs.size() + 1 == ours.size() && ours.starts_with(theirs);
     }},
    // A key list of a section that is not there gives the default as it was passed,
    // quotes and trailing spaces still on, where a value's default loses them.
    {"Wine::KeepsAListsDefaultWhole",
     [](const Op& op, std::u16string_view ours, std::u16string_view theirs) {
       if (!op.section || op.key || !op.value || op.size == 0) return false;
       std::u16string_view given = *op.value;
       while (!given.empty() && given.back() == u' ') given.remove_suffix(1);
       if (given.size() >= 2 && (given.front() == u'"' || given.front() == u'\'') &&
           given.back() == given.front()) {
         given = given.substr(1, given.size() - 2);
       }
       return ours == given.substr(0, op.size - 1) &&
              theirs == std::u16string_view(*op.value).substr(0, op.size - 1);
     }},
    // A key list of a section named with spaces around it: Wine finds no such section.
    {"Wine::ListsNoKeysOfASectionNamedWithSpaces",
     [](const Op& op, std::u16string_view, std::u16string_view) {
       return op.section && !op.key && !op.section->empty() &&
              (op.section->front() == u' ' || op.section->back() == u' ');
     }},
    // A key list cut to nothing by a buffer of two characters: Windows answers 0, Wine
    // gives the default instead.
    {"Wine::ListsIntoTwoCharactersAsTheDefault",
     [](const Op& op, std::u16string_view ours, std::u16string_view theirs) {
       return op.section && !op.key && op.size == 2 && ours.empty() && theirs.size() == 1 &&
              op.value && !op.value->empty() && theirs.front() == op.value->front();
     }},
};

// Runs the case through both sets of functions; the first disagreement, or nothing.
std::optional<std::string> Diverges(const Case& c, const TempDir& dir) {
  for (const CaseDeparture& departure : kCaseDepartures) {
    if (departure.excuses(c)) return std::nullopt;
  }
  const std::u16string ours = U16Path(dir / "ours.ini");
  const std::u16string theirs = U16Path(dir / "theirs.ini");
  for (const std::u16string* file : {&ours, &theirs}) {
    const ProfileApi& api = file == &ours ? PortableProfile() : SystemProfile();
    api.write(nullptr, nullptr, nullptr, file->c_str());
    WriteBytes(std::filesystem::path(*file), c.file);
    api.write(nullptr, nullptr, nullptr, file->c_str());
  }
  for (std::size_t i = 0; i < c.ops.size(); ++i) {
    const Op& op = c.ops[i];
    const std::string at = "step " + std::to_string(i) + ": ";
    if (op.kind == Op::Read) {
      const ReadOutcome a = Read(PortableProfile(), Pointer(op.section), Pointer(op.key), Pointer(op.value), op.size, ours);
      const ReadOutcome b = Read(SystemProfile(), Pointer(op.section), Pointer(op.key), Pointer(op.value), op.size, theirs);
      const auto excused = [&] {
        for (const ReadDeparture& departure : kReadDepartures) {
          if (departure.excuses(op, Answer(a), Answer(b))) return true;
        }
        return false;
      };
      if ((a.result != b.result || Answer(a) != Answer(b)) && !excused()) {
        return at + "read: ours " + std::to_string(a.result) + " \"" + Narrow(Answer(a)) +
               "\", system's " + std::to_string(b.result) + " \"" + Narrow(Answer(b)) + "\"";
      }
    } else if (op.kind == Op::Write) {
      const BOOL a = PortableProfile().write(Pointer(op.section), Pointer(op.key), Pointer(op.value), ours.c_str());
      const BOOL b = SystemProfile().write(Pointer(op.section), Pointer(op.key), Pointer(op.value), theirs.c_str());
      // Wine::RewritesWhatItCouldNotRead: from here on the files differ on purpose.
      if (!a && b && RefusedByOurWriter(c.file)) return std::nullopt;
      if ((a != 0) != (b != 0)) return at + "write: ours " + std::to_string(a) + ", system's " + std::to_string(b);
    } else {
      PortableProfile().write(nullptr, nullptr, nullptr, ours.c_str());
      SystemProfile().write(nullptr, nullptr, nullptr, theirs.c_str());
      if (Dump(PortableProfile(), ours) != Dump(PortableProfile(), theirs)) {
        return at + "files read otherwise: ours \"" + Narrow(Dump(PortableProfile(), ours)) +
               "\", system's \"" + Narrow(Dump(PortableProfile(), theirs)) + "\"";
      }
    }
  }
  return std::nullopt;
}

// The case cut down while it still diverges: steps dropped, then file pieces.
Case Shrink(Case c, const TempDir& dir) {
  for (bool progress = true; progress;) {
    progress = false;
    for (std::size_t i = 0; i + 1 < c.ops.size(); ++i) {
      Case smaller = c;
      smaller.ops.erase(smaller.ops.begin() + static_cast<std::ptrdiff_t>(i));
      if (Diverges(smaller, dir)) { c = std::move(smaller); progress = true; --i; }
    }
    for (std::size_t i = 0; i < c.file.size(); ++i) {
      Case smaller = c;
      smaller.file.erase(i, 1);
      if (Diverges(smaller, dir)) { c = std::move(smaller); progress = true; --i; }
    }
  }
  return c;
}

std::string Show(const std::optional<std::u16string>& text) {
  return text ? "u\"" + Narrow(*text) + "\"" : "nullptr";
}

std::string Row(const Case& c) {
  std::string row = "file \"";
  for (unsigned char ch : c.file) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\' ? "%c" : "\\x%02X", ch);
    row += hex;
  }
  row += "\"";
  for (const Op& op : c.ops) {
    row += op.kind == Op::Read ? "\n  read(" : op.kind == Op::Write ? "\n  write(" : "\n  flush(";
    if (op.kind != Op::Flush) row += Show(op.section) + ", " + Show(op.key) + ", " + Show(op.value);
    if (op.kind == Op::Read) row += ", " + std::to_string(op.size);
    row += ")";
  }
  return row;
}

std::uint32_t Setting(const char* name, std::uint32_t fallback) {
  const char* text = std::getenv(name);
  return text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : fallback;
}

TEST(ProfileDifferentialTest, OursAnswerAsTheSystemsOnRandomCalls) {
  if (!SystemProfileIsPlatformOwn()) GTEST_SKIP() << "no platform functions to compare with";
  const std::uint32_t cases = Setting("INIPLUGIN_DIFFERENTIAL_CASES", 2000);
  const std::uint32_t seed = Setting("INIPLUGIN_DIFFERENTIAL_SEED", 1);
  TempDir dir;
  std::uint32_t diverged = 0;
  for (std::uint32_t n = 0; n < cases && diverged < 5; ++n) {
    Generator generator(seed + n);
    const Case c = generator.Make();
    if (!Diverges(c, dir)) continue;
    ++diverged;
    const Case shrunk = Shrink(c, dir);
    ADD_FAILURE() << "seed " << seed + n << ": " << *Diverges(shrunk, dir) << "\n" << Row(shrunk);
  }
}

}  // namespace
}  // namespace iniplugin::test
