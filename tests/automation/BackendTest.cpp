#include "automation/Backend.hpp"

#include <gtest/gtest.h>

#include "office/uOpenOffice.hpp"

namespace {

TEST(Backend, MissingModuleGivesAFactoryThatExplainsItself) {
  auto factory = automation::LoadBackendModule("/nonexistent/libtabloom-uno.so");
  ASSERT_NE(factory, nullptr);
  try {
    factory->CreateObject("com.sun.star.ServiceManager");
    FAIL() << "no error raised";
  } catch (const automation::Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot be loaded"), std::string::npos) << e.what();
  }
}

TEST(Backend, WithoutTheModuleTheOfficeLayerIsSimplyNotConnected) {
  auto factory = automation::LoadBackendModule("/nonexistent/libtabloom-uno.so");
  office::TOOCalc calc(*factory);
  EXPECT_NO_THROW(calc.Connect(true));
  EXPECT_FALSE(calc.IsConnected());
  EXPECT_TRUE(calc.ServiceManager.IsEmpty());
}

}  // namespace
