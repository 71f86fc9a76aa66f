// Conversion to text: the portable VariantChangeType against one table of expected texts,
// and in the Windows build the system's conversion against the same table. The table was
// taken from the system's conversion under the English (United States) locale.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string_view>

#include "platform/AutomationApi.h"

namespace iniplugin {
namespace {

using namespace std::string_view_literals;
using namespace test;  // the API tables and the value builders: I4(...), R8(...), Date(...)

constexpr bool kDirectOnly = false;

struct Row {
  Value value;
  HRESULT hr;
  std::u16string_view text;
  // The same result by reference and through a VARIANT reference. Not so for VT_EMPTY and
  // VT_NULL, which cannot be held by reference, and for a few bare type tags.
  bool allForms = true;
};

const Row kRows[] = {
    // whole numbers of every width
    {I1(-128), S_OK, u"-128"sv},
    {I1(127), S_OK, u"127"sv},
    {UI1(0), S_OK, u"0"sv},
    {UI1(255), S_OK, u"255"sv},
    {I2(-32768), S_OK, u"-32768"sv},
    {I2(32767), S_OK, u"32767"sv},
    {UI2(65535), S_OK, u"65535"sv},
    {I4(-2147483647 - 1), S_OK, u"-2147483648"sv},
    {I4(0), S_OK, u"0"sv},
    {I4(-42), S_OK, u"-42"sv},
    {I4(2147483647), S_OK, u"2147483647"sv},
    {UI4(4294967295u), S_OK, u"4294967295"sv},
    {Int(-5), S_OK, u"-5"sv},
    {UInt(4000000000u), S_OK, u"4000000000"sv},
    {I8(INT64_MIN), S_OK, u"-9223372036854775808"sv},
    {I8(INT64_MAX), S_OK, u"9223372036854775807"sv},
    {I8(-1), S_OK, u"-1"sv},
    {UI8(UINT64_MAX), S_OK, u"18446744073709551615"sv},
    {UI8(10000000000000000000u), S_OK, u"10000000000000000000"sv},
    // booleans: with flags 0 the stored number, never a word
    {Bool(VARIANT_TRUE), S_OK, u"-1"sv},
    {Bool(VARIANT_FALSE), S_OK, u"0"sv},
    {Bool(1), S_OK, u"1"sv},
    {Bool(5), S_OK, u"5"sv},
    {Bool(-32768), S_OK, u"-32768"sv},
    // floats: seven significant digits, an exponent from 1E+07 and below 1E-04, ties
    // rounded away from zero
    {R4(0.0f), S_OK, u"0"sv},
    {R4(-0.0f), S_OK, u"0"sv},
    {R4(1.0f), S_OK, u"1"sv},
    {R4(0.1f), S_OK, u"0.1"sv},
    {R4(1.0f / 3), S_OK, u"0.3333333"sv},
    {R4(-123.456f), S_OK, u"-123.456"sv},
    {R4(2.5f), S_OK, u"2.5"sv},
    {R4(1234567.0f), S_OK, u"1234567"sv},
    {R4(9999999.0f), S_OK, u"9999999"sv},
    {R4(12345678.0f), S_OK, u"1.234568E+07"sv},
    {R4(16777216.0f), S_OK, u"1.677722E+07"sv},
    {R4(9999999.5f), S_OK, u"1E+07"sv},
    {R4(1e6f), S_OK, u"1000000"sv},
    {R4(1e7f), S_OK, u"1E+07"sv},
    {R4(1234567.5f), S_OK, u"1234568"sv},
    {R4(1234568.5f), S_OK, u"1234569"sv},
    {R4(1e-4f), S_OK, u"0.0001"sv},
    {R4(1e-5f), S_OK, u"1E-05"sv},
    {R4(3.4028235e38f), S_OK, u"3.402823E+38"sv},
    {R4(1.4e-45f), S_OK, u"1.401298E-45"sv},
    {R4(std::numeric_limits<float>::quiet_NaN()), S_OK, u"NAN"sv},
    {R4(-std::numeric_limits<float>::infinity()), S_OK, u"-INF"sv},
    // doubles: fifteen significant digits, an exponent from 1E+15 and below 1E-04
    {R8(0.0), S_OK, u"0"sv},
    {R8(-0.0), S_OK, u"0"sv},
    {R8(1.0), S_OK, u"1"sv},
    {R8(-1.5), S_OK, u"-1.5"sv},
    {R8(0.1), S_OK, u"0.1"sv},
    {R8(1.0 / 3), S_OK, u"0.333333333333333"sv},
    {R8(2.0 / 3), S_OK, u"0.666666666666667"sv},
    {R8(123.456), S_OK, u"123.456"sv},
    {R8(0.30000000000000004), S_OK, u"0.3"sv},
    {R8(1234.5678901234567), S_OK, u"1234.56789012346"sv},
    {R8(123456789012345.0), S_OK, u"123456789012345"sv},
    {R8(999999999999999.0), S_OK, u"999999999999999"sv},
    {R8(1234567890123456.0), S_OK, u"1.23456789012346E+15"sv},
    {R8(9999999999999999.0), S_OK, u"1E+16"sv},
    {R8(1e14), S_OK, u"100000000000000"sv},
    {R8(1e15), S_OK, u"1E+15"sv},
    {R8(1e21), S_OK, u"1E+21"sv},
    {R8(99999999999999.99), S_OK, u"100000000000000"sv},
    {R8(9.99999999999999949e14), S_OK, u"1E+15"sv},
    {R8(100000000000000.5), S_OK, u"100000000000001"sv},
    {R8(100000000000002.5), S_OK, u"100000000000003"sv},
    {R8(1e-4), S_OK, u"0.0001"sv},
    {R8(1e-5), S_OK, u"1E-05"sv},
    {R8(0.0001234), S_OK, u"0.0001234"sv},
    {R8(0.00001234), S_OK, u"1.234E-05"sv},
    {R8(0.000999999999999999), S_OK, u"0.000999999999999999"sv},
    {R8(0.00009999999999999999), S_OK, u"0.0001"sv},
    {R8(1.5e300), S_OK, u"1.5E+300"sv},
    {R8(-2.5e-300), S_OK, u"-2.5E-300"sv},
    {R8(5e-324), S_OK, u"4.94065645841247E-324"sv},
    {R8(-5e-324), S_OK, u"-4.94065645841247E-324"sv},
    {R8(1.7976931348623157e308), S_OK, u"1.79769313486232E+308"sv},
    {R8(std::numeric_limits<double>::infinity()), S_OK, u"INF"sv},
    {R8(-std::numeric_limits<double>::infinity()), S_OK, u"-INF"sv},
    {R8Bits(0x7FF8000000000000u), S_OK, u"NAN"sv},
    {R8Bits(0xFFF8000000000000u), S_OK, u"-NAN(IND)"sv},
    {R8Bits(0x7FF0000000000001u), S_OK, u"NAN"sv},
    // currency: exact, as many decimals as needed, no thousands separators
    {Cy(0), S_OK, u"0"sv},
    {Cy(10000), S_OK, u"1"sv},
    {Cy(15000), S_OK, u"1.5"sv},
    {Cy(-15000), S_OK, u"-1.5"sv},
    {Cy(1), S_OK, u"0.0001"sv},
    {Cy(-1), S_OK, u"-0.0001"sv},
    {Cy(50), S_OK, u"0.005"sv},
    {Cy(12345678), S_OK, u"1234.5678"sv},
    {Cy(123450000), S_OK, u"12345"sv},
    {Cy(1234567890123), S_OK, u"123456789.0123"sv},
    {Cy(-9999), S_OK, u"-0.9999"sv},
    {Cy(INT64_MAX), S_OK, u"922337203685477.5807"sv},
    {Cy(INT64_MIN), S_OK, u"-922337203685477.5808"sv},
    // decimals: exact, trailing zeros dropped; any sign bit counts
    {Dec(0, 0, 0, 0), S_OK, u"0"sv},
    {Dec(0, DECIMAL_NEG, 0, 0), S_OK, u"0"sv},
    {Dec(2, 0, 0, 12345), S_OK, u"123.45"sv},
    {Dec(2, DECIMAL_NEG, 0, 12345), S_OK, u"-123.45"sv},
    {Dec(5, 0, 0, 100000), S_OK, u"1"sv},
    {Dec(5, 0, 0, 1230000), S_OK, u"12.3"sv},
    {Dec(3, DECIMAL_NEG, 0, 1000), S_OK, u"-1"sv},
    {Dec(10, 0, 0, 5), S_OK, u"0.0000000005"sv},
    {Dec(28, 0, 0, 1), S_OK, u"0.0000000000000000000000000001"sv},
    {Dec(28, 0, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFu), S_OK, u"7.9228162514264337593543950335"sv},
    {Dec(0, 0, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFu), S_OK, u"79228162514264337593543950335"sv},
    {Dec(0, DECIMAL_NEG, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFu), S_OK,
     u"-79228162514264337593543950335"sv},
    {Dec(20, 0, 0x12345, 0x6789ABCDEF012345u), S_OK, u"13754.88932539311398658885"sv},
    {Dec(15, 0, 0, 123456789012345678u), S_OK, u"123.456789012345678"sv},
    {Dec(0, 1, 0, 5), S_OK, u"-5"sv},
    {Dec(1, 0x7F, 0, 15), S_OK, u"-1.5"sv},
    // dates: M/d/yyyy h:mm:ss AM/PM, the date alone at midnight, the time alone on day 0
    {Date(0.0), S_OK, u"12:00:00 AM"sv},
    {Date(1.0), S_OK, u"12/31/1899"sv},
    {Date(-1.0), S_OK, u"12/29/1899"sv},
    {Date(2.0), S_OK, u"1/1/1900"sv},
    {Date(60.0), S_OK, u"2/28/1900"sv},
    {Date(61.0), S_OK, u"3/1/1900"sv},
    {Date(-36522.0), S_OK, u"1/1/1800"sv},
    {Date(45356.0), S_OK, u"3/5/2024"sv},
    // times of day, negative dates counting forward from midnight
    {Date(0.25), S_OK, u"6:00:00 AM"sv},
    {Date(0.5), S_OK, u"12:00:00 PM"sv},
    {Date(-0.5), S_OK, u"12:00:00 PM"sv},
    {Date(-1.25), S_OK, u"12/29/1899 6:00:00 AM"sv},
    {Date(45356.5), S_OK, u"3/5/2024 12:00:00 PM"sv},
    {Date(45356.5 + 1.0 / 24 + 5.0 / 1440), S_OK, u"3/5/2024 1:05:00 PM"sv},
    {Date(45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0), S_OK, u"3/5/2024 2:07:09 PM"sv},
    {Date(38477.5432060185), S_OK, u"5/5/2005 1:02:13 PM"sv},
    {Date(-500000.75), S_OK, u"1/16/531 6:00:00 PM"sv},
    // fractions of a second round to the nearest second, into the next day if need be
    {Date(45356.99999), S_OK, u"3/5/2024 11:59:59 PM"sv},
    {Date(45356.999999), S_OK, u"3/6/2024 12:00:00 AM"sv},
    {Date(0.99999999), S_OK, u"12:00:00 AM"sv},
    {Date(-0.99999999), S_OK, u"12:00:00 AM"sv},
    {Date(-1.99999999), S_OK, u"12/30/1899 12:00:00 AM"sv},
    {Date(45322.9999999), S_OK, u"2/1/2024 12:00:00 AM"sv},
    {Date(45657.9999999), S_OK, u"1/1/2025 12:00:00 AM"sv},
    {Date(0.0000057870370370), S_OK, u"12:00:01 AM"sv},
    {Date(0.000005), S_OK, u"12:00:00 AM"sv},
    {Date(45356.00000578), S_OK, u"3/5/2024 12:00:00 AM"sv},
    {Date(45356.00000579), S_OK, u"3/5/2024 12:00:01 AM"sv},
    {Date(-1.000005), S_OK, u"12/29/1899 12:00:00 AM"sv},
    {Date(-1.0000058), S_OK, u"12/29/1899 12:00:01 AM"sv},
    {Date(-0.0000058), S_OK, u"12:00:01 AM"sv},
    // a fraction below 1e-12 of a day is no time of day
    {Date(1.0000000000007), S_OK, u"12/31/1899"sv},
    {Date(1.000000000002), S_OK, u"12/31/1899 12:00:00 AM"sv},
    {Date(-1.0000000000007), S_OK, u"12/29/1899"sv},
    // the accepted range: 1 January 100 to the end of 31 December 9999
    {Date(-657434.0), S_OK, u"1/1/100"sv},
    {Date(-657434.5), S_OK, u"1/1/100 12:00:00 PM"sv},
    {Date(-657434.999), S_OK, u"1/1/100 11:58:34 PM"sv},
    {Date(-657434.9999999), S_OK, u"1/2/100 12:00:00 AM"sv},
    {Date(-657435.0), E_INVALIDARG, u""sv},
    {Date(2958465.0), S_OK, u"12/31/9999"sv},
    {Date(2958465.99999), S_OK, u"12/31/9999 11:59:59 PM"sv},
    {Date(2958465.999999999), S_OK, u"1/1/10000 12:00:00 AM"sv},
    {Date(2958466.0), E_INVALIDARG, u""sv},
    {Date(1e10), E_INVALIDARG, u""sv},
    {Date(-1e10), E_INVALIDARG, u""sv},
    {Date(std::numeric_limits<double>::infinity()), E_INVALIDARG, u""sv},
    // texts, embedded NULs included
    {Bstr(u"hello"), S_OK, u"hello"sv},
    {NullBstr(), S_OK, u""sv},
    {Bstr(u""), S_OK, u""sv},
    {Bstr(u"a\0b"), S_OK, u"a\u0000b"sv},
    {Bstr(u"caf\u00e9 \u20ac 100"), S_OK, u"caf\u00e9 \u20ac 100"sv},
    // empty, and the values without a text form
    {Empty(), S_OK, u""sv, kDirectOnly},
    {Null(), DISP_E_TYPEMISMATCH, u""sv, kDirectOnly},
    {Error(0), DISP_E_TYPEMISMATCH, u""sv},
    {Error(0x80020004), DISP_E_TYPEMISMATCH, u""sv},
    {Tag(VT_UNKNOWN), DISP_E_TYPEMISMATCH, u""sv},
    {Tag(VT_DISPATCH), DISP_E_BADVARTYPE, u""sv},
    {Tag(VT_VARIANT), DISP_E_TYPEMISMATCH, u""sv, kDirectOnly},
    {Tag(15), DISP_E_BADVARTYPE, u""sv},
    {Tag(24 /* VT_VOID */), DISP_E_BADVARTYPE, u""sv},
    {Tag(36 /* VT_RECORD */), DISP_E_TYPEMISMATCH, u""sv, kDirectOnly},
    {Tag(0x7F), DISP_E_BADVARTYPE, u""sv},
    {Tag(VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH, u""sv},
    {Tag(VT_VECTOR | VT_I4), DISP_E_BADVARTYPE, u""sv},
};

::testing::AssertionResult Converts(const AutomationApi& api, const Row& row, Passing passing) {
  BuiltVariant source(api, row.value, passing);
  const ConvertResult actual = ConvertToText(api, source.Get());
  if (actual.hr == row.hr && actual.text == (SUCCEEDED(row.hr) ? row.text : u""sv)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << api.name << ", " << PassingName(passing) << ", type " << row.value.vt << ": expected "
         << HrText(row.hr) << " " << Printable(row.text) << ", got " << HrText(actual.hr) << " "
         << Printable(actual.text);
}

class VariantChangeTypeTest : public ::testing::TestWithParam<const AutomationApi*> {
 protected:
  const AutomationApi& Api() const { return *GetParam(); }
};

TEST_P(VariantChangeTypeTest, TextOfEveryKindOfValue) {
  if (Api().isSystem && !SystemLocaleIsEnglishUs()) {
    GTEST_SKIP() << "the user locale is not English (United States) (LCID 0x" << std::hex
                 << GetUserDefaultLCID() << "), so the system writes other texts";
  }
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    SCOPED_TRACE(::testing::Message() << "row " << i);
    const Row& row = kRows[i];
    EXPECT_TRUE(Converts(Api(), row, Passing::Direct));
    if (row.allForms) {
      EXPECT_TRUE(Converts(Api(), row, Passing::ByReference));
      EXPECT_TRUE(Converts(Api(), row, Passing::ThroughVariant));
    }
  }
}

TEST_P(VariantChangeTypeTest, ReferencesThatAreNotValues) {
  VARIANT v;
  VARIANT inner;
  LONG number = 7;
  const auto convert = [&](const VARIANT& source) { return ConvertToText(Api(), &source); };

  v.vt = VT_BYREF | VT_EMPTY;
  v.byref = &number;
  EXPECT_HR(convert(v).hr, DISP_E_BADVARTYPE);
  v.vt = VT_BYREF | VT_NULL;
  EXPECT_HR(convert(v).hr, DISP_E_BADVARTYPE);

  // One VARIANT reference is followed, also to a value held by reference; a reference to
  // a VARIANT reference is not.
  inner.vt = VT_BYREF | VT_I4;
  inner.plVal = &number;
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = &inner;
  const ConvertResult followed = convert(v);
  EXPECT_HR(followed.hr, S_OK);
  EXPECT_EQ(followed.text, u"7");
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &v;
  EXPECT_HR(convert(outer).hr, E_INVALIDARG);
}

TEST_P(VariantChangeTypeTest, FailureLeavesTheDestinationUntouched) {
  VARIANT source;
  source.vt = VT_NULL;
  VARIANT dest;
  dest.vt = VT_I4;
  dest.lVal = static_cast<LONG>(0xDEADBEEF);
  EXPECT_HR(Api().changeType(&dest, &source, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(dest.lVal, static_cast<LONG>(0xDEADBEEF));

  // A destination that cannot be cleared is refused, and keeps what it held.
  source.vt = VT_I4;
  source.lVal = 12;
  dest.vt = 0x7F;
  EXPECT_HR(Api().changeType(&dest, &source, 0, VT_BSTR), DISP_E_BADVARTYPE);
  EXPECT_EQ(dest.vt, 0x7F);
}

TEST_P(VariantChangeTypeTest, ConvertsInPlace) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = 12;
  ASSERT_HR(Api().changeType(&v, &v, 0, VT_BSTR), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(std::u16string_view(platform::AsU16(v.bstrVal), Api().stringLen(v.bstrVal)), u"12");

  // Text converted onto itself: the old string is released only after it was copied.
  ASSERT_HR(Api().changeType(&v, &v, 0, VT_BSTR), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(std::u16string_view(platform::AsU16(v.bstrVal), Api().stringLen(v.bstrVal)), u"12");
  Api().clear(&v);
}

INSTANTIATE_TEST_SUITE_P(Apis, VariantChangeTypeTest,
                         ::testing::Values(&test::kSystemApi, &test::kPortableApi),
                         [](const auto& info) { return std::string(info.param->name); });

// Where the system's answer is an artefact, the stand-in gives the sound one. Under Wine
// the system writes 1 January of the next year for a time that rounds past 30 November,
// reads a NaN date as 30 December 1899, and misreads a DECIMAL scale above 28 (it reads
// past its buffer for large ones).
TEST(PortableVariantChangeTypeTest, SoundWhereTheSystemIsNot) {
  const Row rows[] = {
      {Date(45626.9999999), S_OK, u"12/1/2024 12:00:00 AM"sv},
      {Date(-30.9999999), S_OK, u"12/1/1899 12:00:00 AM"sv},
      {Date(std::numeric_limits<double>::quiet_NaN()), E_INVALIDARG, u""sv},
      {Dec(29, 0, 0, 1), E_INVALIDARG, u""sv},
      {Dec(255, 0, 0, 1), E_INVALIDARG, u""sv},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(Converts(test::kPortableApi, row, Passing::Direct));
    EXPECT_TRUE(Converts(test::kPortableApi, row, Passing::ByReference));
  }
}

TEST(PortableVariantChangeTypeTest, RefusesWhatItDoesNotImplement) {
  VARIANT source;
  source.vt = VT_I4;
  source.lVal = 1;
  VARIANT dest;
  portable::VariantInit(&dest);
  EXPECT_HR(portable::VariantChangeType(&dest, &source, 0, VT_I2), E_NOTIMPL);
  EXPECT_HR(portable::VariantChangeType(&dest, &source, 0x2 /* VARIANT_ALPHABOOL */, VT_BSTR), E_NOTIMPL);
  EXPECT_HR(portable::VariantChangeType(nullptr, &source, 0, VT_BSTR), E_INVALIDARG);
  EXPECT_HR(portable::VariantChangeType(&dest, nullptr, 0, VT_BSTR), E_INVALIDARG);
  EXPECT_EQ(dest.vt, VT_EMPTY);

  // A by-reference value whose pointer is null is refused, not read.
  source.vt = VT_BYREF | VT_I4;
  source.plVal = nullptr;
  EXPECT_HR(portable::VariantChangeType(&dest, &source, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  source.vt = VT_BYREF | VT_VARIANT;
  EXPECT_HR(portable::VariantChangeType(&dest, &source, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace iniplugin
