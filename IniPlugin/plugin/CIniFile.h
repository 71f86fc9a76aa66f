// CIniFile: the navigator, bound to one INI file. Reads variables (GetValues), queues and
// makes writes (SetValues) and makes them final (Commit). Used by one thread at a time.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "host/OrvHost.h"
#include "inidoc/IniFileReader.h"
#include "module/Module.h"
#include "plugin/CallFrame.h"
#include "plugin/Guids.h"
#include "profile/FileRoute.h"

namespace iniplugin {

// What a navigator reports for a file it could not load: a file too large for the module
// is told apart, so that the host can say why rather than only that it failed.
inline HRESULT LoadFailureResult(const inidoc::IniFileReader::LoadResult& result) {
  return result.tooLarge ? HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) : E_FAIL;
}

class CIniFile : public IIniFile,
                 public IOrvFileNavigator,
                 public IOrvFileNavigatorInit,
                 public ISupportErrorInfo {
 public:
  static constexpr bool kFreeThreaded = false;
  // What the error objects of its failures name as their source.
  static constexpr std::u16string_view kProgId = u"IniPlugin.IniFile";

  // One queued write.
  struct Data {
    std::u16string m_sectionName;
    std::u16string m_keyName;
    std::u16string m_valueText;
  };

  // IOrvFileNavigatorInit
  HRESULT STDMETHODCALLTYPE Init(BSTR filePath, INT_PTR unused) override;
  // Init's work, as part of another call of the host's (the format object's
  // CreateNavigator), which tells its failure.
  HRESULT Open(BSTR filePath, CallFrame& call);

  // ISupportErrorInfo: every failing call of the host's interfaces sets an error object.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // IOrvFileNavigator: the plug-in's work
  HRESULT STDMETHODCALLTYPE SetValues(INT_PTR, LONG firstMatch, INT_PTR, LONG count,
                                      OrvVariableRecord* records, LONG dateLayout) override;
  HRESULT STDMETHODCALLTYPE GetValues(INT_PTR, LONG firstMatch, INT_PTR, LONG count,
                                      OrvVariableRecord* records) override;
  HRESULT STDMETHODCALLTYPE Commit() override;

  // IOrvFileNavigator: unsupported
  HRESULT STDMETHODCALLTYPE NavigatorMethod3(INT_PTR, void* a2, void* a3) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod4(INT_PTR, INT_PTR, INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod5(void* a1) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod6(void* a1, void* a2, void* a3, void* a4,
                                             void* a5) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod7(INT_PTR, INT_PTR, void* a3, void* a4) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod8(INT_PTR, INT_PTR, void* a3, void* a4) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod11(void* a1, void* a2) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod12(INT_PTR, INT_PTR, void* a3) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod13(INT_PTR, void* a2, void* a3, INT_PTR,
                                              INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod14(INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR,
                                              INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod16(void* a1) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod17(INT_PTR, INT_PTR, INT_PTR, void* a4,
                                              void* a5) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod18(INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod19(INT_PTR, INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod20(INT_PTR, INT_PTR, INT_PTR, INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod21(INT_PTR) override;
  HRESULT STDMETHODCALLTYPE NavigatorMethod22(INT_PTR, INT_PTR, INT_PTR, INT_PTR,
                                              INT_PTR) override;

  // For inspection (tests, the stand-in host's dump).
  const std::u16string& FilePath() const { return m_filePath; }
  const inidoc::IniFileReader& Document() const { return m_document; }
  std::size_t PendingWriteCount() const { return m_pendingWrites.size(); }

 protected:
  CIniFile() = default;
  virtual ~CIniFile() = default;

  HRESULT InternalQueryInterface(REFIID riid, void** ppv);
  HRESULT FinalConstruct(IUnknown*) { return S_OK; }
  IUnknown* PrimaryUnknown() { return static_cast<IIniFile*>(this); }

 private:
  // Whether reads, and the choice of making a direct write, go through m_document (true)
  // or through the platform's profile functions (false).
  bool ReadsFromDocument() const;
  // The profile functions that serve the file for one call, or none when the document
  // does. A file is read, written and committed by one set of rules only: two readers
  // with different rules would each miss the other's writes.
  std::optional<profile::FileRoute> ProfileSource() const;
  // Whether the record's variable has a non-empty value, as the read source sees it.
  bool HasValue(const profile::FileRoute* source, const OrvVariableRecord& record) const;
  // Converts the record's value, queues the write and, when profile functions serve the
  // file and `writeNow`, makes it in the file at once. Refused text and values without a
  // text form are neither queued nor written.
  HRESULT QueueWrite(const profile::FileRoute* source, bool writeNow,
                     const OrvVariableRecord& record, LONG dateLayout, CallFrame& call);
  // Puts into `text` the value of `key` in `section` from `source` (null: the document),
  // whole however long and up to its first NUL, or `defaultText` (null: the empty text)
  // when either is missing. A null name means to the profile reader what it always means
  // (the name lists, so the first name comes back); the document looks it up as the empty
  // name. Throws std::bad_alloc.
  void ReadValueText(const profile::FileRoute* source, const WCHAR* section,
                     const WCHAR* key, const WCHAR* defaultText, std::u16string& text) const;
  // Commit's work, as part of a call of the host's.
  HRESULT CommitQueued(CallFrame& call);
  // Commit for a file the profile functions serve: flush, read every key back, and write
  // again what does not read back.
  HRESULT CommitThroughProfile(const profile::FileRoute& source, CallFrame& call);
  // Commit for a file the document serves: reload, apply the queue, save.
  HRESULT CommitThroughDocument(CallFrame& call);
  // A call whose result says all there is to say (a method not supported, a null pointer).
  static HRESULT AnswerPlainly(HRESULT hr);

  ModuleLockHolder m_moduleLock;
  std::u16string m_filePath;
  // Queued writes in arrival order; dropped unwritten if the navigator is released first.
  std::deque<std::unique_ptr<Data>> m_pendingWrites;
  inidoc::IniFileReader m_document;
};

}  // namespace iniplugin
