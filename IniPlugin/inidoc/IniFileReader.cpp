#include "inidoc/IniFileReader.h"

#include <limits>
#include <new>
#include <utility>

#include "platform/system.h"

namespace iniplugin {

namespace {

using inidoc::EqualsFolded;
using inidoc::FlatIndex;
using inidoc::FoldedHash;

// The C runtime's wide white-space test in the C locale.
bool IsWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Only spaces count as leading spaces; a tab belongs to the line's text.
std::size_t SkipSpaces(std::u16string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == u' ') ++i;
  return i;
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

bool IniFileReader::Load(const std::u16string& path) {
  std::string bytes;
  if (platform::ReadFileBytes(path, bytes) != platform::ReadResult::Ok) return false;
  return LoadBytes(bytes);
}

bool IniFileReader::LoadBytes(std::string_view bytes) {
  std::optional<inidoc::DecodedText> decoded = inidoc::DecodeFile(bytes);
  // Positions are 32-bit; a file beyond that cannot be indexed.
  if (!decoded || decoded->text.size() >= std::numeric_limits<std::uint32_t>::max() / 2) {
    return false;
  }

  m_sectionMap.Clear();
  m_sections.clear();
  m_text = std::move(decoded->text);
  m_form = decoded->form;
  m_unicode = m_form == inidoc::TextForm::Utf16;
  m_marked = decoded->marked;
  Parse();
  return true;
}

void IniFileReader::Parse() {
  const std::u16string_view text(m_text);
  std::vector<Value> lines;  // the current section's lines, moved in when it closes
  std::size_t entries = 0;
  auto closeSection = [&] {
    if (m_sections.empty()) return;
    Section& section = m_sections.back();
    section.m_values.assign(lines.begin(), lines.end());
    section.m_valueMap.Reserve(entries);
    for (std::uint32_t i = 0; i < section.m_values.size(); ++i) {
      if (!section.m_values[i].m_raw) IndexEntry(section, i);
    }
    lines.clear();
    entries = 0;
  };

  std::size_t start = 0;
  // A marked file has at least one line, the one the mark stood on.
  bool atFirst = true;
  while (start < text.size() || (atFirst && m_marked)) {
    atFirst = false;
    std::size_t end = text.find(u'\n', start);
    const std::size_t next = end == std::u16string_view::npos ? text.size() : end + 1;
    if (end == std::u16string_view::npos) end = text.size();
    // A CR right before the LF belongs to the line end.
    if (end > start && end < text.size() && text[end - 1] == u'\r') --end;

    const std::u16string_view line = text.substr(start, end - start);
    const std::size_t lead = SkipSpaces(line);
    const char16_t first = lead < line.size() ? line[lead] : u'\0';
    const bool atEnd = lead == line.size();
    const auto pos = static_cast<std::uint32_t>(start);

    if (m_sections.empty() || first == u'[') {
      closeSection();
      Section& section = m_sections.emplace_back();
      section.m_header = Span{pos, static_cast<std::uint32_t>(line.size())};
      // A blank or comment line that opens the file's first section is never indexed.
      if (!atEnd && first != u';') IndexSection(static_cast<std::uint32_t>(m_sections.size() - 1));
    } else {
      Value& value = lines.emplace_back();
      if (atEnd || first == u';') {
        value.m_raw = true;
        value.m_key = Span{pos, static_cast<std::uint32_t>(line.size())};
      } else {
        const std::u16string_view rest = line.substr(lead);
        const std::size_t eq = rest.find(u'=');
        const auto restPos = static_cast<std::uint32_t>(start + lead);
        if (eq == std::u16string_view::npos || eq == 0) {
          value.m_raw = true;
          value.m_key = Span{restPos, static_cast<std::uint32_t>(rest.size())};
        } else {
          value.m_key = Span{restPos, static_cast<std::uint32_t>(eq)};
          value.m_value = Span{static_cast<std::uint32_t>(restPos + eq + 1),
                               static_cast<std::uint32_t>(rest.size() - eq - 1)};
          ++entries;
        }
      }
    }
    start = next;
  }
  closeSection();
}

void IniFileReader::IndexSection(std::uint32_t number) {
  const std::u16string_view key = Trim(Text(m_sections[number].m_header));
  m_sectionMap.InsertOrReplace(number, FoldedHash().Add(key).Value(), [&](std::uint32_t other) {
    return EqualsFolded(Trim(Text(m_sections[other].m_header)), key);
  });
}

void IniFileReader::IndexEntry(Section& section, std::uint32_t number) {
  const std::u16string_view key = Text(section.m_values[number].m_key);
  section.m_valueMap.InsertOrReplace(
      number, FoldedHash().Add(key).Value(),
      [&](std::uint32_t other) { return EqualsFolded(Text(section.m_values[other].m_key), key); });
}

std::uint32_t IniFileReader::FindSection(std::u16string_view name) const {
  return m_sectionMap.Find(SectionKeyHash(name), [&](std::uint32_t number) {
    return HeaderNames(Trim(Text(m_sections[number].m_header)), name);
  });
}

std::uint32_t IniFileReader::FindEntry(const Section& section, std::u16string_view key) const {
  return section.m_valueMap.Find(FoldedHash().Add(key).Value(), [&](std::uint32_t number) {
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
  value.assign(Text(found.m_values[e].m_value));
  return true;
}

IniFileReader::Span IniFileReader::Append(std::u16string_view text) {
  if (m_text.size() + text.size() >= std::numeric_limits<std::uint32_t>::max() / 2) {
    throw std::bad_alloc();
  }
  const Span span{static_cast<std::uint32_t>(m_text.size()),
                  static_cast<std::uint32_t>(text.size())};
  m_text.append(text);
  return span;
}

void IniFileReader::SetValue(std::u16string_view section, std::u16string_view key,
                             std::u16string_view value) {
  std::uint32_t s = FindSection(section);
  if (s == FlatIndex::kNone) {
    std::u16string header;
    header.reserve(section.size() + 2);
    header.append(u"[").append(section).append(u"]");
    Section added;
    added.m_header = Append(header);
    m_sections.push_back(std::move(added));
    s = static_cast<std::uint32_t>(m_sections.size() - 1);
    IndexSection(s);
  }
  Section& target = m_sections[s];
  std::uint32_t e = FindEntry(target, key);
  if (e == FlatIndex::kNone) {
    Value entry;
    entry.m_key = Append(key);
    target.m_values.push_back(entry);
    e = static_cast<std::uint32_t>(target.m_values.size() - 1);
    IndexEntry(target, e);
  }
  target.m_values[e].m_value = Append(value);
}

std::string IniFileReader::Serialize() const {
  std::string bytes(inidoc::MarkOf(m_form));
  bytes += inidoc::EncodeText(m_form, Render());
  return bytes;
}

bool IniFileReader::Save(const std::u16string& path) const {
  return platform::ReplaceFileContents(path, Serialize());
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
  return m_sections.at(section).m_values.size();
}

IniFileReader::LineView IniFileReader::Line(std::size_t section, std::size_t line) const {
  const Value& value = m_sections.at(section).m_values.at(line);
  return LineView{Text(value.m_key), Text(value.m_value), value.m_raw};
}

std::u16string IniFileReader::Render() const {
  std::u16string out;
  out.reserve(m_text.size() + 2 * m_sections.size());
  for (const Section& section : m_sections) {
    out.append(Text(section.m_header)).append(u"\r\n");
    for (const Value& value : section.m_values) {
      out.append(Text(value.m_key));
      if (!value.m_raw) out.append(u"=").append(Text(value.m_value));
      out.append(u"\r\n");
    }
  }
  return out;
}

}  // namespace iniplugin
