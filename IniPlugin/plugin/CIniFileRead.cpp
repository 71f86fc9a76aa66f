// Reading variables: GetValues.
#include "plugin/CIniFile.h"

namespace iniplugin {

HRESULT CIniFile::GetValues(INT_PTR, LONG, INT_PTR, LONG, OrvVariableRecord* records) {
  if (!records) return E_POINTER;
  return E_NOTIMPL;
}

}  // namespace iniplugin
