// In-process activation's failures (the success path is exercised with a
// real control library in the controls' tests).
#include "automation/inproc.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::automation {
namespace {

constexpr Guid kClsid = MakeGuid(0x1A2B3C4D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});

TEST(InprocTest, ClassesWithoutALoadableLibraryAreRefused) {
  zimo::testing::TempHome home;
  std::shared_ptr<Dispatch> object;
  EXPECT_EQ(CreateInprocInstance("Nobody.Class.1", &object), CO_E_CLASSSTRING);
  EXPECT_EQ(CreateInprocInstance(kClsid, &object), REGDB_E_CLASSNOTREG);

  InprocClassRegistration c{.clsid = kClsid,
                            .description = "Gone",
                            .prog_id = "Gone.Class.1",
                            .version_independent_prog_id = "Gone.Class"};
  ASSERT_TRUE(RegisterInprocClass(c, (home.path() / "libgone.so").string()).ok());
  EXPECT_EQ(CreateInprocInstance("Gone.Class", &object), CO_E_DLLNOTFOUND);
  EXPECT_EQ(object, nullptr);
  ASSERT_TRUE(UnregisterInprocClass(c).ok());
  EXPECT_FALSE(platform::RegistryKey::Exists(platform::kHkeyClassesRoot, "Gone.Class"));
  EXPECT_EQ(CreateInprocInstance(kClsid, &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace zimo::automation
