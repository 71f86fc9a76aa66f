#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"
#include "platform/windows_types.h"
#include "support/Files.h"
#include "support/Hresult.h"
#include "valuetext/ValueToText.h"

namespace iniplugin::valuetext {
namespace {

using namespace std::string_view_literals;

using test::Narrow;

constexpr double kSample = 38679 + (14 * 3600 + 7 * 60 + 9) / 86400.0;  // 23 Nov 2005 14:07:09

// The HRESULT that ValueToText throws for the value; S_OK when it returns a text.
HRESULT ThrownResult(const VARIANT& value) {
  try {
    ValueToText(value, 0);
  } catch (const ValueConversionError& error) {
    return error.Result();
  }
  return S_OK;
}

// The system's own texts (numbers, the date 0.0) are those of English (United States).
class ValueToTextInUsEnglishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetUserDefaultLCID() != 0x0409) {
      GTEST_SKIP() << "the user locale is not English (United States), so the system writes "
                      "other texts";
    }
  }
};

TEST(ValueToTextTest, TextIsTakenUpToItsFirstNulAndLeftInPlace) {
  platform::UniqueVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = platform::UniqueBstr::FromText(u"key=value; more").Release();
  const BSTR original = value->bstrVal;
  EXPECT_EQ(Narrow(ValueToText(*value.Get(), 0)), "key=value; more");
  EXPECT_EQ(value->vt, VT_BSTR);
  EXPECT_EQ(value->bstrVal, original);

  value.Receive()->vt = VT_BSTR;
  value->bstrVal = platform::UniqueBstr::FromText(u"ab\0cd"sv).Release();
  EXPECT_EQ(ValueToText(*value.Get(), 0), u"ab");

  value.Receive()->vt = VT_BSTR;
  value->bstrVal = nullptr;
  EXPECT_EQ(ValueToText(*value.Get(), 0), u"");
}

TEST_F(ValueToTextInUsEnglishTest, OtherValuesInTheSystemsText) {
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(ValueToText(value, 0), u"");  // VT_EMPTY

  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "-1");
  value.boolVal = VARIANT_FALSE;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "0");

  value.vt = VT_I4;
  value.lVal = -42;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "-42");
  value.vt = VT_UI8;
  value.ullVal = 18446744073709551615u;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "18446744073709551615");
  value.vt = VT_R8;
  value.dblVal = 2.5;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "2.5");
  value.vt = VT_CY;
  value.cyVal.int64 = 15000;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "1.5");
}

TEST(ValueToTextTest, DatesInTheHostsLayout) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DATE;
  value.date = kSample;
  EXPECT_EQ(Narrow(ValueToText(value, 0)), "Nov 23 2005 02:07 PM");
  EXPECT_EQ(Narrow(ValueToText(value, 121)), "2005-11-23 14:07:09.000");
  EXPECT_EQ(Narrow(ValueToText(value, 5000)), "23 November 2005 14:07:09:000");
}

TEST_F(ValueToTextInUsEnglishTest, DateZeroAndDatesByReferenceInTheSystemsText) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DATE;
  value.date = 0.0;
  for (std::int32_t code : {0, 121, 8}) EXPECT_EQ(Narrow(ValueToText(value, code)), "12:00:00 AM");

  double date = kSample;
  value.vt = VT_BYREF | VT_DATE;
  value.pdate = &date;
  EXPECT_EQ(Narrow(ValueToText(value, 121)), "11/23/2005 2:07:09 PM");
}

TEST(ValueToTextTest, ValueWithoutTextThrowsTheSystemsResult) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_NULL;
  EXPECT_HR(ThrownResult(value), DISP_E_TYPEMISMATCH);
  value.vt = VT_ERROR;
  value.scode = E_FAIL;
  EXPECT_HR(ThrownResult(value), DISP_E_TYPEMISMATCH);
  value.vt = 0x7F;
  EXPECT_HR(ThrownResult(value), DISP_E_BADVARTYPE);  // refused by the copy already
}

// Counts its references; answers no interface but IUnknown, so it has no text.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_references; }
  ULONG References() const { return m_references; }

 private:
  ULONG m_references = 1;
};

TEST(ValueToTextTest, FailedConversionReleasesItsCopy) {
  CountedObject object;
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = &object;
  EXPECT_HR(ThrownResult(value), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.References(), 1u);
}

}  // namespace
}  // namespace iniplugin::valuetext
