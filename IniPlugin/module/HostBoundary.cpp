#include "module/HostBoundary.h"

#include <new>
#include <stdexcept>

#include "platform/hresult_error.h"

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

}  // namespace iniplugin
