#include "automation/activation.h"

#include <gtest/gtest.h>

#include "automation/registration.h"
#include "temp_home.h"

namespace zimo::automation {
namespace {

using namespace std::chrono_literals;

constexpr ClassRegistration kClass[] = {
    {MakeGuid(0x5A1D0002, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}), "Nowhere Class", "Test.Nowhere.1",
     "Test.Nowhere"}};

ServerRegistration Server() {
  return {MakeGuid(0x5A1D0002, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}),
          "Nowhere", "Nowhere.EXE",
          MakeGuid(0x5A1D0002, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}), "1.0", "", kClass};
}

TEST(ActivationTest, AServerThatCannotStartOrNeverRegistersIsReported) {
  zimo::testing::TempHome home;
  std::shared_ptr<Dispatch> object;
  // Registered, but the program is not there.
  ASSERT_TRUE(RegisterServer(Server(), (home.path() / "no-such-server").string()).ok());
  EXPECT_EQ(CreateInstance("Test.Nowhere", &object, {2s}), CO_E_SERVER_EXEC_FAILURE);
  // A program that runs but never registers its class object.
  ASSERT_TRUE(RegisterServer(Server(), "/bin/true").ok());
  EXPECT_EQ(CreateInstance(kClass[0].clsid, &object, {300ms}), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(object, nullptr);
  // Not registered at all.
  ASSERT_TRUE(UnregisterServer(Server()).ok());
  EXPECT_EQ(CreateInstance(kClass[0].clsid, &object, {1s}), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CreateInstance("{not a class id}", &object), CO_E_CLASSSTRING);
}

}  // namespace
}  // namespace zimo::automation
