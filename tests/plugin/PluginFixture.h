// Shared set-up for the plug-in object tests: objects created as the host gets them, the
// profile mode forced per test, and the module's lock count checked on the way out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <type_traits>

#include "host/OrvHost.h"
#include "module/ComObject.h"
#include "module/Module.h"
#include "platform/com.h"
#include "plugin/CIniFile.h"
#include "plugin/CIniFormat.h"
#include "plugin/ProfileMode.h"
#include "support/Files.h"
#include "support/Hresult.h"

namespace iniplugin::test {

using platform::ComPtr;
using platform::UniqueBstr;

inline ComPtr<IOrvFileFormat> NewFormat() {
  ComObject<CIniFormat>* object = nullptr;
  EXPECT_HR(ComObject<CIniFormat>::CreateInstance(&object), S_OK);
  ComPtr<IOrvFileFormat> format;
  EXPECT_HR(object->QueryInterface(IID_IOrvFileFormat, format.ReceiveVoid()), S_OK);
  return format;
}

inline UniqueBstr Bstr(std::u16string_view text) { return UniqueBstr::FromText(text); }

// What the thread's error object tells the host, taken from it.
inline std::u16string ErrorDescription() {
  platform::ComPtr<IErrorInfo> error;
  UniqueBstr description;
  if (GetErrorInfo(0, error.Receive()) != S_OK ||
      FAILED(error->GetDescription(description.Receive()))) {
    return u"<no error object>";
  }
  return std::u16string(description.View());
}

// Parameterised by the profile mode the process runs in: the parameter, or its first
// element when a suite varies something else as well.
template <class Param>
class PluginTestWith : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    m_locksBefore = Module::LockCount();
    ProfileMode::ResetForTesting(Mode());
  }
  void TearDown() override {
    EXPECT_EQ(Module::LockCount(), m_locksBefore) << "an object is still alive";
    ProfileMode::ResetForTesting();
  }
  int Mode() const {
    if constexpr (std::is_same_v<Param, int>) {
      return this->GetParam();
    } else {
      return std::get<0>(this->GetParam());
    }
  }

  // A navigator on `path` through CreateNavigator, as the host opens one.
  ComPtr<IOrvFileNavigator> Open(const std::u16string& path, HRESULT expected = S_OK) {
    ComPtr<IOrvFileFormat> format = NewFormat();
    ComPtr<IOrvFileNavigator> navigator;
    UniqueBstr bstr = Bstr(path);
    EXPECT_EQ(format->CreateNavigator(bstr.Get(), 0, navigator.Receive()), expected);
    return navigator;
  }

  std::u16string WriteFile(const std::string& name, const std::string& bytes) {
    WriteBytes(m_dir / name, bytes);
    return U16Path(m_dir / name);
  }

  TempDir m_dir;
  LONG m_locksBefore = 0;
};

using PluginTest = PluginTestWith<int>;

inline std::string ModeName(const ::testing::TestParamInfo<int>& info) {
  return "Mode" + std::to_string(info.param);
}

}  // namespace iniplugin::test
