// An exception that knows the result code it stands for. The host boundary answers with
// that code, so a layer that fails for a reason the host can act on throws one of these
// (or a type derived from it) rather than a bare standard exception.
#pragma once

#include <stdexcept>

#include "platform/windows_types.h"

namespace iniplugin::platform {

class HResultError : public std::runtime_error {
 public:
  HResultError(HRESULT result, const char* what) : std::runtime_error(what), m_result(result) {}

  HRESULT Result() const noexcept { return m_result; }

 private:
  HRESULT m_result;
};

}  // namespace iniplugin::platform
