#include "automation/Variant.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using automation::Variant;
using automation::VariantArray;

TEST(Variant, HoldsEachKindWithItsType) {
  EXPECT_EQ(Variant().type(), Variant::Type::Empty);
  EXPECT_EQ(Variant(true).type(), Variant::Type::Boolean);
  EXPECT_EQ(Variant(std::int32_t{7}).type(), Variant::Type::Int32);
  EXPECT_EQ(Variant(std::uint8_t{7}).type(), Variant::Type::Byte);
  EXPECT_EQ(Variant(7.5).type(), Variant::Type::Double);
  EXPECT_EQ(Variant("x").type(), Variant::Type::String);
  EXPECT_EQ(Variant(VariantArray{1, "a"}).type(), Variant::Type::Array);
  // No object behind a null reference: it is the empty variant.
  EXPECT_TRUE(Variant(automation::ObjectRef()).IsEmpty());
}

TEST(Variant, NumbersConvertAmongEachOtherButNotFromText) {
  EXPECT_EQ(Variant(2.6).AsInt(), 3);
  EXPECT_EQ(Variant(-2.5).AsInt(), -3);
  EXPECT_EQ(Variant(std::uint8_t{200}).AsInt(), 200);
  EXPECT_EQ(Variant(true).AsInt(), 1);
  EXPECT_DOUBLE_EQ(Variant(std::int32_t{-4}).AsDouble(), -4.0);
  EXPECT_EQ(Variant(std::int32_t{255}).AsByte(), 255);
  EXPECT_THROW(Variant(std::int32_t{256}).AsByte(), automation::Error);
  EXPECT_THROW(Variant(std::int32_t{-1}).AsByte(), automation::Error);
  EXPECT_THROW(Variant(3e10).AsInt(), automation::Error);
  EXPECT_THROW(Variant(std::numeric_limits<double>::quiet_NaN()).AsInt(), automation::Error);
  EXPECT_THROW(Variant("5").AsInt(), automation::Error);
  EXPECT_THROW(Variant(5).AsString(), automation::Error);
  EXPECT_THROW(Variant().AsArray(), automation::Error);
}

TEST(Variant, LateBoundCallsNeedAnObject) {
  EXPECT_THROW(Variant().Call("GetSheets"), automation::Error);
  EXPECT_THROW(Variant("text").Get("Name"), automation::Error);
  EXPECT_THROW(Variant(1).Set("Name", "x"), automation::Error);
}

TEST(Variant, TextKeepsEveryCharacter) {
  const std::string text = "Grüße – 中文 😀";
  EXPECT_EQ(Variant(text).AsString(), text);
}

TEST(Variant, ComparesStructurallyAndDescribesItself) {
  EXPECT_EQ(Variant(VariantArray{1, "a", VariantArray{}}),
            Variant(VariantArray{1, "a", VariantArray{}}));
  EXPECT_NE(Variant(std::int32_t{1}), Variant(1.0));  // the kind is part of the value
  EXPECT_NE(Variant(std::uint8_t{0}), Variant(std::int32_t{0}));
  EXPECT_EQ(
      Variant(VariantArray{std::int32_t{5}, "x", std::uint8_t{0}, true, Variant()}).Describe(),
      "[5, \"x\", 0b, true, <empty>]");
}

}  // namespace
