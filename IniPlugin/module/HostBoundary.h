// What an exception becomes at the host boundary. The host and the component runtime call
// us through vtables and exported functions: an exception crossing one of them ends the
// host's process. Every method they call therefore ends in
//
//   catch (...) { return HResultFromCurrentException(); }
//
// so that whatever was thrown, however deep, comes back as a result code.
#pragma once

#include "platform/windows_types.h"

namespace iniplugin {

// The result code for the exception being handled; call it only inside a catch block.
//   std::bad_alloc, std::length_error       E_OUTOFMEMORY (a string or buffer too large
//                                           to hold is memory the host cannot give us)
//   platform::HResultError and derived      its own result, if that is a failure
//   anything else                           E_UNEXPECTED
HRESULT HResultFromCurrentException() noexcept;

// call(), or the result code for what it throws.
template <class Call>
HRESULT ResultOf(Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return HResultFromCurrentException();
  }
}

}  // namespace iniplugin
