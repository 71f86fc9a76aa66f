// The module object: the classes the module serves (its object map), their class
// factories, its lock count, and its registration.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/server.h"
#include "platform/windows_types.h"

namespace iniplugin {

// The module's lock count: every live object, every client reference to a class factory
// beyond the object map's own, and every LockServer(TRUE) holds one. The module may be
// unloaded only when the count is zero.
class Module {
 public:
  static LONG Lock();
  static LONG Unlock();
  static LONG LockCount();
};

// Holds one module lock for as long as it lives; a member of every component object.
class ModuleLockHolder {
 public:
  ModuleLockHolder() { Module::Lock(); }
  ModuleLockHolder(const ModuleLockHolder&) = delete;
  ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;
  ~ModuleLockHolder() { Module::Unlock(); }
};

// Makes an object of one class and queries it for riid; `outer` asks for an aggregated
// object. The caller has tested ppv and cleared *ppv.
using CreateInstanceFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
// Makes a class factory for a class, holding one reference for the caller.
using CreateClassFactoryFn = HRESULT (*)(CreateInstanceFn createInstance, IUnknown** factory);

// One class the module serves.
struct ObjectMapEntry {
  const CLSID* clsid;
  // The id of the "REGISTRY" resource whose script registers the class.
  int registryScriptId;
  CreateClassFactoryFn createClassFactory;
  CreateInstanceFn createInstance;
};

// What a module object serves and registers.
struct ModuleDescription {
  std::span<const ObjectMapEntry> objectMap;
  platform::TypeLibraryIdentity typeLibrary;
  // The class id under which the marshaling code for the module's interfaces registers.
  CLSID proxyStubClsid;
};

class ModuleObject {
 public:
  constexpr ModuleObject() = default;
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
  ~ModuleObject() { Term(); }

  // Binds the module object to what it serves and to the module it lives in.
  HRESULT Init(const ModuleDescription& description, HINSTANCE instance);
  // Releases the cached class factories; the module serves no class until the next
  // Init. Safe to call more than once.
  void Term();

  // The object map's class factory for rclsid, queried for riid; created on first use
  // and cached. CLASS_E_CLASSNOTAVAILABLE when the map has no such class.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
  // S_OK when nothing holds the module, else S_FALSE.
  HRESULT CanUnloadNow() const;

  // Registration of the marshaling code, each class of the map in order, and the type
  // library; the first failure stops it and is the result.
  HRESULT RegisterServer();
  HRESULT UnregisterServer();
  // Runs the registry script `scriptId` in one direction, "Module" and "Module_Raw"
  // standing for the module's path.
  HRESULT UpdateRegistryFromResource(int scriptId, bool doRegister);

  HINSTANCE Instance() const { return m_instance; }
  const ModuleDescription& Description() const { return m_description; }

 private:
  ModuleDescription m_description{};
  HINSTANCE m_instance = nullptr;
  struct FactoryCache {
    explicit FactoryCache(std::size_t entries)
        : factories(std::make_unique<std::atomic<IUnknown*>[]>(entries)) {}
    // Per map entry, the cached class factory. The cache holds one reference, which
    // does not lock the module.
    std::unique_ptr<std::atomic<IUnknown*>[]> factories;
    // Serialises the creation of class factories.
    std::mutex lock;
  };
  // Made by Init, so that the module object itself needs no construction at run time
  // (a mutex cannot be constant-initialised everywhere).
  std::unique_ptr<FactoryCache> m_cache;
};

}  // namespace iniplugin
