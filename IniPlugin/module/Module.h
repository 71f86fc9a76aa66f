// The module object's lock count: every live object and every LockServer(TRUE) holds one,
// and the module may be unloaded only when the count is zero.
#pragma once

#include "platform/windows_types.h"

namespace iniplugin {

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

}  // namespace iniplugin
