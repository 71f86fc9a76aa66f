#include "inidoc/IniFileReader.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/file_lock.h"
#include "platform/replace.h"
#include "text/FileText.h"
#include "text/Scan.h"

namespace iniplugin::inidoc {

using text::EqualsFolded;
using text::FlatIndex;
using text::FoldedHash;

namespace {

// Positions are 32-bit and a value length of all ones marks a raw line: a longer text
// cannot be indexed.
const std::size_t kLargestText = text::LargestText();

// Unchanged text is handed to the encoder in pieces of about this many units, and the
// bytes go to the file in blocks of about this many.
constexpr std::size_t kEncodeRun = 1 << 14;
constexpr std::size_t kWriteBlock = 1 << 16;

// The C runtime's wide white-space test in the C locale.
bool IsWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A section is reached by name when its trimmed header is "[" + name + "]".
bool HeaderNames(std::u16string_view trimmedHeader, std::u16string_view name) {
  return trimmedHeader.size() == name.size() + 2 && trimmedHeader.front() == u'[' &&
         trimmedHeader.back() == u']' &&
         EqualsFolded(trimmedHeader.substr(1, name.size()), name);
}

std::uint32_t SectionKeyHash(std::u16string_view name) {
  return FoldedHash().Add(u"[").Add(name).Add(u"]").Value();
}

}  // namespace

// Splits the document's text into sections and lines as it is decoded: each call takes
// the lines that are complete so far, so the text of a block is split while it is still
// in the cache.
class IniFileReader::Parser {
 public:
  explicit Parser(IniFileReader& document) : m_document(document) {}

  // Takes every line that ends in the text so far.
  void TakeEndedLines() {
    const std::u16string& text = m_document.m_text;
    const char16_t* const base = text.data();
    const std::size_t size = text.size();
    std::size_t lineStart = m_start;
    // The first "=" of the line not yet ended, once one was seen.
    std::uint32_t equals = kNoEquals;
    for (std::size_t block = m_start; block < size; block += text::kMarkBlock) {
      const std::size_t count = std::min(size - block, text::kMarkBlock);
      // The document's lines end at LF alone.
      const text::UnitMarks marks =
          text::MarkUnits(base + block, count, u'\n', u'\n', u'\n', u'=');
      std::uint64_t ends = marks.stops;
      // Only the signs of the line not yet ended and of those after it are kept.
      std::uint64_t signs = marks.signs;
      while (ends != 0) {
        const int at = std::countr_zero(ends);
        // Bits up to and including the line end (all of them when it is the last unit).
        const std::uint64_t upToEnd = (std::uint64_t{2} << at) - 1;
        if (equals == kNoEquals && (signs & upToEnd) != 0) {
          equals = static_cast<std::uint32_t>(block + std::countr_zero(signs));
        }
        const std::size_t lf = block + static_cast<std::size_t>(at);
        // A CR right before the LF belongs to the line end.
        std::size_t lineEnd = lf;
        if (lf > lineStart && base[lf - 1] == u'\r') {
          --lineEnd;
        } else {
          m_document.m_textIsRendered = false;  // saved with CR LF
        }
        TakeLine(static_cast<std::uint32_t>(lineStart),
                 static_cast<std::uint32_t>(lineEnd - lineStart), equals);
        lineStart = lf + 1;
        equals = kNoEquals;
        ends &= ends - 1;
        signs &= ~upToEnd;
      }
      if (equals == kNoEquals && signs != 0) {
        equals = static_cast<std::uint32_t>(block + std::countr_zero(signs));
      }
    }
    m_start = lineStart;
  }

  // Takes the last line, which has no line end, and closes the last section.
  void Finish(bool marked) {
    const std::size_t size = m_document.m_text.size();
    // A marked file has at least one line, the one the mark stood on.
    if (m_start < size || (marked && !m_tookLine)) {
      // The last line gets a line end when saved. A lone CR at its end already is one (a
      // file whose last line a CR ends): kept in the line, it would read as part of the
      // value and be saved as CR CR LF.
      m_document.m_textIsRendered = false;
      std::size_t length = size - m_start;
      if (length > 0 && m_document.m_text[size - 1] == u'\r') --length;
      const char16_t* const line = m_document.m_text.data() + m_start;
      const char16_t* const found = text::FindUnit(line, line + length, u'=');
      TakeLine(static_cast<std::uint32_t>(m_start), static_cast<std::uint32_t>(length),
               found == line + length ? kNoEquals
                                      : static_cast<std::uint32_t>(m_start + (found - line)));
    }
    CloseSection();
    IndexSections();
  }

 private:
  static constexpr std::uint32_t kNoEquals = 0xFFFFFFFFu;

  // `equals`: where the line's first "=" stands, or kNoEquals. Built into the loop over
  // lines, which then keeps what it needs in registers instead of saving them at a call.
  [[gnu::always_inline]] void TakeLine(std::uint32_t pos, std::uint32_t length,
                                       std::uint32_t equals) {
    m_tookLine = true;
    const char16_t* const line = m_document.m_text.data() + pos;
    // Only spaces count as leading spaces; a tab belongs to the line's text.
    std::uint32_t lead = 0;
    while (lead < length && line[lead] == u' ') ++lead;
    const char16_t first = lead < length ? line[lead] : u'\0';
    if (first == u'[' || !m_inSection) {
      // A blank or comment line that opens the file's first section is never indexed.
      TakeHeader(pos, length, lead < length && first != u';');
      return;
    }
    if (lead == length || first == u';') {  // blank or comment
      m_lines.push_back(Value{Span{pos, length}});
      return;
    }
    // The leading spaces of an entry or a raw line are not saved.
    if (lead > 0) m_document.m_textIsRendered = false;
    const auto restPos = pos + lead;
    // No "=", or "=" as the first character: a raw line. (Leading spaces hold no "=".)
    if (equals == kNoEquals || equals == restPos) {
      m_lines.push_back(Value{Span{restPos, length - lead}});
      return;
    }
    const auto keyLength = equals - restPos;
    m_lines.push_back(Value{Span{restPos, keyLength}, length - lead - keyLength - 1});
    m_hashes.push_back(text::NameHash(std::u16string_view(line + lead, keyLength), m_keys));
  }

  // A line that opens a section: a header, or whatever line opens the file. Kept out of
  // TakeLine, so that the few instructions every line needs stay in the loop over lines.
  [[gnu::noinline]] void TakeHeader(std::uint32_t pos, std::uint32_t length, bool indexed) {
    CloseSection();
    m_document.AddSection(Span{pos, length});
    m_inSection = true;
    if (indexed) {
      const std::u16string_view key = Trim(m_document.Text(Span{pos, length}));
      const auto number = static_cast<std::uint32_t>(m_document.m_sections.size() - 1);
      m_sectionKeys.push_back({number, FoldedHash().Add(key).Value()});
    }
  }

  // Indexes the sections once all are read: the index is sized once instead of growing
  // through a dozen sizes, and the slot of a section a few ahead is fetched while one is
  // placed. A large file's section index is larger than the fastest caches, and placing
  // the sections as they were read waited on memory for most of them.
  void IndexSections() {
    FlatIndex& index = m_document.m_sectionMap;
    const std::size_t count = m_sectionKeys.size();
    const SectionKey* const keys = m_sectionKeys.data();
    index.Reserve(count);
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = 0; i < count; ++i) {
      if (i + kAhead < count) index.Prefetch(keys[i + kAhead].hash);
      const auto header = [&](std::uint32_t number) {
        return Trim(m_document.Text(m_document.m_sections[number].m_header));
      };
      // Names are read back only when hashes agree: a section's header left the caches
      // long ago.
      index.InsertOrReplace(keys[i].number, keys[i].hash, [&](std::uint32_t other) {
        return EqualsFolded(header(other), header(keys[i].number));
      });
    }
  }

  void CloseSection() {
    if (!m_inSection) return;
    Section& section = m_document.m_sections.back();
    // An array of the exact size: a section's lines never grow while it is read.
    const auto count = static_cast<std::uint32_t>(m_lines.size());
    section.m_values = m_document.Pool().Allocate<Value>(count);
    std::copy_n(m_lines.data(), count, section.m_values);
    section.m_valueCount = section.m_valueCapacity = count;
    section.m_valueMap.Reserve(m_hashes.size());
    const std::uint32_t* hash = m_hashes.data();
    for (std::uint32_t i = 0; i < count; ++i) {
      if (section.m_values[i].IsRaw()) continue;
      const std::u16string_view key = m_document.Text(section.m_values[i].m_key);
      section.m_valueMap.InsertOrReplace(i, *hash++, [&](std::uint32_t other) {
        return EqualsFolded(m_document.Text(section.m_values[other].m_key), key);
      });
    }
    m_lines.clear();
    m_hashes.clear();
  }

  IniFileReader& m_document;
  // Looked up once, not at every key.
  const text::NameHashKeys& m_keys = text::NameKeys();
  std::size_t m_start = 0;  // where the first line not yet taken starts
  bool m_tookLine = false;
  bool m_inSection = false;  // whether a line has opened the first section
  // The open section's lines, copied into it when it closes.
  std::vector<Value> m_lines;
  // The hashes of its entries' keys, in order.
  std::vector<std::uint32_t> m_hashes;
  // The sections to index, in order, with the hashes of their names.
  struct SectionKey {
    std::uint32_t number;
    std::uint32_t hash;
  };
  std::vector<SectionKey> m_sectionKeys;
};

// Takes a file's text from the front end into a document, splitting its lines as they
// complete.
class IniFileReader::Loader final : public text::TextSink {
 public:
  explicit Loader(IniFileReader& document) : m_document(document), m_parser(document) {}

  std::u16string& Start(std::size_t mostUnits) override {
    m_document.m_text.reserve(mostUnits);
    return m_document.m_text;
  }
  void Decoded() override { m_parser.TakeEndedLines(); }

  // Takes what the read made of the file; false when it was not read.
  LoadResult Finish(const text::TextRead& read) {
    switch (read.status) {
      case text::TextRead::Status::Read:
        break;
      case text::TextRead::Status::TooLarge:
        return {.tooLarge = true};
      case text::TextRead::Status::Refused:
        return {.refusal = read.refusal, .refusedAt = read.refusedAt};
      case text::TextRead::Status::Unopened:
      case text::TextRead::Status::ReadFailed:
        return {};
    }
    m_document.m_form = read.form;
    m_document.m_unicode = read.form == text::Form::Utf16;
    m_document.m_marked = read.form != text::Form::Ansi;
    m_parser.Finish(m_document.m_marked);
    return {.loaded = true};
  }

 private:
  IniFileReader& m_document;
  Parser m_parser;
};

IniFileReader::LoadResult IniFileReader::Load(const std::u16string& path) {
  IniFileReader loaded;
  Loader loader(loaded);
  const LoadResult result =
      loader.Finish(text::ReadTextFile(path, text::Losses::Refuse, loader));
  if (result) *this = std::move(loaded);
  return result;
}

bool IniFileReader::LoadBytes(std::string_view bytes) {
  IniFileReader loaded;
  Loader loader(loaded);
  const LoadResult result =
      loader.Finish(text::ReadTextBytes(bytes, text::Losses::Refuse, loader));
  if (result) *this = std::move(loaded);
  return result.loaded;
}

void IniFileReader::IndexSection(std::uint32_t number) {
  const std::u16string_view key = Trim(Text(m_sections[number].m_header));
  m_sectionMap.InsertOrReplace(
      number, FoldedHash().Add(key).Value(),
      [&](std::uint32_t other) { return EqualsFolded(Trim(Text(m_sections[other].m_header)), key); });
}

void IniFileReader::IndexEntry(Section& section, std::uint32_t number) {
  const std::u16string_view key = Text(section.m_values[number].m_key);
  section.m_valueMap.InsertOrReplace(
      number, text::NameHash(key),
      [&](std::uint32_t other) { return EqualsFolded(Text(section.m_values[other].m_key), key); });
}

std::uint32_t IniFileReader::FindSection(std::u16string_view name) const {
  return m_sectionMap.Find(SectionKeyHash(name), [&](std::uint32_t number) {
    return HeaderNames(Trim(Text(m_sections[number].m_header)), name);
  });
}

std::uint32_t IniFileReader::FindEntry(const Section& section, std::u16string_view key) const {
  return section.m_valueMap.Find(text::NameHash(key), [&](std::uint32_t number) {
    return EqualsFolded(Text(section.m_values[number].m_key), key);
  });
}

bool IniFileReader::GetValue(std::u16string_view section, std::u16string_view key,
                             std::u16string& value) const {
  const std::uint32_t s = FindSection(section);
  if (s == FlatIndex::kNone) return false;
  const Section& found = m_sections[s];
  const std::uint32_t e = FindEntry(found, key);
  if (e == FlatIndex::kNone) return false;
  value.assign(Text(found.m_values[e].ValueSpan()));
  return true;
}

text::Arena& IniFileReader::Pool() {
  if (!m_arena) m_arena = std::make_unique<text::Arena>();
  return *m_arena;
}

IniFileReader::Section& IniFileReader::AddSection(Span header) {
  Section& section = m_sections.emplace_back();
  section.m_header = header;
  section.m_valueMap = FlatIndex(&Pool());
  return section;
}

void IniFileReader::AddLine(Section& section, const Value& value) {
  if (section.m_valueCount == section.m_valueCapacity) {
    const std::uint32_t capacity = std::max<std::uint32_t>(4, section.m_valueCapacity * 2);
    Value* const grown = Pool().Allocate<Value>(capacity);
    std::copy_n(section.m_values, section.m_valueCount, grown);
    section.m_values = grown;
    section.m_valueCapacity = capacity;
  }
  section.m_values[section.m_valueCount++] = value;
}

IniFileReader::Span IniFileReader::Append(std::u16string_view text) {
  if (m_text.size() + text.size() >= kLargestText) throw std::bad_alloc();
  const Span span{static_cast<std::uint32_t>(m_text.size()),
                  static_cast<std::uint32_t>(text.size())};
  m_text.append(text);
  return span;
}

bool IniFileReader::SetValue(std::u16string_view section, std::u16string_view key,
                             std::u16string_view value) {
  std::uint32_t s = FindSection(section);
  std::uint32_t e = s == FlatIndex::kNone ? FlatIndex::kNone : FindEntry(m_sections[s], key);
  if (e != FlatIndex::kNone && Text(m_sections[s].m_values[e].ValueSpan()) == value) return false;
  m_textIsRendered = false;
  if (s == FlatIndex::kNone) {
    std::u16string header;
    header.reserve(section.size() + 2);
    header.append(u"[").append(section).append(u"]");
    AddSection(Append(header));
    s = static_cast<std::uint32_t>(m_sections.size() - 1);
    IndexSection(s);
  }
  Section& target = m_sections[s];
  // The value must follow its key and "=" in the text: an existing entry gets a copy of
  // its key as written, so that the key keeps its form.
  std::u16string line(e == FlatIndex::kNone ? key : Text(target.m_values[e].m_key));
  line.append(u"=").append(value);
  const Span written = Append(line);
  const Value entry{Span{written.pos, static_cast<std::uint32_t>(line.size() - value.size() - 1)},
                    static_cast<std::uint32_t>(value.size())};
  if (e == FlatIndex::kNone) {
    AddLine(target, entry);
    e = target.m_valueCount - 1;
    IndexEntry(target, e);
  } else {
    target.m_values[e] = entry;
  }
  return true;
}

template <class Drain>
bool IniFileReader::Encode(std::string& bytes, Drain&& drain) const {
  bytes.append(text::MarkOf(m_form));
  text::Encoder encoder(m_form, bytes);
  if (m_textIsRendered) {
    // The text is the file as it is written: no line needs looking at.
    for (std::size_t at = 0; at < m_text.size(); at += kEncodeRun) {
      encoder.Add(std::u16string_view(m_text).substr(at, kEncodeRun));
      if (bytes.size() >= kWriteBlock && !drain(bytes)) return false;
    }
    encoder.Finish();
    return drain(bytes);
  }
  // Lines that stand in the text as they are written, each followed by its CR LF and by
  // the next, go to the encoder as one piece: an unchanged CR LF file is a few long pieces.
  std::size_t runStart = 0, runLength = 0;
  bool ok = true;
  const auto flushRun = [&] {
    if (runLength > 0) encoder.Add(std::u16string_view(m_text).substr(runStart, runLength));
    runLength = 0;
    if (bytes.size() >= kWriteBlock) ok = ok && drain(bytes);
  };
  const auto addLine = [&](std::uint32_t pos, std::uint32_t length) {
    const std::size_t end = std::size_t{pos} + length;
    if (end + 2 <= m_text.size() && m_text[end] == u'\r' && m_text[end + 1] == u'\n') {
      if (runLength == 0 || pos != runStart + runLength) {
        flushRun();
        runStart = pos;
      }
      runLength += length + 2;
      // Converted while the text just looked at is still in the cache.
      if (runLength >= kEncodeRun) flushRun();
      return;
    }
    flushRun();
    encoder.Add(Text(Span{pos, length}));
    encoder.Add(u"\r\n");
  };
  for (const Section& section : m_sections) {
    addLine(section.m_header.pos, section.m_header.len);
    for (const Value& value : section.Values()) {
      // An entry's key, "=" and value stand together in the text.
      addLine(value.m_key.pos, value.m_key.len + (value.IsRaw() ? 0 : value.m_valueLength + 1));
    }
    if (!ok) return false;
  }
  flushRun();
  encoder.Finish();
  return ok && drain(bytes);
}

std::string IniFileReader::Serialize() const {
  // Room for the text and some line ends it lacks, so that the bytes are rarely moved.
  std::string bytes;
  bytes.reserve(3 + (m_text.size() + m_text.size() / 8) *
                        (m_form == text::Form::Utf16 ? 2 : 1));
  Encode(bytes, [](std::string&) { return true; });
  return bytes;
}

bool IniFileReader::Save(const std::u16string& path) const {
  platform::FileReplacement file(path);
  return SaveTo(file);
}

bool IniFileReader::Save(const platform::FileLock& lock) const {
  platform::FileReplacement file(lock);
  return SaveTo(file);
}

bool IniFileReader::SaveTo(platform::FileReplacement& file) const {
  // The bytes go to the file a block at a time, from one buffer that stays in the cache.
  if (!file.Ok()) return false;
  std::string bytes;
  bytes.reserve(2 * kWriteBlock);
  const bool written = Encode(bytes, [&](std::string& block) {
    const bool ok = file.Write(block);
    block.clear();
    return ok;
  });
  return written && file.Commit();
}

std::u16string_view IniFileReader::Header(std::size_t section) const {
  return Text(m_sections.at(section).m_header);
}

bool IniFileReader::IsIndexed(std::size_t section) const {
  const std::u16string_view key = Trim(Header(section));
  const std::uint32_t found = m_sectionMap.Find(FoldedHash().Add(key).Value(), [&](std::uint32_t n) {
    return EqualsFolded(Trim(Text(m_sections[n].m_header)), key);
  });
  return found == section;
}

std::size_t IniFileReader::LineCount(std::size_t section) const {
  return m_sections.at(section).m_valueCount;
}

IniFileReader::LineView IniFileReader::Line(std::size_t section, std::size_t line) const {
  const Section& found = m_sections.at(section);
  if (line >= found.m_valueCount) throw std::out_of_range("no such line");
  const Value& value = found.m_values[line];
  return LineView{Text(value.m_key), Text(value.ValueSpan()), value.IsRaw()};
}

std::u16string IniFileReader::Render() const {
  std::u16string out;
  out.reserve(m_text.size() + 2 * m_sections.size());
  for (const Section& section : m_sections) {
    out.append(Text(section.m_header)).append(u"\r\n");
    for (const Value& value : section.Values()) {
      out.append(Text(value.m_key));
      if (!value.IsRaw()) out.append(u"=").append(Text(value.ValueSpan()));
      out.append(u"\r\n");
    }
  }
  return out;
}

}  // namespace iniplugin::inidoc
