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

class FileBlocks {
 public:
  explicit FileBlocks(std::FILE* file) : m_file(file), m_block(new char[kBlock]) {}
  std::string_view operator()() {
    if (m_got < kBlock) return {};  // the last read came short: the end, or an error
    m_got = std::fread(m_block.get(), 1, kBlock, m_file);
    return {m_block.get(), m_got};
  }
  bool Ok() const { return !std::ferror(m_file); }

 private:
  std::FILE* m_file;
  std::unique_ptr<char[]> m_block;
  std::size_t m_got = kBlock;
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
  // Only the first block is read before the size is judged: its mark tells how many
  // units the file's bytes make.
  FileBlocks blocks(file.Get());
  const std::string_view first = blocks();
  return Pump(stamp.size, first, blocks, losses, sink);
}

TextRead ReadTextBytes(std::string_view bytes, Losses losses, TextSink& sink) {
  MemoryBlocks blocks(bytes);
  const std::string_view first = blocks();
  return Pump(bytes.size(), first, blocks, losses, sink);
}

}  // namespace iniplugin::text
