// The in-memory office must behave like the real one where the layers above rely on it.
#include "support/FakeOffice.hpp"

#include <gtest/gtest.h>

namespace {

using automation::Variant;
using automation::VariantArray;

class FakeOfficeTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Workbook book = fake::Workbook::WithSheets({"One", "Two"});
    book[0].At(0, 0).number = 5;
    book[0].At(1, 0).text = "x";
    office.files["file:///t/book.ods"] = book;
    desktop = Variant(office.CreateObject("com.sun.star.ServiceManager"))
                  .Call("createInstance", "com.sun.star.frame.Desktop");
  }

  Variant Load(const std::string& url) {
    return desktop.Call("loadComponentFromURL", url, "_blank", std::int32_t{0}, VariantArray{});
  }

  fake::FakeOffice office;
  Variant desktop;
};

TEST_F(FakeOfficeTest, NamesIgnoreLetterCaseAndUnknownNamesAreRefusedUnrecorded) {
  const Variant doc = Load("file:///t/book.ods");
  EXPECT_EQ(doc.Call("GetSheets").Call("GETCOUNT").AsInt(), 2);
  office.ClearCalls();
  EXPECT_THROW(doc.Call("GetSheetz"), automation::UnknownMemberError);
  EXPECT_THROW(doc.Get("GetSheets"), automation::UnknownMemberError);  // a method, not a property
  EXPECT_TRUE(office.calls.empty());
}

TEST_F(FakeOfficeTest, RecordsCallsAndFailsOnRequest) {
  const Variant doc = Load("file:///t/book.ods");
  office.ClearCalls();
  office.FailOn("getsheets");
  EXPECT_THROW(doc.Call("GetSheets"), automation::Error);
  EXPECT_NO_THROW(doc.Call("GetSheets"));
  ASSERT_EQ(office.calls.size(), 2u);
  EXPECT_EQ(office.calls[0].object, "Document");
  EXPECT_EQ(office.calls[0].member, "GetSheets");
}

TEST_F(FakeOfficeTest, StoredFilesAreIndependentOfTheirDocument) {
  const Variant doc = Load("file:///t/book.ods");
  auto sm = Variant(office.CreateObject("com.sun.star.ServiceManager"));
  Variant filter = sm.Call("Bridge_GetStruct", "com.sun.star.beans.PropertyValue");
  filter.Set("Name", "FilterName");
  filter.Set("Value", "calc8");
  doc.Call("storeAsURL", "file:///t/copy.ods", VariantArray{filter});
  doc.Call("getSheets")
      .Call("getByIndex", std::int32_t{0})
      .Call("getCellByPosition", 0, 0)
      .Call("setString", "changed");
  EXPECT_EQ(office.files["file:///t/copy.ods"][0].At(0, 0).number, 5);
  EXPECT_THROW(Load("file:///t/missing.ods"), automation::Error);
}

TEST_F(FakeOfficeTest, DataArrayGivesNumbersTextsAndEmptyStrings) {
  const Variant sheet = Load("file:///t/book.ods").Call("getSheets").Call("getByIndex", 0);
  const Variant rows = sheet.Call("getCellRangeByPosition", 0, 0, 2, 0).Call("getDataArray");
  EXPECT_EQ(rows, Variant(VariantArray{VariantArray{5.0, "x", ""}}));
}

}  // namespace
