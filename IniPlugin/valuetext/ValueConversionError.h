// The exception by which ValueToText reports a value that has no text form.
#pragma once

#include "platform/hresult_error.h"
#include "platform/windows_types.h"

namespace iniplugin::valuetext {

// Result() is the failure code of the Automation call that refused the value; should the
// exception ever reach the host boundary, that code is what the host gets.
class ValueConversionError : public platform::HResultError {
 public:
  explicit ValueConversionError(HRESULT result)
      : platform::HResultError(result, "the value has no text form") {}
};

}  // namespace iniplugin::valuetext
