// The host's plug-in interfaces and its variable record. The host defines these; the
// plug-in implements the interfaces. Slot order is the host's and must not change.
//
// An "argument word" is one pointer or one 32-bit integer as the host passes it. Words
// that the plug-in never reads are INT_PTR (pointer-sized, so a host may pass either);
// words the plug-in tests for null are void*.
#pragma once

#include <cstddef>

#include "platform/windows_types.h"

extern const IID IID_IOrvFileFormat;
extern const IID IID_IOrvFileNavigator;
extern const IID IID_IOrvFileNavigatorInit;

struct IOrvFileNavigator;

struct IOrvFileFormat : IUnknown {
  // 3
  virtual HRESULT STDMETHODCALLTYPE GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) = 0;
  // 4
  virtual HRESULT STDMETHODCALLTYPE GetFormatValue(LONG unused, LONG* value) = 0;
  // 5
  virtual HRESULT STDMETHODCALLTYPE CreateNavigator(BSTR filePath, INT_PTR initWord,
                                                    IOrvFileNavigator** navigator) = 0;
  // 6
  virtual HRESULT STDMETHODCALLTYPE FormatMethod6(INT_PTR a1, INT_PTR a2, INT_PTR a3, INT_PTR a4,
                                                  void* a5) = 0;
  // 7
  virtual HRESULT STDMETHODCALLTYPE FormatMethod7(INT_PTR a1, void* a2) = 0;
};

struct IOrvFileNavigatorInit : IUnknown {
  // 3
  virtual HRESULT STDMETHODCALLTYPE Init(BSTR filePath, INT_PTR unused) = 0;
};

// The host's variable record in natural alignment: 32 bytes for a 32-bit host, 48 for a
// 64-bit one (BSTRs 8 bytes, VARIANT 24). The key name comes first, the section second.
struct OrvVariableRecord {
  BSTR keyName;
  BSTR sectionName;
  VARIANT value;
  LONG handled;
  LONG reserved;
};
// host/RecordLayout_win.cpp holds the Windows builds to that layout.

struct IOrvFileNavigator : IUnknown {
  // 3..8
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod3(INT_PTR a1, void* a2, void* a3) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod4(INT_PTR a1, INT_PTR a2, INT_PTR a3) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod5(void* a1) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod6(void* a1, void* a2, void* a3, void* a4,
                                                     void* a5) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod7(INT_PTR a1, INT_PTR a2, void* a3,
                                                     void* a4) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod8(INT_PTR a1, INT_PTR a2, void* a3,
                                                     void* a4) = 0;
  // 9
  virtual HRESULT STDMETHODCALLTYPE SetValues(INT_PTR unused1, LONG firstMatch, INT_PTR unused3,
                                              LONG count, OrvVariableRecord* records,
                                              LONG dateLayout) = 0;
  // 10
  virtual HRESULT STDMETHODCALLTYPE GetValues(INT_PTR unused1, LONG firstMatch, INT_PTR unused3,
                                              LONG count, OrvVariableRecord* records) = 0;
  // 11..14
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod11(void* a1, void* a2) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod12(INT_PTR a1, INT_PTR a2, void* a3) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod13(INT_PTR a1, void* a2, void* a3, INT_PTR a4,
                                                      INT_PTR a5) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod14(INT_PTR a1, INT_PTR a2, INT_PTR a3,
                                                      INT_PTR a4, INT_PTR a5, INT_PTR a6) = 0;
  // 15
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
  // 16..22
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod16(void* a1) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod17(INT_PTR a1, INT_PTR a2, INT_PTR a3,
                                                      void* a4, void* a5) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod18(INT_PTR a1) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod19(INT_PTR a1, INT_PTR a2) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod20(INT_PTR a1, INT_PTR a2, INT_PTR a3,
                                                      INT_PTR a4) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod21(INT_PTR a1) = 0;
  virtual HRESULT STDMETHODCALLTYPE NavigatorMethod22(INT_PTR a1, INT_PTR a2, INT_PTR a3,
                                                      INT_PTR a4, INT_PTR a5) = 0;
};
