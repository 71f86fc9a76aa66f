// HRESULTs as a failing test prints them: in hex and by name ("0x80070057 E_INVALIDARG"),
// where gtest alone would print -2147024809.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>

#include "platform/windows_types.h"

namespace iniplugin::test {

inline std::string HrText(HRESULT hr) {
  struct Named {
    HRESULT hr;
    const char* name;
  };
  static const Named kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_FAIL, "E_FAIL"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {E_POINTER, "E_POINTER"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_ACCESSDENIED, "E_ACCESSDENIED"},
      {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
      {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
      {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
      {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "HRESULT_FROM_WIN32(ERROR_INVALID_DATA)"},
      {HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), "HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)"},
      {HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
       "HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)"},
  };
  std::ostringstream out;
  out << "0x" << std::hex << std::setw(8) << std::setfill('0') << static_cast<std::uint32_t>(hr);
  for (const Named& named : kNames) {
    if (named.hr == hr) out << ' ' << named.name;
  }
  return out.str();
}

// An HRESULT that compares and prints as one.
struct Hr {
  HRESULT value;
  friend bool operator==(Hr, Hr) = default;
};
inline void PrintTo(Hr hr, std::ostream* out) { *out << HrText(hr.value); }

}  // namespace iniplugin::test

#define EXPECT_HR(actual, expected) \
  EXPECT_EQ(::iniplugin::test::Hr{actual}, ::iniplugin::test::Hr{expected})
#define ASSERT_HR(actual, expected) \
  ASSERT_EQ(::iniplugin::test::Hr{actual}, ::iniplugin::test::Hr{expected})
