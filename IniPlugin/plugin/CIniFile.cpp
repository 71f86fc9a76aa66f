#include "plugin/CIniFile.h"

#include "platform/file_problem.h"
#include "platform/path.h"
#include "platform/wide.h"
#include "plugin/ProfileMode.h"

namespace iniplugin {


HRESULT CIniFile::InternalQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IIniFile)) {
    *ppv = static_cast<IIniFile*>(this);
  } else if (IsEqualIID(riid, IID_IOrvFileNavigator)) {
    *ppv = static_cast<IOrvFileNavigator*>(this);
  } else if (IsEqualIID(riid, IID_IOrvFileNavigatorInit)) {
    *ppv = static_cast<IOrvFileNavigatorInit*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

bool CIniFile::ReadsFromDocument() const {
  return ProfileMode::Current() != 0 && m_document.IsUnicode();
}

HRESULT CIniFile::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_IOrvFileNavigator) || IsEqualIID(riid, IID_IOrvFileNavigatorInit) ||
                 IsEqualIID(riid, IID_IIniFile)
             ? S_OK
             : S_FALSE;
}

HRESULT CIniFile::Init(BSTR filePath, INT_PTR) {
  CallFrame call(IID_IOrvFileNavigatorInit, kProgId);
  return Answer(call, [&] { return Open(filePath, call); });
}

HRESULT CIniFile::Open(BSTR filePath, CallFrame& call) {
  const int mode = ProfileMode::DecideOnce();
  // Made absolute once: every later read, write, flush and commit names the same file.
  m_filePath = platform::FullPath(std::u16string(platform::BstrCText(filePath)));
  call.About(m_filePath);
  call.Kept(u"it was left unchanged");
  if (mode == 0) return S_OK;
  const inidoc::IniFileReader::LoadResult loaded = m_document.Load(m_filePath);
  if (loaded) return S_OK;
  // A file that is not there was not left anything.
  if (platform::LastFileProblem() == platform::FileProblem::Missing) call.Kept({});
  return call.Fail(LoadFailureResult(loaded), describe::LoadFailure(m_filePath, loaded));
}

HRESULT CIniFile::AnswerPlainly(HRESULT hr) {
  return CallFrame(IID_IOrvFileNavigator, kProgId).Finish(hr);
}

HRESULT CIniFile::NavigatorMethod3(INT_PTR, void* a2, void* a3) {
  return AnswerPlainly(a2 && a3 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod4(INT_PTR, INT_PTR, INT_PTR) { return AnswerPlainly(E_NOTIMPL); }
HRESULT CIniFile::NavigatorMethod5(void* a1) { return AnswerPlainly(a1 ? E_NOTIMPL : E_POINTER); }
HRESULT CIniFile::NavigatorMethod6(void* a1, void* a2, void* a3, void* a4, void* a5) {
  return AnswerPlainly(a1 && a2 && a3 && a4 && a5 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod7(INT_PTR, INT_PTR, void* a3, void* a4) {
  return AnswerPlainly(a3 && a4 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod8(INT_PTR, INT_PTR, void* a3, void* a4) {
  return AnswerPlainly(a3 && a4 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod11(void* a1, void* a2) {
  return AnswerPlainly(a1 && a2 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod12(INT_PTR, INT_PTR, void* a3) {
  return AnswerPlainly(a3 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod13(INT_PTR, void* a2, void* a3, INT_PTR, INT_PTR) {
  return AnswerPlainly(a2 && a3 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod14(INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR) {
  return AnswerPlainly(E_NOTIMPL);
}
HRESULT CIniFile::NavigatorMethod16(void* a1) { return AnswerPlainly(a1 ? E_NOTIMPL : E_POINTER); }
HRESULT CIniFile::NavigatorMethod17(INT_PTR, INT_PTR, INT_PTR, void* a4, void* a5) {
  return AnswerPlainly(a4 && a5 ? E_NOTIMPL : E_POINTER);
}
HRESULT CIniFile::NavigatorMethod18(INT_PTR) { return AnswerPlainly(E_NOTIMPL); }
HRESULT CIniFile::NavigatorMethod19(INT_PTR, INT_PTR) { return AnswerPlainly(S_OK); }
HRESULT CIniFile::NavigatorMethod20(INT_PTR, INT_PTR, INT_PTR, INT_PTR) { return AnswerPlainly(S_OK); }
HRESULT CIniFile::NavigatorMethod21(INT_PTR) { return AnswerPlainly(E_NOTIMPL); }
HRESULT CIniFile::NavigatorMethod22(INT_PTR, INT_PTR, INT_PTR, INT_PTR, INT_PTR) {
  return AnswerPlainly(E_NOTIMPL);
}

}  // namespace iniplugin
