// The one way a file's text is read: its bytes a block at a time, told apart by their
// first bytes, decoded, and handed to a reader's rules while each block is still in the
// cache. A large file is never held as bytes and as text at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "text/Encoding.h"

namespace iniplugin::text {

// A reader's side of a read: where the text goes, and what is done with each block.
class TextSink {
 public:
  // Called first when a file is read, with its stamp as it was opened.
  virtual void Opened(const platform::FileStamp&) {}
  // Called once, before anything is decoded, with the most units the file can decode to;
  // returns the string the text is decoded into, emptied, for the reader to size.
  virtual std::u16string& Start(std::size_t mostUnits) = 0;
  // Each block's bytes, before they are decoded.
  virtual void Bytes(std::string_view) {}
  // After each block was decoded, and once more after the last: the lines that ended so
  // far can be taken.
  virtual void Decoded() = 0;

 protected:
  ~TextSink() = default;
};

struct TextRead {
  enum class Status {
    Read,
    Unopened,   // not there, or not a regular file (the platform notes why)
    TooLarge,   // its text could not fit (see TextFits), told before it was read if it can be
    Refused,    // Losses::Refuse, and the text could not be written back without loss
    ReadFailed  // a read error part-way (noted as the system's file problem)
  };
  Status status = Status::Unopened;
  Form form = Form::Ansi;  // marked unless ANSI
  Refusal refusal = Refusal::None;  // the decoder's; under Losses::Read, even when Read
  std::uint64_t refusedAt = 0;
  std::uint64_t bytes = 0;  // how many were read
  platform::FileStamp stamp{};  // the file's as it was opened (ReadTextFile only)
  explicit operator bool() const { return status == Status::Read; }
};

// Reads the file at `path` (or bytes already in memory) into `sink`. A file is read up to
// the size it had when opened: the bytes its stamp stands for.
TextRead ReadTextFile(const std::u16string& path, Losses losses, TextSink& sink);
TextRead ReadTextBytes(std::string_view bytes, Losses losses, TextSink& sink);

}  // namespace iniplugin::text
