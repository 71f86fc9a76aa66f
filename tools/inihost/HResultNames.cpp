#include "HResultNames.h"

#include <cstdio>

namespace inihost {

std::string HexResult(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

std::string ResultName(HRESULT hr) {
  struct Name {
    unsigned code;
    const char* name;
  };
  static const Name kNames[] = {
      {0x00000000u, "S_OK"},
      {0x00000001u, "S_FALSE"},
      {0x80004001u, "E_NOTIMPL"},
      {0x80004002u, "E_NOINTERFACE"},
      {0x80004003u, "E_POINTER"},
      {0x80004005u, "E_FAIL"},
      {0x8000FFFFu, "E_UNEXPECTED"},
      {0x80070005u, "E_ACCESSDENIED"},
      {0x8007000Eu, "E_OUTOFMEMORY"},
      {0x80070057u, "E_INVALIDARG"},
      {0x80040110u, "CLASS_E_NOAGGREGATION"},
      {0x80040111u, "CLASS_E_CLASSNOTAVAILABLE"},
      {0x80040154u, "REGDB_E_CLASSNOTREG"},
      {0x800401F3u, "CO_E_CLASSSTRING"},
      {0x80020005u, "DISP_E_TYPEMISMATCH"},
      {0x80020008u, "DISP_E_BADVARTYPE"},
      {0x8002000Au, "DISP_E_OVERFLOW"},
      {0x80020004u, "DISP_E_PARAMNOTFOUND"},
      {0x8002802Bu, "TYPE_E_ELEMENTNOTFOUND"},
      {0x8002801Cu, "TYPE_E_REGISTRYACCESS"},
      {0x80029C4Au, "TYPE_E_CANTLOADLIBRARY"},
      {0x8007007Eu, "HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)"},
      {0x80070002u, "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
  };
  for (const Name& name : kNames) {
    if (name.code == static_cast<unsigned>(hr)) return name.name;
  }
  return "unknown";
}

}  // namespace inihost
