#include "module/ExceptionResult.h"

#include <new>
#include <stdexcept>

#include "platform/com.h"
#include "platform/hresult_error.h"
#include "platform/wide.h"

namespace iniplugin {

HRESULT HResultFromCurrentException() noexcept {
  try {
    throw;
  } catch (const platform::HResultError& error) {
    // An exception must never read as success to the host.
    return FAILED(error.Result()) ? error.Result() : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void SetHostError(const IID& iid, std::u16string_view source,
                  std::u16string_view description) noexcept {
  platform::ComPtr<ICreateErrorInfo> created;
  platform::ComPtr<IErrorInfo> info;
  if (FAILED(CreateErrorInfo(created.Receive()))) return ClearHostError();
  // The setters copy NUL-terminated texts.
  std::u16string text, from;
  try {
    text.assign(description);
    from.assign(source);
  } catch (...) {
    return ClearHostError();
  }
  created->SetGUID(iid);
  created->SetSource(platform::AsWide(from.data()));
  created->SetDescription(platform::AsWide(text.data()));
  if (FAILED(created.As(IID_IErrorInfo, &info))) return ClearHostError();
  SetErrorInfo(0, info.Get());
}

void ClearHostError() noexcept { SetErrorInfo(0, nullptr); }

}  // namespace iniplugin
