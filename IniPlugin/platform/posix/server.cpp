#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/embedded_resources.h"
#include "platform/portable.h"
#include "platform/registry.h"
#include "platform/server.h"
#include "platform/unicode.h"

namespace iniplugin::platform {

HRESULT GetModuleFilePath(HINSTANCE instance, std::u16string* path) {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<const void*>(instance), &info) || !info.dli_fname) {
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  // The loader reports the name the module was loaded by, which may be relative.
  std::unique_ptr<char, decltype(&std::free)> full(::realpath(info.dli_fname, nullptr),
                                                   &std::free);
  if (!full) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::optional<std::u16string> text = platform::Utf8ToUtf16(full.get());
  if (!text) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  *path = std::move(*text);
  return S_OK;
}

HRESULT LoadModuleResource(HINSTANCE, std::u16string_view type, int id, std::string* bytes) {
  for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const EmbeddedResource& resource = kEmbeddedResources[i];
    if (resource.id == id && resource.type == type) {
      bytes->assign(resource.bytes);
      return S_OK;
    }
  }
  return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
}

HRESULT ProxyStubGetClassObject(REFCLSID, REFCLSID, REFIID, void** ppv) {
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
HRESULT ProxyStubCanUnloadNow() { return S_OK; }
HRESULT ProxyStubRegister(HINSTANCE, REFCLSID) { return S_OK; }
HRESULT ProxyStubUnregister(HINSTANCE, REFCLSID) { return S_OK; }

namespace {

// TypeLib\{libid}\major.minor, with the version in hexadecimal as the system writes it.
std::u16string VersionKey(const TypeLibraryIdentity& identity) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", identity.majorVersion, identity.minorVersion);
  return u"TypeLib\\" + portable::GuidToString(identity.libid) + u"\\" +
         std::u16string(version, version + std::char_traits<char>::length(version));
}

std::u16string LocaleKey(const TypeLibraryIdentity& identity) {
  char locale[16];
  std::snprintf(locale, sizeof locale, "%x", static_cast<unsigned>(identity.locale));
  // The system kind of a library for this pointer size.
  const char16_t* kind = sizeof(void*) == 8 ? u"win64" : u"win32";
  return VersionKey(identity) + u"\\" +
         std::u16string(locale, locale + std::char_traits<char>::length(locale)) + u"\\" + kind;
}

std::u16string Directory(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u'/');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// Deletes the key when nothing is left in it.
HRESULT DeleteIfEmpty(Registry& registry, const std::u16string& path) {
  std::vector<std::u16string> subkeys;
  std::vector<std::u16string> values;
  if (HRESULT hr = registry.ListSubkeys(path, &subkeys); FAILED(hr)) return hr;
  if (HRESULT hr = registry.ListValues(path, &values); FAILED(hr)) return hr;
  if (!subkeys.empty() || !values.empty()) return S_FALSE;
  return registry.DeleteKey(path);
}

std::u16string Parent(const std::u16string& path) {
  return path.substr(0, path.find_last_of(u'\\'));
}

}  // namespace

// The entries the system makes for a library registered from a module file: its help
// string on the version key, the file under the locale and system kind, the flags (8,
// "has a disk image") and the file's folder as the help folder.
HRESULT RegisterTypeLibrary(const std::u16string& modulePath, const TypeLibraryIdentity& identity) {
  std::unique_ptr<Registry> registry;
  if (const HRESULT hr = OpenClassesRoot(&registry); FAILED(hr)) return hr;
  const std::u16string version = VersionKey(identity);
  const std::u16string file = LocaleKey(identity);
  const std::pair<std::u16string, std::u16string> entries[] = {
      {version, std::u16string(identity.helpString)},
      {file, modulePath},
      {version + u"\\FLAGS", u"8"},
      {version + u"\\HELPDIR", Directory(modulePath)},
  };
  for (const auto& [key, text] : entries) {
    HRESULT hr = registry->CreateKey(key);
    if (SUCCEEDED(hr)) hr = registry->SetValue(key, u"", text);
    // Nothing is committed: the registry file stays as it was.
    if (FAILED(hr)) return hr;
  }
  return registry->Commit();
}

// As the system does (observed under Wine), a library that is not registered cannot be
// unregistered: E_INVALIDARG.
HRESULT UnregisterTypeLibrary(const std::u16string&, const TypeLibraryIdentity& identity) {
  std::unique_ptr<Registry> registry;
  if (const HRESULT hr = OpenClassesRoot(&registry); FAILED(hr)) return hr;
  const std::u16string version = VersionKey(identity);
  const std::u16string file = LocaleKey(identity);
  if (registry->KeyExists(file) != S_OK) return E_INVALIDARG;
  HRESULT hr = registry->DeleteKey(file);
  if (SUCCEEDED(hr)) hr = DeleteIfEmpty(*registry, Parent(file));
  // The version key goes with its flags and help folder once no locale is left in it.
  std::vector<std::u16string> left;
  if (SUCCEEDED(hr)) hr = registry->ListSubkeys(version, &left);
  if (SUCCEEDED(hr)) {
    std::erase_if(left, [](const std::u16string& name) {
      return name == u"FLAGS" || name == u"HELPDIR";
    });
    if (left.empty()) hr = registry->DeleteTree(version);
  }
  if (SUCCEEDED(hr)) hr = DeleteIfEmpty(*registry, Parent(version));
  return FAILED(hr) ? hr : registry->Commit();
}

}  // namespace iniplugin::platform
