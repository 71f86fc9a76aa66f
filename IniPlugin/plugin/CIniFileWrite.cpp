// Writing variables: SetValues and Commit.
#include "plugin/CIniFile.h"

namespace iniplugin {

HRESULT CIniFile::SetValues(INT_PTR, LONG, INT_PTR, LONG, OrvVariableRecord*, LONG) {
  return E_NOTIMPL;
}

HRESULT CIniFile::Commit() { return E_NOTIMPL; }

}  // namespace iniplugin
