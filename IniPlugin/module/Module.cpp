#include "module/Module.h"

#include "module/ExceptionResult.h"
#include "module/Registrar.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace iniplugin {

namespace {
std::atomic<LONG> g_lockCount{0};

// A registry script as text: UTF-16 after its mark FF FE, else the ANSI code page.
std::u16string ScriptText(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string text;
    platform::AppendUtf16(bytes.substr(2), platform::ByteOrder::Little, text);
    return text;
  }
  return platform::AnsiToUtf16(bytes);
}
}  // namespace

LONG Module::Lock() { return ++g_lockCount; }
LONG Module::Unlock() { return --g_lockCount; }
LONG Module::LockCount() { return g_lockCount.load(); }

HRESULT ModuleObject::Init(const ModuleDescription& description, HINSTANCE instance) {
  Term();
  try {
    m_cache = std::make_unique<FactoryCache>(description.objectMap.size());
  } catch (...) {
    return HResultFromCurrentException();
  }
  m_description = description;
  m_instance = instance;
  return S_OK;
}

void ModuleObject::Term() {
  if (!m_cache) return;
  for (std::size_t i = 0; i < m_description.objectMap.size(); ++i) {
    if (IUnknown* factory = m_cache->factories[i].exchange(nullptr)) factory->Release();
  }
  m_cache.reset();
}

HRESULT ModuleObject::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!m_cache) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    const auto& map = m_description.objectMap;
    for (std::size_t i = 0; i < map.size(); ++i) {
      if (!IsEqualCLSID(*map[i].clsid, rclsid)) continue;
      std::atomic<IUnknown*>& cached = m_cache->factories[i];
      IUnknown* factory = cached.load(std::memory_order_acquire);
      if (!factory) {
        // Tested again under the lock: two threads asking at once get the same factory.
        // Taking the lock can itself throw (std::system_error).
        std::lock_guard<std::mutex> guard(m_cache->lock);
        factory = cached.load(std::memory_order_relaxed);
        if (!factory) {
          const HRESULT hr = map[i].createClassFactory(map[i].createInstance, &factory);
          if (FAILED(hr)) return hr;
          cached.store(factory, std::memory_order_release);
        }
      }
      return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT ModuleObject::CanUnloadNow() const { return Module::LockCount() == 0 ? S_OK : S_FALSE; }

HRESULT ModuleObject::UpdateRegistryFromResource(int scriptId, bool doRegister) {
  try {
    std::u16string modulePath;
    if (const HRESULT hr = platform::GetModuleFilePath(m_instance, &modulePath); FAILED(hr)) {
      return hr;
    }
    std::string bytes;
    if (const HRESULT hr = platform::LoadModuleResource(m_instance, u"REGISTRY", scriptId, &bytes);
        FAILED(hr)) {
      return hr;
    }
    Registrar registrar;
    registrar.AddReplacement(u"Module", modulePath);
    registrar.AddReplacement(u"Module_Raw", modulePath);
    std::unique_ptr<platform::Registry> registry;
    if (const HRESULT hr = platform::OpenClassesRoot(&registry); FAILED(hr)) return hr;
    const std::u16string script = ScriptText(bytes);
    return doRegister ? registrar.Register(script, *registry)
                      : registrar.Unregister(script, *registry);
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT ModuleObject::RegisterServer() {
  try {
    if (const HRESULT hr = platform::ProxyStubRegister(m_instance, m_description.proxyStubClsid);
        FAILED(hr)) {
      return hr;
    }
    for (const ObjectMapEntry& entry : m_description.objectMap) {
      if (const HRESULT hr = UpdateRegistryFromResource(entry.registryScriptId, true);
          FAILED(hr)) {
        return hr;
      }
    }
    std::u16string modulePath;
    if (const HRESULT hr = platform::GetModuleFilePath(m_instance, &modulePath); FAILED(hr)) {
      return hr;
    }
    return platform::RegisterTypeLibrary(modulePath, m_description.typeLibrary);
  } catch (...) {
    return HResultFromCurrentException();
  }
}

HRESULT ModuleObject::UnregisterServer() {
  try {
    // The marshaling code may never have been registered; that does not stop the rest.
    (void)platform::ProxyStubUnregister(m_instance, m_description.proxyStubClsid);
    for (const ObjectMapEntry& entry : m_description.objectMap) {
      if (const HRESULT hr = UpdateRegistryFromResource(entry.registryScriptId, false);
          FAILED(hr)) {
        return hr;
      }
    }
    std::u16string modulePath;
    if (const HRESULT hr = platform::GetModuleFilePath(m_instance, &modulePath); FAILED(hr)) {
      return hr;
    }
    return platform::UnregisterTypeLibrary(modulePath, m_description.typeLibrary);
  } catch (...) {
    return HResultFromCurrentException();
  }
}

}  // namespace iniplugin
