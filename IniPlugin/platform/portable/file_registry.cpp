#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/portable.h"
#include "platform/replace.h"
#include "platform/unicode.h"

namespace iniplugin::portable {

namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

constexpr std::u16string_view kClassesRoot = u"HKEY_CLASSES_ROOT";
constexpr std::string_view kHeader = "REGEDIT4";
const HRESULT kMalformedFile = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kHasSubkeys = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

// Registry names ignore case. Folding ASCII and Latin-1 letters covers every name the
// module writes; other letters compare exactly.
char16_t Fold(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

bool NameLess(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char16_t x, char16_t y) { return Fold(x) < Fold(y); });
}

// The file is line-based: what would break a line cannot be stored.
bool StorableText(std::u16string_view text) {
  return text.find_first_of(u"\r\n", 0, 2) == std::u16string_view::npos &&
         text.find(u'\0') == std::u16string_view::npos;
}

bool ValidKeyName(std::u16string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](char16_t c) {
    return c < 0x20 || c == u'\\';
  });
}

struct Key {
  std::u16string name;
  // In the order set; a value set again keeps its place.
  std::vector<std::pair<std::u16string, std::u16string>> values;
  // Sorted by name without regard to case, as the system's registry lists them.
  std::vector<std::unique_ptr<Key>> subkeys;

  Key* Find(std::u16string_view part) const {
    auto it = LowerBound(part);
    return it != subkeys.end() && SameName((*it)->name, part) ? it->get() : nullptr;
  }
  Key* FindOrAdd(std::u16string_view part) {
    auto it = LowerBound(part);
    if (it != subkeys.end() && SameName((*it)->name, part)) return it->get();
    auto key = std::make_unique<Key>();
    key->name.assign(part);
    return subkeys.insert(it, std::move(key))->get();
  }
  bool Remove(std::u16string_view part) {
    auto it = LowerBound(part);
    if (it == subkeys.end() || !SameName((*it)->name, part)) return false;
    subkeys.erase(it);
    return true;
  }
  std::pair<std::u16string, std::u16string>* FindValue(std::u16string_view valueName) {
    for (auto& value : values) {
      if (SameName(value.first, valueName)) return &value;
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<Key>>::const_iterator LowerBound(std::u16string_view part) const {
    return std::lower_bound(subkeys.begin(), subkeys.end(), part,
                            [](const std::unique_ptr<Key>& key, std::u16string_view name) {
                              return NameLess(key->name, name);
                            });
  }
};

// Splits a key path into its names; false for an empty name ("a\\b", a leading or a
// trailing '\'), a character a key name cannot hold, or more names than keys nest.
bool SplitPath(std::u16string_view path, std::vector<std::u16string_view>* parts) {
  parts->clear();
  if (path.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(u'\\', start);
    const std::u16string_view part =
        path.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos
                                                            : end - start);
    if (!ValidKeyName(part) || parts->size() == platform::kDeepestKey) return false;
    parts->push_back(part);
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

// ---- the file format ----

void AppendQuoted(std::u16string_view text, std::string* out) {
  std::u16string escaped(1, u'"');
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') escaped.push_back(u'\\');
    escaped.push_back(c);
  }
  escaped.push_back(u'"');
  out->append(Utf16ToUtf8(escaped));
}

void AppendKey(const Key& key, std::u16string& path, bool isHive, std::string* out) {
  // A hive key is written only for its values; any other key always, so that an empty
  // key survives the round trip.
  if (!isHive || !key.values.empty()) {
    out->append("\n[").append(Utf16ToUtf8(path)).append("]\n");
    for (const auto& [name, text] : key.values) {
      if (name.empty()) {
        out->push_back('@');
      } else {
        AppendQuoted(name, out);
      }
      out->push_back('=');
      AppendQuoted(text, out);
      out->push_back('\n');
    }
  }
  for (const auto& subkey : key.subkeys) {
    const std::size_t length = path.size();
    path.append(u"\\").append(subkey->name);
    AppendKey(*subkey, path, false, out);
    path.resize(length);
  }
}

std::string Serialize(const Key& top) {
  std::string out(kHeader);
  out.push_back('\n');
  for (const auto& hive : top.subkeys) {
    std::u16string path = hive->name;
    AppendKey(*hive, path, true, &out);
  }
  return out;
}

// Reads a quoted string at `pos` (which holds the opening quote); advances past it.
bool ReadQuoted(std::u16string_view line, std::size_t* pos, std::u16string* text) {
  if (*pos >= line.size() || line[*pos] != u'"') return false;
  text->clear();
  for (std::size_t i = *pos + 1; i < line.size(); ++i) {
    if (line[i] == u'\\') {
      if (++i == line.size() || (line[i] != u'\\' && line[i] != u'"')) return false;
      text->push_back(line[i]);
    } else if (line[i] == u'"') {
      *pos = i + 1;
      return true;
    } else {
      text->push_back(line[i]);
    }
  }
  return false;
}

void SkipBlanks(std::u16string_view line, std::size_t* pos) {
  while (*pos < line.size() && (line[*pos] == u' ' || line[*pos] == u'\t')) ++*pos;
}

std::u16string_view Trim(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(u" \t");
  return text.substr(first, last - first + 1);
}

// Parses the whole file into `top`; false at the first line that is not in the format.
bool Parse(std::string_view bytes, Key* top) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::optional<std::u16string> decoded = Utf8ToUtf16(bytes);
  if (!decoded) return false;
  std::u16string_view text = *decoded;
  bool sawHeader = false;
  Key* current = nullptr;
  std::vector<std::u16string_view> parts;
  while (!text.empty()) {
    const std::size_t end = text.find(u'\n');
    std::u16string_view line = text.substr(0, end);
    text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == u';') continue;
    if (!sawHeader) {
      if (line != u"REGEDIT4") return false;
      sawHeader = true;
      continue;
    }
    if (line.front() == u'[') {
      if (line.back() != u']' || line.size() < 3 || line[1] == u'-') return false;
      if (!SplitPath(line.substr(1, line.size() - 2), &parts)) return false;
      current = top;
      for (std::u16string_view part : parts) current = current->FindOrAdd(part);
      continue;
    }
    if (!current) return false;
    std::u16string name;
    std::size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else if (!ReadQuoted(line, &pos, &name) || name.empty()) {
      return false;
    }
    SkipBlanks(line, &pos);
    if (pos >= line.size() || line[pos] != u'=') return false;
    ++pos;
    SkipBlanks(line, &pos);
    std::u16string value;
    if (!ReadQuoted(line, &pos, &value) || pos != line.size()) return false;
    if (auto* existing = current->FindValue(name)) {
      existing->second = std::move(value);
    } else {
      current->values.emplace_back(std::move(name), std::move(value));
    }
  }
  return sawHeader || bytes.empty();
}

class FileRegistry final : public platform::Registry {
 public:
  explicit FileRegistry(std::u16string file) : m_file(std::move(file)) {}

  HRESULT Load(std::u16string_view under) {
    if (const HRESULT hr = Read(&m_top); FAILED(hr)) return hr;
    std::vector<std::u16string_view> parts;
    if (!SplitPath(under, &parts) || parts.size() >= platform::kDeepestKey) return E_INVALIDARG;
    m_under.assign(parts.begin(), parts.end());
    m_baseDepth = 1 + parts.size();
    m_dirty = FindBase();
    return S_OK;
  }

  HRESULT KeyExists(std::u16string_view path) override {
    Key* key = nullptr;
    const HRESULT hr = Lookup(path, &key);
    return hr == kNotFound ? S_FALSE : hr;
  }

  HRESULT CreateKey(std::u16string_view path) override {
    std::vector<std::u16string_view> parts;
    // Counted from the top, as the file's key lines are: a key made here must read back.
    if (!SplitPath(path, &parts) || m_baseDepth + parts.size() > platform::kDeepestKey) {
      return E_INVALIDARG;
    }
    Key* key = m_base;
    for (std::u16string_view part : parts) key = key->FindOrAdd(part);
    Changed(Change::Kind::CreateKey, path);
    return S_OK;
  }

  HRESULT DeleteKey(std::u16string_view path) override {
    const HRESULT hr = Delete(path, false);
    if (hr == S_OK) Changed(Change::Kind::DeleteKey, path);
    return hr;
  }
  HRESULT DeleteTree(std::u16string_view path) override {
    const HRESULT hr = Delete(path, true);
    if (hr == S_OK) Changed(Change::Kind::DeleteTree, path);
    return hr;
  }

  HRESULT ListSubkeys(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    Key* key = nullptr;
    if (const HRESULT hr = Lookup(path, &key); FAILED(hr)) return hr;
    for (const auto& subkey : key->subkeys) names->push_back(subkey->name);
    return S_OK;
  }

  HRESULT SetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string_view text) override {
    if (!StorableText(name) || !StorableText(text)) return E_INVALIDARG;
    Key* key = nullptr;
    if (const HRESULT hr = Lookup(path, &key); FAILED(hr)) return hr;
    if (auto* existing = key->FindValue(name)) {
      existing->second.assign(text);
    } else if (name.empty()) {
      key->values.emplace(key->values.begin(), std::u16string(), std::u16string(text));
    } else {
      key->values.emplace_back(std::u16string(name), std::u16string(text));
    }
    Changed(Change::Kind::SetValue, path, name, text);
    return S_OK;
  }

  HRESULT GetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string* text) override {
    text->clear();
    Key* key = nullptr;
    if (const HRESULT hr = Lookup(path, &key); FAILED(hr)) return hr;
    auto* value = key->FindValue(name);
    if (!value) return S_FALSE;
    *text = value->second;
    return S_OK;
  }

  HRESULT DeleteValue(std::u16string_view path, std::u16string_view name) override {
    Key* key = nullptr;
    const HRESULT hr = Lookup(path, &key);
    if (hr == kNotFound) return S_FALSE;
    if (FAILED(hr)) return hr;
    auto* value = key->FindValue(name);
    if (!value) return S_FALSE;
    key->values.erase(key->values.begin() + (value - key->values.data()));
    Changed(Change::Kind::DeleteValue, path, name);
    return S_OK;
  }

  HRESULT ListValues(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    Key* key = nullptr;
    if (const HRESULT hr = Lookup(path, &key); FAILED(hr)) return hr;
    for (const auto& value : key->values) names->push_back(value.first);
    return S_OK;
  }

  // Another registry object of the same file, in this process or another, may have
  // committed since this one read it: under the file's lock, the file is read again and
  // this object's changes made once more on what it holds now, so that neither loses the
  // other's keys. The lock is taken here only, never held between calls: one process
  // may hold two registry objects of one file, and neither may wait for the other.
  HRESULT Commit() override {
    if (!m_dirty) return S_OK;
    const std::filesystem::path target(m_file);
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    const platform::FileLock lock(m_file, platform::FileLock::Missing::Create);
    if (!lock.Held()) return E_ACCESSDENIED;
    Key now;
    if (const HRESULT hr = Read(&now); FAILED(hr)) return hr;
    m_top = std::move(now);
    FindBase();
    std::vector<Change> changes;
    changes.swap(m_changes);
    try {
      for (const Change& change : changes) Redo(change);
    } catch (...) {
      m_changes = std::move(changes);  // for the next Commit to make again
      throw;
    }
    const std::string bytes = Serialize(m_top);
    if (!platform::ReplaceFileContents(lock, bytes)) return E_FAIL;
    m_changes.clear();
    m_dirty = false;
    return S_OK;
  }

 private:
  // A change this object made since its last Commit, as it was asked for.
  struct Change {
    enum class Kind { CreateKey, DeleteKey, DeleteTree, SetValue, DeleteValue } kind;
    std::u16string path, name, text;
  };

  void Changed(Change::Kind kind, std::u16string_view path, std::u16string_view name = {},
               std::u16string_view text = {}) {
    m_changes.push_back(
        Change{kind, std::u16string(path), std::u16string(name), std::u16string(text)});
    m_dirty = true;
  }

  // Makes a change again on the file as it is now; one the file no longer allows (a key
  // gone, or grown subkeys) is dropped, as it would have failed had it come now.
  void Redo(const Change& change) {
    switch (change.kind) {
      case Change::Kind::CreateKey: CreateKey(change.path); break;
      case Change::Kind::DeleteKey: DeleteKey(change.path); break;
      case Change::Kind::DeleteTree: DeleteTree(change.path); break;
      case Change::Kind::SetValue: SetValue(change.path, change.name, change.text); break;
      case Change::Kind::DeleteValue: DeleteValue(change.path, change.name); break;
    }
  }

  HRESULT Read(Key* top) const {
    std::string bytes;
    const platform::ReadResult read = platform::ReadFileBytes(m_file, bytes);
    if (read == platform::ReadResult::ReadError) return E_FAIL;
    if (read == platform::ReadResult::TooLarge) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (read == platform::ReadResult::CannotOpen) {
      std::error_code error;
      if (std::filesystem::exists(std::filesystem::path(m_file), error) || error) {
        return E_ACCESSDENIED;
      }
    } else if (!Parse(bytes, top)) {
      return kMalformedFile;
    }
    return S_OK;
  }

  // Finds HKEY_CLASSES_ROOT\under in m_top, making what is missing; true when it made a
  // key below the hive (which then has to be written).
  bool FindBase() {
    bool made = false;
    m_base = m_top.FindOrAdd(kClassesRoot);
    for (const std::u16string& part : m_under) {
      Key* next = m_base->Find(part);
      if (!next) {
        next = m_base->FindOrAdd(part);
        made = true;
      }
      m_base = next;
    }
    return made;
  }

  HRESULT Lookup(std::u16string_view path, Key** key) {
    std::vector<std::u16string_view> parts;
    if (!SplitPath(path, &parts)) return E_INVALIDARG;
    Key* current = m_base;
    for (std::u16string_view part : parts) {
      current = current->Find(part);
      if (!current) return kNotFound;
    }
    *key = current;
    return S_OK;
  }

  HRESULT Delete(std::u16string_view path, bool withSubkeys) {
    std::vector<std::u16string_view> parts;
    if (!SplitPath(path, &parts)) return E_INVALIDARG;
    if (parts.empty()) return E_INVALIDARG;  // the registry's own root stays
    Key* parent = m_base;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      parent = parent->Find(parts[i]);
      if (!parent) return S_FALSE;
    }
    Key* key = parent->Find(parts.back());
    if (!key) return S_FALSE;
    if (!withSubkeys && !key->subkeys.empty()) return kHasSubkeys;
    parent->Remove(parts.back());
    return S_OK;
  }

  std::u16string m_file;
  Key m_top;               // the hives, by their full names
  Key* m_base = nullptr;   // HKEY_CLASSES_ROOT, or the key below it that this registry serves
  std::vector<std::u16string> m_under;  // the names of m_base's path below the hive
  std::size_t m_baseDepth = 0;  // how many names m_base's path from the top has
  std::vector<Change> m_changes;  // since the file was last written
  bool m_dirty = false;    // whether anything changed since the file was read or written
};

}  // namespace

bool ValidRegistryPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  return SplitPath(path, &parts);
}

HRESULT OpenFileRegistry(const std::u16string& file, std::u16string_view under,
                         std::unique_ptr<platform::Registry>* registry) {
  registry->reset();
  if (file.empty()) return E_INVALIDARG;
  try {
    auto opened = std::make_unique<FileRegistry>(file);
    if (const HRESULT hr = opened->Load(under); FAILED(hr)) return hr;
    *registry = std::move(opened);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::u16string RegistryFileLocation(const char* registryFile, const char* dataHome,
                                    const char* home) {
  auto text = [](std::string_view bytes) { return Utf8ToUtf16(bytes).value_or(u""); };
  if (registryFile && *registryFile) return text(registryFile);
  constexpr std::u16string_view kRelative = u"/iniplugin/registry.reg";
  // Relative data homes are to be ignored: they would name a different place from every
  // working directory.
  if (dataHome && dataHome[0] == '/') return text(dataHome) + std::u16string(kRelative);
  if (home && *home) return text(home) + u"/.local/share" + std::u16string(kRelative);
  return {};
}

std::u16string GuidToString(const GUID& guid) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return std::u16string(buffer, buffer + 38);
}

bool GuidFromString(std::u16string_view text, GUID* guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: hex digits at fixed places.
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  unsigned char bytes[16];
  std::size_t n = 0;
  for (std::size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i++] != u'-') return false;
      continue;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k, ++i) {
      const char16_t c = text[i];
      const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                        : c >= u'a' && c <= u'f' ? c - u'a' + 10
                        : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes[n++] = static_cast<unsigned char>(value);
  }
  guid->Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
  guid->Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  guid->Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

}  // namespace iniplugin::portable
