// GetValues in both profile modes. Each test runs on an ANSI file, which every mode reads
// through the profile functions, and on a UTF-16 file, which profile mode 1 reads from the
// navigator's own document; where the two sources answer differently the test says so.
#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "support/FileForms.h"
#include "support/RecordArray.h"
#include "support/Hresult.h"

namespace iniplugin::test {
namespace {

class GetValuesTest : public PluginTest {
 protected:
  ComPtr<IOrvFileNavigator> OpenWith(Form form, std::u16string_view text) {
    const std::string name = form == Form::Ansi ? "ansi.ini" : "utf16.ini";
    return Open(WriteFile(name, Encode(form, text)));
  }

  // Whether reads of a file in this form come from the document rather than the profile
  // functions.
  bool FromDocument(Form form) const { return Mode() == 1 && form == Form::Utf16; }

  static HRESULT Get(IOrvFileNavigator* navigator, LONG firstMatch, RecordArray& records) {
    return navigator->GetValues(0, firstMatch, 0, records.Count(), records.Data());
  }
};

// The two forms whose reads the profile modes serve differently.
constexpr Form kReadForms[] = {Form::Ansi, Form::Utf16};

std::u16string KeyFor(std::size_t length) {
  std::u16string key = u"k";
  for (char c : std::to_string(length)) key.push_back(static_cast<char16_t>(c));
  return key;
}

TEST_P(GetValuesTest, FirstMatchStopsAfterTheFirstRecordWithAValue) {
  struct Row {
    LONG firstMatch;
    LONG handled[3];
  };
  for (Form form : kReadForms) {
    for (const Row& row : {Row{1, {0, 1, RecordArray::kUntouched}}, Row{0, {0, 1, 1}},
                           Row{-1, {0, 1, RecordArray::kUntouched}}}) {
      SCOPED_TRACE(FormName(form) + ", first-match flag " + std::to_string(row.firstMatch));
      ComPtr<IOrvFileNavigator> navigator =
          OpenWith(form, u"[S]\r\none=1\r\nother=two\r\n");
      RecordArray records;
      records.Add(u"S", u"missing");
      // A host may hand a record back with the text an earlier call put there: the read
      // replaces it, and the old text must be freed, not leaked.
      OrvVariableRecord& reused = records.Add(u"S", u"one");
      reused.value.vt = VT_BSTR;
      reused.value.bstrVal = Bstr(u"earlier").Release();
      records.Add(u"S", u"other");
      ASSERT_HR(Get(navigator.Get(), row.firstMatch, records), S_OK);
      for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].handled, row.handled[i]) << i;
      EXPECT_EQ(records[0].value.vt, VT_EMPTY);
      EXPECT_EQ(records.Text(1), u"1");
      EXPECT_EQ(records.Text(2), row.firstMatch ? u"<vt 0>" : u"two");
      EXPECT_EQ(records[2].reserved, 0x77);
    }
  }
}

TEST_P(GetValuesTest, EmptyValueIsReportedLikeAMissingKey) {
  for (Form form : kReadForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, u"[S]\r\nempty=\r\n");
    RecordArray records;
    for (const char16_t* key : {u"empty", u"missing"}) {
      OrvVariableRecord& record = records.Add(u"S", key);
      record.value.vt = VT_I4;
      record.value.lVal = 42;
    }
    records.Add(u"Missing section", u"empty");
    ASSERT_HR(Get(navigator.Get(), 0, records), S_OK);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(records[i].handled, 0) << i;
      if (i < 2) {
        EXPECT_EQ(records[i].value.lVal, 42) << "the value was touched";
      }
    }
  }
}

TEST_P(GetValuesTest, ValuesComeBackWholeHoweverLong) {
  // Around the first buffer of 256, around 4096 (where a fixed buffer would cut), and beyond.
  const std::size_t lengths[] = {253, 254, 255, 256, 257, 4094, 4095, 4096, 5000, 70000};
  for (Form form : kReadForms) {
    SCOPED_TRACE(FormName(form));
    std::u16string text = u"[S]\r\n";
    for (std::size_t length : lengths) {
      text += KeyFor(length) + u"=" + std::u16string(length - 1, u'x') + u"y\r\n";
    }
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, text);
    RecordArray records;
    for (std::size_t length : lengths) records.Add(u"S", KeyFor(length).c_str());
    ASSERT_HR(Get(navigator.Get(), 0, records), S_OK);
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
      const std::u16string text = records.Text(i);
      EXPECT_EQ(text.size(), lengths[i]);
      EXPECT_TRUE(text == std::u16string(lengths[i] - 1, u'x') + u"y") << lengths[i];
    }
  }
}

TEST_P(GetValuesTest, NullArrayIsRefusedWhateverTheCount) {
  ComPtr<IOrvFileNavigator> navigator = OpenWith(Form::Ansi, u"[S]\r\nk=1\r\n");
  for (LONG count : {0, 3, -1}) {
    EXPECT_HR(navigator->GetValues(0, 0, 0, count, nullptr), E_POINTER) << count;
  }
  RecordArray records;
  records.Add(u"S", u"k");
  for (LONG count : {0, -5}) {
    EXPECT_HR(navigator->GetValues(0, 0, 0, count, records.Data()), S_OK) << count;
    EXPECT_EQ(records[0].handled, RecordArray::kUntouched);
  }
}

TEST_P(GetValuesTest, NullNames) {
  // "[]" is a section with the empty name; "=…" is an entry with the empty name to the
  // profile functions and a raw line to the document.
  const std::u16string text =
      u"[]\r\nk=unnamed section\r\n[First]\r\n=unnamed key\r\nalpha=1\r\n[Second]\r\ngamma=3\r\n";
  struct Row {
    const char16_t* section;
    const char16_t* key;
    const char16_t* platform;  // nullptr: not handled
    const char16_t* document;
  };
  const Row rows[] = {
      // The platform lists sections with a non-empty name, so the first is "First".
      {nullptr, u"k", u"First", u"unnamed section"},
      {nullptr, nullptr, u"First", nullptr},
      // A key list that starts with an empty name reads as no list at all.
      {u"First", nullptr, nullptr, nullptr},
      {u"Second", nullptr, u"gamma", nullptr},
  };
  for (Form form : kReadForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator = OpenWith(form, text);
    RecordArray records;
    for (const Row& row : rows) records.Add(row.section, row.key);
    ASSERT_HR(Get(navigator.Get(), 0, records), S_OK);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
      const char16_t* expected = FromDocument(form) ? rows[i].document : rows[i].platform;
      EXPECT_EQ(records[i].handled, expected ? 1 : 0) << "row " << i;
      if (expected) {
        EXPECT_EQ(records.Text(i), expected) << "row " << i;
      }
    }
  }
}

TEST_P(GetValuesTest, NamesMatchWithoutCaseAndTextStaysText) {
  for (Form form : kReadForms) {
    SCOPED_TRACE(FormName(form));
    ComPtr<IOrvFileNavigator> navigator =
        OpenWith(form, u"[Sec]\r\nKey= 042 \r\nq=\"quoted\"\r\n");
    RecordArray records;
    records.Add(u"sEC", u"kEY");
    records.Add(u"SEC", u"Q");
    ASSERT_HR(Get(navigator.Get(), 0, records), S_OK);
    // The document hands out the text after "=" as the file holds it; the profile
    // functions trim it and take off the quotes.
    EXPECT_EQ(records.Text(0), FromDocument(form) ? u" 042 " : u"042");
    EXPECT_EQ(records.Text(1), FromDocument(form) ? u"\"quoted\"" : u"quoted");
  }
}

TEST_P(GetValuesTest, DocumentShowsTheFileAsLoadedPlatformAsItIsNow) {
  const std::u16string path = WriteFile("a.ini", "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=old\r\n"));
  ComPtr<IOrvFileNavigator> navigator = Open(path);
  WriteFile("a.ini", "\xFF\xFE" + Utf16Bytes(u"[S]\r\nk=new\r\n"));
  RecordArray records;
  records.Add(u"S", u"k");
  ASSERT_HR(Get(navigator.Get(), 0, records), S_OK);
  EXPECT_EQ(records.Text(0), Mode() == 1 ? u"old" : u"new");
}

INSTANTIATE_TEST_SUITE_P(Modes, GetValuesTest, ::testing::Values(0, 1), ModeName);

}  // namespace
}  // namespace iniplugin::test
