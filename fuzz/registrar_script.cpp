// Any text as a registry script (one UTF-16 unit a byte, so that seeds are plain text):
// the registrar either refuses it whole, touching nothing, or registers it; a script
// registered unregisters too. The registry is held in memory and never fails, so that
// every refusal is the script's.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "module/Registrar.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::u16string Folded(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
  }
  return out;
}

// Keys by their folded path; the root is the empty path and always exists.
class MemoryRegistry final : public iniplugin::platform::Registry {
 public:
  HRESULT KeyExists(std::u16string_view path) override {
    return path.empty() || m_keys.count(Folded(path)) ? S_OK : S_FALSE;
  }
  HRESULT CreateKey(std::u16string_view path) override {
    const std::u16string key = Folded(path);
    for (std::size_t end = key.find(u'\\'); end != std::u16string::npos;
         end = key.find(u'\\', end + 1)) {
      m_keys[key.substr(0, end)];
    }
    m_keys[key];
    return S_OK;
  }
  HRESULT DeleteKey(std::u16string_view path) override {
    if (KeyExists(path) != S_OK) return S_FALSE;
    if (HasSubkeys(Folded(path))) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    m_keys.erase(Folded(path));
    return S_OK;
  }
  HRESULT DeleteTree(std::u16string_view path) override {
    if (KeyExists(path) != S_OK) return S_FALSE;
    const std::u16string key = Folded(path);
    const std::u16string below = key + u"\\";
    for (auto it = m_keys.begin(); it != m_keys.end();) {
      it = it->first == key || it->first.starts_with(below) ? m_keys.erase(it) : std::next(it);
    }
    return S_OK;
  }
  HRESULT ListSubkeys(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    if (KeyExists(path) != S_OK) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const std::u16string below = path.empty() ? u"" : Folded(path) + u"\\";
    for (const auto& entry : m_keys) {
      if (entry.first.starts_with(below) &&
          entry.first.find(u'\\', below.size()) == std::u16string::npos) {
        names->push_back(entry.first.substr(below.size()));
      }
    }
    return S_OK;
  }
  HRESULT SetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string_view text) override {
    if (KeyExists(path) != S_OK) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    m_keys[Folded(path)][Folded(name)] = text;
    return S_OK;
  }
  HRESULT GetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string* text) override {
    text->clear();
    const auto key = m_keys.find(Folded(path));
    if (key == m_keys.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const auto value = key->second.find(Folded(name));
    if (value == key->second.end()) return S_FALSE;
    *text = value->second;
    return S_OK;
  }
  HRESULT DeleteValue(std::u16string_view path, std::u16string_view name) override {
    const auto key = m_keys.find(Folded(path));
    return key != m_keys.end() && key->second.erase(Folded(name)) ? S_OK : S_FALSE;
  }
  HRESULT ListValues(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    const auto key = m_keys.find(Folded(path));
    if (key == m_keys.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    for (const auto& value : key->second) names->push_back(value.first);
    return S_OK;
  }
  HRESULT Commit() override { return S_OK; }

  bool Empty() const { return m_keys.empty(); }

 private:
  bool HasSubkeys(const std::u16string& key) const {
    const auto next = m_keys.upper_bound(key);
    return next != m_keys.end() && next->first.starts_with(key + u"\\");
  }

  std::map<std::u16string, std::map<std::u16string, std::u16string>> m_keys;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace iniplugin;
  const std::u16string script(data, data + size);
  Registrar registrar;
  registrar.AddReplacement(u"MODULE", u"C:\\it's\\IniPlugin.dll");
  const HRESULT malformed = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

  MemoryRegistry registry;
  Registrar::ScriptError error;
  const HRESULT registered = registrar.Register(script, registry, &error);
  if (registered == malformed) {
    Require(registry.Empty());
    Require(!error.reason.empty() && error.line >= 1);
    MemoryRegistry untouched;
    Require(registrar.Unregister(script, untouched, nullptr) == malformed);
    Require(untouched.Empty());
    return 0;
  }
  // Names that the registry's own rules refuse (a key path too deep) fail in the registry,
  // not in the script; this registry refuses nothing.
  Require(registered == S_OK);
  Require(registrar.Unregister(script, registry, nullptr) == S_OK);
  return 0;
}
