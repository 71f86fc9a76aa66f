// Under Wine a replacement of ours leaves the file's name without a file for a moment
// (see ReplacesInTwoSteps in replace.cpp). A reader that found no file there looks again
// while it holds one of these: no writer of ours is replacing the file meanwhile.
#pragma once

#include <string>

#include "platform/windows_types.h"

namespace iniplugin::platform {

class ReplacementPause {
 public:
  // Waits, at most a lock's wait, until no writer of ours is replacing `path`, and keeps
  // them out until it ends. Holds nothing where a replacement takes one step (Windows).
  explicit ReplacementPause(const std::wstring& path);
  ReplacementPause(const ReplacementPause&) = delete;
  ReplacementPause& operator=(const ReplacementPause&) = delete;
  ~ReplacementPause();

  // Whether a second look can tell more than the first did.
  bool Held() const { return m_mutex != nullptr; }

 private:
  HANDLE m_mutex = nullptr;
};

}  // namespace iniplugin::platform
