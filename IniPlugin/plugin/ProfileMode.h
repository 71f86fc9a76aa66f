// The process-wide profile mode: whether navigators read UTF-16 files through their own
// document (mode 1, NT 4 only) or every file through the platform's profile functions
// (mode 0). Decided by the first Init of the process and never changed afterwards.
#pragma once

#include "platform/version.h"

namespace iniplugin {

class ProfileMode {
 public:
  static constexpr int kUndecided = 2;

  // 1 for platform 2 (NT) with major version exactly 4, 0 for every other answer.
  static int FromVersion(const platform::OsVersion& version);

  // The current value: 2 until the first DecideOnce.
  static int Current();
  // Decides the mode from the operating system if it is still undecided; returns it.
  static int DecideOnce();

  // Tests only: puts the process back to a given value (2 = undecided).
  static void ResetForTesting(int value = kUndecided);
};

}  // namespace iniplugin
