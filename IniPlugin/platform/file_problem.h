// Why a file operation of ours failed, in the few kinds a person can do something about.
// The system's own last error does not survive until someone describes the failure: the
// clean-up that follows a failure (closing, removing a temporary file) overwrites it. So
// each file function of ours notes its problem where it fails, per thread.
#pragma once

namespace iniplugin::platform {

enum class FileProblem {
  Unknown,   // nothing noted, or nothing more telling than that it failed
  Missing,   // the file, or the folder it should be in, does not exist
  Denied,    // the system refused access
  ReadOnly,  // the file is marked read-only, or lies on a read-only volume
  Held,      // another program (or another writer of ours) holds it
  NotAFile,  // a folder, a device or a pipe
  DiskFull,  // no room left on the disk, or the user's quota spent
};

// What the last failed file operation of ours on this thread noted.
FileProblem LastFileProblem();
void NoteFileProblem(FileProblem problem);
// Notes what the system's last error (errno; GetLastError on Windows) tells.
void NoteSystemFileProblem();
// Starts a new operation: nothing noted.
inline void ForgetFileProblem() { NoteFileProblem(FileProblem::Unknown); }

}  // namespace iniplugin::platform
