#include "module/Registrar.h"

#include <algorithm>
#include <optional>

#include "module/ExceptionResult.h"

namespace iniplugin {

const HRESULT kMalformedScript = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

namespace {

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 0x20) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// Readable form of script text in an error reason.
std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  return out;
}

struct Token {
  enum class Kind { Word, Quoted, Open, Close, Equals, End };
  Kind kind = Kind::End;
  std::u16string raw;   // as written, quotes resolved, replacements not yet made
  int line = 0;
};

struct ScriptKey {
  enum class Mode { Plain, NoRemove, ForceRemove };
  Mode mode = Mode::Plain;
  std::u16string name;
  std::optional<std::u16string> defaultValue;
  std::vector<std::pair<std::u16string, std::u16string>> values;
  std::vector<ScriptKey> subkeys;
};

using Replacements = std::vector<std::pair<std::u16string, std::u16string>>;

class Parser {
 public:
  Parser(std::u16string_view script, const Replacements& replacements,
         Registrar::ScriptError* error)
      : m_script(script), m_replacements(replacements), m_error(error) {}

  // The keys below the script's roots; nullopt when the script is malformed.
  std::optional<std::vector<ScriptKey>> Parse() {
    std::vector<ScriptKey> keys;
    for (;;) {
      Token token = Next();
      if (m_failed) return std::nullopt;
      if (token.kind == Token::Kind::End) return keys;
      if (token.kind != Token::Kind::Word) {
        Fail(token, "expected a root key");
        return std::nullopt;
      }
      if (!EqualsIgnoringCase(token.raw, u"HKCR") &&
          !EqualsIgnoringCase(token.raw, u"HKEY_CLASSES_ROOT")) {
        Fail(token, "only HKCR can be written");
        return std::nullopt;
      }
      if (!Expect(Token::Kind::Open, "expected '{' after the root key")) return std::nullopt;
      ScriptKey root;
      if (!ParseBlock(&root, 0)) return std::nullopt;
      for (ScriptKey& key : root.subkeys) keys.push_back(std::move(key));
    }
  }

 private:
  // Reads the items of a block up to and including its '}'. `depth`: how many keys the
  // block is below the root; a key deeper than the registry nests is refused here, before
  // the parser's own recursion could run out of stack.
  bool ParseBlock(ScriptKey* parent, std::size_t depth) {
    const bool isRoot = depth == 0;
    for (;;) {
      Token token = Next();
      if (m_failed) return false;
      if (token.kind == Token::Kind::Close) return true;
      if (token.kind == Token::Kind::End) return Fail(token, "missing '}'");
      if (IsKeyword(token, u"val")) {
        if (isRoot) return Fail(token, "the root key holds no values");
        std::u16string name;
        std::u16string text;
        if (!ParseName(&name, false) || !Expect(Token::Kind::Equals, "expected '='") ||
            !ParseValue(&text)) {
          return false;
        }
        parent->values.emplace_back(std::move(name), std::move(text));
        continue;
      }
      ScriptKey key;
      if (IsKeyword(token, u"NoRemove")) {
        key.mode = ScriptKey::Mode::NoRemove;
      } else if (IsKeyword(token, u"ForceRemove")) {
        key.mode = ScriptKey::Mode::ForceRemove;
      }
      if (key.mode == ScriptKey::Mode::Plain) m_pushedBack = std::move(token);
      if (!ParseName(&key.name, true)) return false;
      Token after = Next();
      if (after.kind == Token::Kind::Equals) {
        std::u16string text;
        if (!ParseValue(&text)) return false;
        key.defaultValue = std::move(text);
        after = Next();
      }
      if (after.kind == Token::Kind::Open) {
        if (depth + 1 >= platform::kDeepestKey) return Fail(after, "keys nested too deep");
        if (!ParseBlock(&key, depth + 1)) return false;
      } else {
        m_pushedBack = std::move(after);
      }
      if (m_failed) return false;
      parent->subkeys.push_back(std::move(key));
    }
  }

  bool ParseName(std::u16string* name, bool isKey) {
    Token token = Next();
    if (m_failed) return false;
    if (token.kind == Token::Kind::Word) {
      for (std::u16string_view keyword : {u"val", u"NoRemove", u"ForceRemove", u"Delete"}) {
        if (IsKeyword(token, keyword)) return Fail(token, "a keyword where a name belongs");
      }
    } else if (token.kind != Token::Kind::Quoted) {
      return Fail(token, "expected a name");
    }
    if (!Expand(token, name)) return false;
    if (name->empty()) return Fail(token, "empty name");
    if (isKey && std::any_of(name->begin(), name->end(),
                             [](char16_t c) { return c < 0x20 || c == u'\\'; })) {
      return Fail(token, "a key name cannot hold '\\' or a control character");
    }
    return true;
  }

  // "s 'text'": the only kind of value the registrar writes.
  bool ParseValue(std::u16string* text) {
    Token type = Next();
    if (m_failed) return false;
    if (type.kind != Token::Kind::Word || !EqualsIgnoringCase(type.raw, u"s")) {
      return Fail(type, "expected a string value (s 'text')");
    }
    Token value = Next();
    if (m_failed) return false;
    if (value.kind != Token::Kind::Quoted) return Fail(value, "expected a quoted text");
    return Expand(value, text);
  }

  bool Expect(Token::Kind kind, const char* reason) {
    Token token = Next();
    if (m_failed) return false;
    if (token.kind != kind) return Fail(token, reason);
    return true;
  }

  static bool IsKeyword(const Token& token, std::u16string_view keyword) {
    return token.kind == Token::Kind::Word && EqualsIgnoringCase(token.raw, keyword);
  }

  // Makes the replacements in one name or text.
  bool Expand(const Token& token, std::u16string* out) {
    out->clear();
    const std::u16string_view raw = token.raw;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != u'%') {
        out->push_back(raw[i]);
        continue;
      }
      const std::size_t end = raw.find(u'%', i + 1);
      if (end == std::u16string_view::npos) return Fail(token, "unterminated %");
      const std::u16string_view name = raw.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out->push_back(u'%');
      } else {
        auto found = std::find_if(m_replacements.begin(), m_replacements.end(),
                                  [&](const auto& r) { return EqualsIgnoringCase(r.first, name); });
        if (found == m_replacements.end()) {
          return Fail(token, "unknown replacement %" + Narrow(name) + "%");
        }
        out->append(found->second);
      }
      i = end;
    }
    return true;
  }

  Token Next() {
    if (m_pushedBack) {
      Token token = std::move(*m_pushedBack);
      m_pushedBack.reset();
      return token;
    }
    if (m_pendingBraces > 0) return Brace();
    while (m_pos < m_script.size()) {
      const char16_t c = m_script[m_pos];
      if (c == u'\n') {
        ++m_line;
      } else if (c != u' ' && c != u'\t' && c != u'\r') {
        break;
      }
      ++m_pos;
    }
    Token token;
    token.line = m_line;
    if (m_pos == m_script.size()) return token;
    const char16_t c = m_script[m_pos];
    if (c == u'=') {
      ++m_pos;
      token.kind = Token::Kind::Equals;
      return token;
    }
    if (c == u'\'') return Quoted();
    const std::size_t start = m_pos;
    while (m_pos < m_script.size() && !IsDelimiter(m_script[m_pos])) ++m_pos;
    const std::u16string_view word = m_script.substr(start, m_pos - start);
    // Braces stand alone; "{8D98...}" is a name.
    if (word.find_first_not_of(u"{}") == std::u16string_view::npos) {
      m_braces = word;
      m_pendingBraces = word.size();
      return Brace();
    }
    token.kind = Token::Kind::Word;
    token.raw.assign(word);
    return token;
  }

  Token Brace() {
    Token token;
    token.line = m_line;
    token.kind = m_braces[m_braces.size() - m_pendingBraces] == u'{' ? Token::Kind::Open
                                                                      : Token::Kind::Close;
    --m_pendingBraces;
    return token;
  }

  // A text in single quotes, '' standing for one quote. It ends on its own line.
  Token Quoted() {
    Token token;
    token.line = m_line;
    token.kind = Token::Kind::Quoted;
    for (++m_pos; m_pos < m_script.size(); ++m_pos) {
      const char16_t c = m_script[m_pos];
      if (c == u'\n' || c == u'\r') break;
      if (c == u'\'') {
        if (m_pos + 1 < m_script.size() && m_script[m_pos + 1] == u'\'') {
          token.raw.push_back(u'\'');
          ++m_pos;
          continue;
        }
        ++m_pos;
        return token;
      }
      token.raw.push_back(c);
    }
    Fail(token, "unterminated quoted text");
    return Token{Token::Kind::End, {}, token.line};
  }

  static bool IsDelimiter(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'=' || c == u'\'';
  }

  // Records the first failure; always false.
  bool Fail(const Token& token, std::string reason) {
    if (!m_failed && m_error) {
      m_error->line = token.line;
      m_error->reason = std::move(reason);
    }
    m_failed = true;
    return false;
  }

  std::u16string_view m_script;
  const Replacements& m_replacements;
  Registrar::ScriptError* m_error;
  std::size_t m_pos = 0;
  int m_line = 1;
  std::u16string_view m_braces;   // a run of braces being handed out one by one
  std::size_t m_pendingBraces = 0;
  std::optional<Token> m_pushedBack;
  bool m_failed = false;
};

std::u16string Child(const std::u16string& parent, const std::u16string& name) {
  return parent.empty() ? name : parent + u"\\" + name;
}

HRESULT RegisterKey(const ScriptKey& key, const std::u16string& parent,
                    platform::Registry& registry) {
  const std::u16string path = Child(parent, key.name);
  if (key.mode == ScriptKey::Mode::ForceRemove) {
    if (const HRESULT hr = registry.DeleteTree(path); FAILED(hr)) return hr;
  }
  if (const HRESULT hr = registry.CreateKey(path); FAILED(hr)) return hr;
  if (key.defaultValue) {
    if (const HRESULT hr = registry.SetValue(path, u"", *key.defaultValue); FAILED(hr)) return hr;
  }
  for (const auto& [name, text] : key.values) {
    if (const HRESULT hr = registry.SetValue(path, name, text); FAILED(hr)) return hr;
  }
  for (const ScriptKey& subkey : key.subkeys) {
    if (const HRESULT hr = RegisterKey(subkey, path, registry); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterKey(const ScriptKey& key, const std::u16string& parent,
                      platform::Registry& registry) {
  const std::u16string path = Child(parent, key.name);
  const HRESULT exists = registry.KeyExists(path);
  if (exists != S_OK) return FAILED(exists) ? exists : S_OK;
  for (const ScriptKey& subkey : key.subkeys) {
    if (const HRESULT hr = UnregisterKey(subkey, path, registry); FAILED(hr)) return hr;
  }
  if (key.mode == ScriptKey::Mode::NoRemove) return S_OK;
  for (const auto& value : key.values) {
    if (const HRESULT hr = registry.DeleteValue(path, value.first); FAILED(hr)) return hr;
  }
  std::vector<std::u16string> left;
  if (const HRESULT hr = registry.ListSubkeys(path, &left); FAILED(hr)) return hr;
  if (!left.empty()) return S_OK;
  const HRESULT hr = registry.DeleteKey(path);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT RegisterAll(const std::vector<ScriptKey>& keys, platform::Registry& registry) {
  for (const ScriptKey& key : keys) {
    if (const HRESULT hr = RegisterKey(key, u"", registry); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterAll(const std::vector<ScriptKey>& keys, platform::Registry& registry) {
  for (const ScriptKey& key : keys) {
    if (const HRESULT hr = UnregisterKey(key, u"", registry); FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

void Registrar::AddReplacement(std::u16string_view name, std::u16string_view text) {
  for (auto& replacement : m_replacements) {
    if (EqualsIgnoringCase(replacement.first, name)) {
      replacement.second.assign(text);
      return;
    }
  }
  m_replacements.emplace_back(std::u16string(name), std::u16string(text));
}

HRESULT Registrar::Register(std::u16string_view script, platform::Registry& registry,
                            ScriptError* error) const {
  return Apply(script, registry, true, error);
}

HRESULT Registrar::Unregister(std::u16string_view script, platform::Registry& registry,
                              ScriptError* error) const {
  return Apply(script, registry, false, error);
}

HRESULT Registrar::Apply(std::u16string_view script, platform::Registry& registry,
                         bool doRegister, ScriptError* error) const {
  std::optional<std::vector<ScriptKey>> keys;
  try {
    keys = Parser(script, m_replacements, error).Parse();
  } catch (...) {
    return HResultFromCurrentException();
  }
  if (!keys) return kMalformedScript;

  HRESULT hr = S_OK;
  try {
    hr = doRegister ? RegisterAll(*keys, registry) : UnregisterAll(*keys, registry);
  } catch (...) {
    hr = HResultFromCurrentException();
  }
  if (FAILED(hr)) {
    if (doRegister) {
      // Take back what was written; a registry that holds changes until Commit drops
      // them anyway, because nothing is committed.
      try {
        (void)UnregisterAll(*keys, registry);
      } catch (...) {
      }
    }
    return hr;
  }
  return registry.Commit();
}

}  // namespace iniplugin
