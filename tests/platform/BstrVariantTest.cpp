#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"
#include "platform/portable.h"
#include "support/Hresult.h"

namespace iniplugin {
namespace {

// The same expectations hold for the system's functions and for the portable stand-ins.
struct BstrApi {
  const char* name;
  BSTR (*alloc)(const OLECHAR*);
  BSTR (*allocLen)(const OLECHAR*, UINT);
  void (*free)(BSTR);
  UINT (*len)(BSTR);
  HRESULT (*createErrorInfo)(ICreateErrorInfo**);
  HRESULT (*setErrorInfo)(ULONG, IErrorInfo*);
  HRESULT (*getErrorInfo)(ULONG, IErrorInfo**);
};

class BstrTest : public ::testing::TestWithParam<BstrApi> {};

TEST_P(BstrTest, LengthPrefixAndTerminator) {
  const BstrApi& api = GetParam();
  const char16_t text[] = u"a\0b";
  BSTR s = api.allocLen(platform::AsWide(text), 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(api.len(s), 3u);
  EXPECT_EQ(s[3], 0);
  EXPECT_EQ(reinterpret_cast<const DWORD*>(s)[-1], 6u);  // byte count before the text
  api.free(s);

  BSTR plain = api.alloc(platform::AsWide(u"hello"));
  EXPECT_EQ(api.len(plain), 5u);
  api.free(plain);

  EXPECT_EQ(api.alloc(nullptr), nullptr);
  EXPECT_EQ(api.len(nullptr), 0u);
  api.free(nullptr);

  BSTR zeros = api.allocLen(nullptr, 2);  // room for two units, zero-filled here
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(api.len(zeros), 2u);
  EXPECT_EQ(zeros[2], 0);
  api.free(zeros);
}

// The thread's error object: made and filled, set, taken by the first read, per thread.
TEST_P(BstrTest, ErrorObjectIsTakenByItsFirstReadOnItsOwnThread) {
  const BstrApi& api = GetParam();
  const GUID guid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  platform::ComPtr<IErrorInfo> read;
  ASSERT_HR(api.getErrorInfo(0, read.Receive()), S_FALSE);
  EXPECT_FALSE(read);

  platform::ComPtr<ICreateErrorInfo> created;
  ASSERT_HR(api.createErrorInfo(created.Receive()), S_OK);
  std::u16string description = u"It failed.", source = u"Tests.Source";
  EXPECT_HR(created->SetGUID(guid), S_OK);
  EXPECT_HR(created->SetDescription(platform::AsWide(description.data())), S_OK);
  EXPECT_HR(created->SetSource(platform::AsWide(source.data())), S_OK);
  platform::ComPtr<IErrorInfo> info;
  ASSERT_HR(created.As(IID_IErrorInfo, &info), S_OK);
  ASSERT_HR(api.setErrorInfo(0, info.Get()), S_OK);

  // Another thread has none of it.
  HRESULT elsewhere = E_FAIL;
  std::thread([&] {
    IErrorInfo* other = nullptr;
    elsewhere = api.getErrorInfo(0, &other);
  }).join();
  EXPECT_HR(elsewhere, S_FALSE);

  ASSERT_HR(api.getErrorInfo(0, read.Receive()), S_OK);
  ASSERT_EQ(read.Get(), info.Get());
  BSTR text = nullptr;
  ASSERT_HR(read->GetDescription(&text), S_OK);
  EXPECT_EQ(platform::BstrView(text), description);
  api.free(text);
  ASSERT_HR(read->GetSource(&text), S_OK);
  EXPECT_EQ(platform::BstrView(text), source);
  api.free(text);
  GUID got{};
  EXPECT_HR(read->GetGUID(&got), S_OK);
  EXPECT_TRUE(IsEqualGUID(got, guid));
  ASSERT_HR(read->GetHelpFile(&text), S_OK);
  EXPECT_EQ(text, nullptr);
  EXPECT_HR(api.getErrorInfo(0, read.Receive()), S_FALSE);

  // Setting none clears what was set.
  ASSERT_HR(api.setErrorInfo(0, info.Get()), S_OK);
  ASSERT_HR(api.setErrorInfo(0, nullptr), S_OK);
  EXPECT_HR(api.getErrorInfo(0, read.Receive()), S_FALSE);
}

BSTR SystemAlloc(const OLECHAR* t) { return ::SysAllocString(t); }
BSTR SystemAllocLen(const OLECHAR* t, UINT n) { return ::SysAllocStringLen(t, n); }
void SystemFree(BSTR s) { ::SysFreeString(s); }
UINT SystemLen(BSTR s) { return ::SysStringLen(s); }
HRESULT SystemCreateErrorInfo(ICreateErrorInfo** created) { return ::CreateErrorInfo(created); }
HRESULT SystemSetErrorInfo(ULONG reserved, IErrorInfo* info) {
  return ::SetErrorInfo(reserved, info);
}
HRESULT SystemGetErrorInfo(ULONG reserved, IErrorInfo** info) {
  return ::GetErrorInfo(reserved, info);
}

INSTANTIATE_TEST_SUITE_P(
    Apis, BstrTest,
    ::testing::Values(BstrApi{"system", SystemAlloc, SystemAllocLen, SystemFree, SystemLen,
                              SystemCreateErrorInfo, SystemSetErrorInfo, SystemGetErrorInfo},
                      BstrApi{"portable", portable::SysAllocString, portable::SysAllocStringLen,
                              portable::SysFreeString, portable::SysStringLen,
                              portable::CreateErrorInfo, portable::SetErrorInfo,
                              portable::GetErrorInfo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortableVariantTest, CopyDuplicatesStringsAndClearFreesThem) {
  VARIANT a, b;
  portable::VariantInit(&a);
  portable::VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = portable::SysAllocString(platform::AsWide(u"text"));
  ASSERT_HR(portable::VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(b.vt, VT_BSTR);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(platform::BstrView(b.bstrVal), u"text");  // layout matches the system's
  EXPECT_HR(portable::VariantClear(&a), S_OK);
  EXPECT_EQ(a.vt, VT_EMPTY);
  EXPECT_HR(portable::VariantClear(&b), S_OK);

  VARIANT bad;
  portable::VariantInit(&bad);
  bad.vt = 0x7F;
  EXPECT_HR(portable::VariantCopy(&b, &bad), DISP_E_BADVARTYPE);
  EXPECT_HR(portable::VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(PortableVariantTest, SystemAgreesOnBadTypes) {
  VARIANT bad, out;
  ::VariantInit(&bad);
  ::VariantInit(&out);
  bad.vt = 0x7F;
  EXPECT_EQ(::VariantCopy(&out, &bad), portable::VariantCopy(&out, &bad));
}

TEST(OwnersTest, UniqueBstrReceiveFreesTheOldText) {
  platform::UniqueBstr owner = platform::UniqueBstr::FromText(u"first");
  BSTR* slot = owner.Receive();
  EXPECT_EQ(*slot, nullptr);
  *slot = ::SysAllocString(platform::AsWide(u"second"));
  EXPECT_EQ(owner.View(), u"second");
  BSTR released = owner.Release();
  EXPECT_EQ(owner.Get(), nullptr);
  ::SysFreeString(released);
}

}  // namespace
}  // namespace iniplugin
