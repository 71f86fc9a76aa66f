#include <new>
#include <utility>

#include "platform/portable.h"
#include "platform/registry.h"
#include "platform/unique.h"
#include "platform/wide.h"

namespace iniplugin::platform {

namespace {

struct HkeyTraits {
  using Type = HKEY;
  static HKEY Invalid() { return nullptr; }
  static bool Close(HKEY key) { return ::RegCloseKey(key) == ERROR_SUCCESS; }
};
using UniqueHkey = UniqueResource<HkeyTraits>;

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

// The registry APIs take NUL-terminated names; a view is copied to get one.
std::u16string Terminated(std::u16string_view text) { return std::u16string(text); }

class SystemRegistry final : public Registry {
 public:
  HRESULT Open(std::u16string_view under) {
    if (!portable::ValidRegistryPath(under)) return E_INVALIDARG;
    if (under.empty()) {
      // HKEY_CLASSES_ROOT is predefined and never closed; open a handle of our own to it.
      return FromWin32(::RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS,
                                       m_base.Receive()));
    }
    const std::u16string path = Terminated(under);
    return FromWin32(::RegCreateKeyExW(HKEY_CLASSES_ROOT, AsWide(path.c_str()), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, m_base.Receive(), nullptr));
  }

  HRESULT KeyExists(std::u16string_view path) override {
    UniqueHkey key;
    const HRESULT hr = OpenKey(path, KEY_READ, &key);
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_FALSE : hr;
  }

  HRESULT CreateKey(std::u16string_view path) override {
    if (!portable::ValidRegistryPath(path)) return E_INVALIDARG;
    const std::u16string name = Terminated(path);
    UniqueHkey key;
    return FromWin32(::RegCreateKeyExW(m_base.Get(), AsWide(name.c_str()), 0, nullptr, 0,
                                       KEY_READ, nullptr, key.Receive(), nullptr));
  }

  HRESULT DeleteKey(std::u16string_view path) override {
    if (path.empty()) return E_INVALIDARG;
    UniqueHkey key;
    HRESULT hr = OpenKey(path, KEY_READ, &key);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_FALSE;
    if (FAILED(hr)) return hr;
    DWORD subkeys = 0;
    hr = FromWin32(::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (FAILED(hr)) return hr;
    // The system would refuse too, but say so the same way on every system.
    if (subkeys != 0) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    key.Reset();
    const std::u16string name = Terminated(path);
    return FromWin32(::RegDeleteKeyW(m_base.Get(), AsWide(name.c_str())));
  }

  HRESULT DeleteTree(std::u16string_view path) override {
    if (path.empty()) return E_INVALIDARG;
    if (!portable::ValidRegistryPath(path)) return E_INVALIDARG;
    const std::u16string name = Terminated(path);
    const LONG error = ::RegDeleteTreeW(m_base.Get(), AsWide(name.c_str()));
    return error == ERROR_FILE_NOT_FOUND ? S_FALSE : FromWin32(error);
  }

  HRESULT ListSubkeys(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    UniqueHkey key;
    if (const HRESULT hr = OpenKey(path, KEY_READ, &key); FAILED(hr)) return hr;
    WCHAR name[256];  // a key name is at most 255 characters
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name / sizeof name[0];
      const LONG error =
          ::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) return S_OK;
      if (error != ERROR_SUCCESS) return FromWin32(error);
      names->emplace_back(AsU16(name), length);
    }
  }

  HRESULT SetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string_view text) override {
    UniqueHkey key;
    if (const HRESULT hr = OpenKey(path, KEY_SET_VALUE, &key); FAILED(hr)) return hr;
    const std::u16string valueName = Terminated(name);
    const std::u16string data = Terminated(text);
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(char16_t));
    return FromWin32(::RegSetValueExW(key.Get(), AsWide(valueName.c_str()), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(data.c_str()), bytes));
  }

  HRESULT GetValue(std::u16string_view path, std::u16string_view name,
                   std::u16string* text) override {
    text->clear();
    UniqueHkey key;
    if (const HRESULT hr = OpenKey(path, KEY_QUERY_VALUE, &key); FAILED(hr)) return hr;
    const std::u16string valueName = Terminated(name);
    DWORD type = 0;
    DWORD bytes = 0;
    LONG error = ::RegQueryValueExW(key.Get(), AsWide(valueName.c_str()), nullptr, &type,
                                    nullptr, &bytes);
    if (error == ERROR_FILE_NOT_FOUND) return S_FALSE;
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (type != REG_SZ) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    std::u16string data(bytes / sizeof(char16_t) + 1, u'\0');
    error = ::RegQueryValueExW(key.Get(), AsWide(valueName.c_str()), nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    // The stored data may or may not carry its terminator.
    data.resize(bytes / sizeof(char16_t));
    if (const auto end = data.find(u'\0'); end != std::u16string::npos) data.resize(end);
    *text = std::move(data);
    return S_OK;
  }

  HRESULT DeleteValue(std::u16string_view path, std::u16string_view name) override {
    UniqueHkey key;
    const HRESULT hr = OpenKey(path, KEY_SET_VALUE, &key);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_FALSE;
    if (FAILED(hr)) return hr;
    const std::u16string valueName = Terminated(name);
    const LONG error = ::RegDeleteValueW(key.Get(), AsWide(valueName.c_str()));
    return error == ERROR_FILE_NOT_FOUND ? S_FALSE : FromWin32(error);
  }

  HRESULT ListValues(std::u16string_view path, std::vector<std::u16string>* names) override {
    names->clear();
    UniqueHkey key;
    if (const HRESULT hr = OpenKey(path, KEY_QUERY_VALUE, &key); FAILED(hr)) return hr;
    DWORD longest = 0;
    HRESULT hr = FromWin32(::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, &longest, nullptr,
                                              nullptr, nullptr));
    if (FAILED(hr)) return hr;
    std::u16string name(longest + 1, u'\0');
    for (DWORD index = 0;; ++index) {
      DWORD length = longest + 1;
      const LONG error = ::RegEnumValueW(key.Get(), index, AsWide(name.data()), &length,
                                         nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) return S_OK;
      if (error != ERROR_SUCCESS) return FromWin32(error);
      names->emplace_back(name.data(), length);
    }
  }

  HRESULT Commit() override { return S_OK; }

 private:
  HRESULT OpenKey(std::u16string_view path, REGSAM access, UniqueHkey* key) {
    if (!portable::ValidRegistryPath(path)) return E_INVALIDARG;
    const std::u16string name = Terminated(path);
    return FromWin32(::RegOpenKeyExW(m_base.Get(), path.empty() ? nullptr : AsWide(name.c_str()),
                                     0, access, key->Receive()));
  }

  UniqueHkey m_base;
};

}  // namespace

std::u16string ClassesRootFile() { return {}; }

HRESULT OpenClassesRoot(std::unique_ptr<Registry>* registry, std::u16string_view under) {
  registry->reset();
  try {
    auto opened = std::make_unique<SystemRegistry>();
    if (const HRESULT hr = opened->Open(under); FAILED(hr)) return hr;
    *registry = std::move(opened);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace iniplugin::platform
