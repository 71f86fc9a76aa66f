// The exception by which ValueToText reports a value that has no text form.
#pragma once

#include <stdexcept>

#include "platform/windows_types.h"

namespace iniplugin {

class ValueConversionError : public std::runtime_error {
 public:
  explicit ValueConversionError(HRESULT result)
      : std::runtime_error("the value has no text form"), m_result(result) {}

  // The failure code of the Automation call that refused the value.
  HRESULT Result() const noexcept { return m_result; }

 private:
  HRESULT m_result;
};

}  // namespace iniplugin
