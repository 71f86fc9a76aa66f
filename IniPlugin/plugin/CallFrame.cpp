#include "plugin/CallFrame.h"

#include "module/ExceptionResult.h"
#include "platform/file_problem.h"

namespace iniplugin {

namespace {

// A failure no step of ours described: what its result code says.
std::u16string_view GeneralReason(HRESULT hr) {
  switch (hr) {
    case E_OUTOFMEMORY: return u"the plug-in ran out of memory";
    case E_POINTER: return u"the host passed a null pointer where the call needs one";
    case E_NOTIMPL: return u"the plug-in does not support this call";
    case E_INVALIDARG: return u"the host passed an argument the call cannot use";
    default: return u"the plug-in met an unexpected error";
  }
}

// What the platform noted of the last failed file operation, said of a file being read or
// written; read-only and a full disk matter only to a writer.
std::u16string_view ProblemReason(bool writing) {
  switch (platform::LastFileProblem()) {
    case platform::FileProblem::Missing: return u" does not exist";
    case platform::FileProblem::Denied:
      return writing ? u" cannot be written: access is denied"
                     : u" cannot be read: access is denied";
    case platform::FileProblem::ReadOnly:
      if (writing) return u" is read-only";
      break;
    case platform::FileProblem::Held: return u" is held by another program";
    case platform::FileProblem::NotAFile: return u" is not a file";
    case platform::FileProblem::DiskFull:
      if (writing) return u" could not be saved: the disk is full";
      break;
    case platform::FileProblem::Unknown: break;
  }
  return writing ? u" could not be saved" : u" could not be read";
}

// When even the sentence cannot be made, memory has run out.
constexpr std::u16string_view kNoMemory = u"The plug-in ran out of memory.";

}  // namespace

CallFrame::CallFrame(const IID& iid, std::u16string_view source) noexcept
    : m_iid(iid), m_source(source) {
  platform::ForgetFileProblem();
}

HRESULT CallFrame::Fail(HRESULT hr, std::u16string what) {
  if (m_what.empty()) m_what = std::move(what);
  return hr;
}

HRESULT CallFrame::Finish(HRESULT hr) noexcept {
  if (SUCCEEDED(hr)) {
    ClearHostError();
    return hr;
  }
  try {
    std::u16string sentence;
    if (!m_what.empty()) {
      sentence = m_what;
    } else {
      if (!m_file.empty()) sentence.append(m_file).append(u": ");
      sentence.append(GeneralReason(hr));
      // Standing first, the reason (each starts "the ") starts the sentence.
      if (m_file.empty()) sentence[0] = u'T';
    }
    if (!m_kept.empty()) sentence.append(u"; ").append(m_kept);
    sentence.push_back(u'.');
    SetHostError(m_iid, m_source, sentence);
  } catch (...) {
    SetHostError(m_iid, m_source, kNoMemory);
  }
  return hr;
}

HRESULT CallFrame::FinishWithException() noexcept {
  // What an exception interrupted is not what a recorded reason described.
  m_what.clear();
  return Finish(HResultFromCurrentException());
}

namespace describe {

std::u16string Number(std::uint64_t value) {
  std::u16string digits;
  int count = 0;
  do {
    if (count > 0 && count % 3 == 0) digits.insert(digits.begin(), u',');
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
    ++count;
  } while (value != 0);
  return digits;
}

std::u16string Variable(std::u16string_view section, std::u16string_view key) {
  std::u16string text = u"[";
  return text.append(section).append(u"] ").append(key);
}

std::u16string LoadFailure(std::u16string_view path,
                           const inidoc::IniFileReader::LoadResult& result) {
  std::u16string text(path);
  if (result.tooLarge) return text.append(u" is too large for the plug-in to load");
  switch (result.refusal) {
    case text::Refusal::BigEndian:
      return text.append(u" is big-endian UTF-16 (mark FE FF), which the plug-in cannot write back");
    case text::Refusal::NulWithoutMark:
      return text.append(u" holds NUL bytes but no byte-order mark (UTF-16 without a mark?)");
    case text::Refusal::OddLength:
      return text.append(u" is UTF-16 with an odd number of bytes");
    case text::Refusal::InvalidUtf8:
      return text.append(u" is not valid UTF-8 (byte ")
          .append(Number(result.refusedAt))
          .append(u")");
    case text::Refusal::None:
      break;
  }
  return text.append(ProblemReason(false));
}

std::u16string SaveFailure(std::u16string_view path) {
  return std::u16string(path).append(ProblemReason(true));
}

std::u16string_view ConversionFailure(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH: return u"the value's type has no text form";
    case DISP_E_OVERFLOW: return u"the value is out of range for its type";
    case DISP_E_BADVARTYPE: return u"the value's type is not a valid type";
    case E_OUTOFMEMORY: return u"the plug-in ran out of memory";
    default: return u"the value cannot be written as text";
  }
}

std::u16string QueuedKept(std::size_t count) {
  if (count == 1) return u"the queued value was kept for the next Commit";
  return u"the " + Number(count) + u" queued values were kept for the next Commit";
}

}  // namespace describe

}  // namespace iniplugin
