#include "text/FileText.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/file_problem.h"
#include "platform/memory.h"

namespace iniplugin::text {

namespace {

// Large enough that reading costs little per byte, small enough that a block's text is
// still in the cache when its lines are split.
constexpr std::size_t kBlock = 1 << 16;

// Decodes the blocks `next` hands out (an empty one ends them) into `sink`. `size` is the
// whole file's, `first` its first block.
template <class NextBlock>
TextRead Pump(std::uint64_t size, std::string_view first, NextBlock&& next, Losses losses,
              TextSink& sink) {
  TextRead read;
  if (!TextFits(size, first)) {
    read.status = TextRead::Status::TooLarge;
    return read;
  }
  std::u16string& text = sink.Start(static_cast<std::size_t>(MostUnits(size, first)));
  // Written once, front to back, into fresh memory: see AdviseLargeBuffer.
  platform::AdviseLargeBuffer(text.data(), text.capacity() * sizeof(char16_t));
  Decoder decoder(text, losses);
  const std::size_t largest = LargestText();
  const auto stop = [&](TextRead::Status status) {
    read.status = status;
    read.form = decoder.Form();
    read.refusal = decoder.Refusal();
    read.refusedAt = decoder.RefusedAt();
    return read;
  };
  for (std::string_view block = first; !block.empty(); block = next()) {
    read.bytes += block.size();
    sink.Bytes(block);
    if (!decoder.Feed(block)) return stop(TextRead::Status::Refused);
    // The size may have grown since it was judged.
    if (text.size() >= largest) return stop(TextRead::Status::TooLarge);
    sink.Decoded();
  }
  if (!next.Ok()) {
    platform::NoteSystemFileProblem();
    return stop(TextRead::Status::ReadFailed);
  }
  if (!decoder.Finish()) return stop(TextRead::Status::Refused);
  if (text.size() >= largest) return stop(TextRead::Status::TooLarge);
  sink.Decoded();
  return stop(TextRead::Status::Read);
}

// A file's blocks up to `size`, the size it had when opened: a small file is then one
// read, where reading on to its end would take a second one that finds nothing, and the
// stream's own buffer (and the size query that sizes it) would be a copy more. A file
// whose size tells nothing (0) is read until a read comes short.
class FileBlocks {
 public:
  FileBlocks(std::FILE* file, std::uint64_t size)
      : m_file(file),
        m_left(size),
        m_room(size > 0 && size < kBlock ? static_cast<std::size_t>(size) : kBlock),
        m_block(new char[m_room]) {
    std::setvbuf(file, nullptr, _IONBF, 0);
  }
  std::string_view operator()() {
    if (m_done) return {};
    const std::size_t want = m_left > 0 && m_left < m_room ? static_cast<std::size_t>(m_left) : m_room;
    const std::size_t got = std::fread(m_block.get(), 1, want, m_file);
    // A read that came short is the end, or an error.
    m_done = got < want;
    if (m_left > 0) {
      m_left -= got;
      m_done = m_done || m_left == 0;
    }
    return {m_block.get(), got};
  }
  bool Ok() const { return !std::ferror(m_file); }

 private:
  std::FILE* m_file;
  std::uint64_t m_left;
  std::size_t m_room;
  std::unique_ptr<char[]> m_block;
  bool m_done = false;
};

class MemoryBlocks {
 public:
  explicit MemoryBlocks(std::string_view rest) : m_rest(rest) {}
  std::string_view operator()() {
    const std::string_view block = m_rest.substr(0, kBlock);
    m_rest.remove_prefix(block.size());
    return block;
  }
  static bool Ok() { return true; }

 private:
  std::string_view m_rest;
};

}  // namespace

TextRead ReadTextFile(const std::u16string& path, Losses losses, TextSink& sink) {
  platform::FileStamp stamp;
  const platform::UniqueFile file = platform::OpenFile(path, "rb", &stamp);
  if (!file) return {};
  sink.Opened(stamp);
  // Only the first block is read before the size is judged: its mark tells how many
  // units the file's bytes make.
  FileBlocks blocks(file.Get(), stamp.size);
  const std::string_view first = blocks();
  TextRead read = Pump(stamp.size, first, blocks, losses, sink);
  read.stamp = stamp;
  return read;
}

TextRead ReadTextBytes(std::string_view bytes, Losses losses, TextSink& sink) {
  MemoryBlocks blocks(bytes);
  const std::string_view first = blocks();
  return Pump(bytes.size(), first, blocks, losses, sink);
}

}  // namespace iniplugin::text
