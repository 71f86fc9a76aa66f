// What an exception becomes at the host boundary. The host and the component runtime call
// us through vtables and exported functions: an exception crossing one of them ends the
// host's process. Every method they call therefore ends in
//
//   catch (...) { return HResultFromCurrentException(); }
//
// so that whatever was thrown, however deep, comes back as a result code.
#pragma once

#include <string_view>

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

// The calling thread's error object, which hosts and scripting clients read (GetErrorInfo)
// to tell a person why a call failed: `description` is that sentence, `iid` the interface
// whose method failed, `source` the object's ProgID. Never throws: a description that
// cannot be made leaves the thread without one.
void SetHostError(const IID& iid, std::u16string_view source,
                  std::u16string_view description) noexcept;
// A successful call leaves no error object of an earlier failure behind.
void ClearHostError() noexcept;

}  // namespace iniplugin
