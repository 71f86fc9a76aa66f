#include "support/HeldFile.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace iniplugin::test {

HeldWithoutSharing::HeldWithoutSharing(const std::filesystem::path& path)
    : m_handle(::CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) {
  EXPECT_NE(m_handle, INVALID_HANDLE_VALUE);
}

HeldWithoutSharing::~HeldWithoutSharing() { ::CloseHandle(m_handle); }

}  // namespace iniplugin::test
