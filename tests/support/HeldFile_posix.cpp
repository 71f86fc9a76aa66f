#include "support/HeldFile.h"

#include <gtest/gtest.h>

namespace iniplugin::test {

HeldWithoutSharing::HeldWithoutSharing(const std::filesystem::path&) {
  ADD_FAILURE() << "no writer of the system's own to hold a file from";
}

HeldWithoutSharing::~HeldWithoutSharing() = default;

}  // namespace iniplugin::test
