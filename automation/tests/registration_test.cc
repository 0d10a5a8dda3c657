#include "automation/registration.h"

#include <gtest/gtest.h>

#include "automation/activation.h"
#include "platform/registry.h"
#include "temp_home.h"

namespace zimo::automation {
namespace {

using platform::kHkeyClassesRoot;
using platform::RegistryKey;

constexpr ClassRegistration kClasses[] = {
    {MakeGuid(0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}), "One Class", "Test.One.1", "Test.One",
     true, 101},
    {MakeGuid(0x22222222, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}), "Two Class", "Test.Two.1", "Test.Two"},
};
constexpr ServerRegistration kServer{MakeGuid(0x33333333, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}),
                                     "TestServer",
                                     "TestServer.EXE",
                                     MakeGuid(0x44444444, 4, 4, {4, 4, 4, 4, 4, 4, 4, 4}),
                                     "1.0",
                                     "TestServer 1.0 Type Library",
                                     kClasses};

std::string Default(const std::string& path) {
  auto key = RegistryKey::Open(kHkeyClassesRoot, path);
  if (!key.ok()) return "<missing " + path + ">";
  auto v = key->GetString("");
  return v.ok() ? *v : "<no default " + path + ">";
}

TEST(RegistrationTest, RegistersWhatActivationReadsAndRemovesItAgain) {
  zimo::testing::TempHome home;
  ASSERT_TRUE(RegisterServer(kServer, "/opt/zimo dir/bin/server").ok());
  const std::string one = "CLSID\\{11111111-0001-0001-0101-010101010101}";
  EXPECT_EQ(Default(one + "\\LocalServer32"), "\"/opt/zimo dir/bin/server\"");
  EXPECT_EQ(Default(one + "\\ToolboxBitmap32"), "/opt/zimo dir/bin/server, 101");
  EXPECT_EQ(Default("Test.One\\CurVer"), "Test.One.1");
  EXPECT_FALSE(RegistryKey::Exists(kHkeyClassesRoot,
                                   "CLSID\\{22222222-0002-0002-0202-020202020202}\\Control"));
  Guid clsid;
  ASSERT_EQ(ClsidFromProgId("Test.One", &clsid), S_OK);  // through CurVer
  EXPECT_EQ(clsid, kClasses[0].clsid);
  ASSERT_EQ(ClsidFromProgId("Test.Two.1", &clsid), S_OK);
  EXPECT_EQ(clsid, kClasses[1].clsid);

  // A key someone else keeps under CLSID survives.
  ASSERT_TRUE(RegistryKey::Create(kHkeyClassesRoot, "CLSID\\{other}").ok());
  ASSERT_TRUE(UnregisterServer(kServer).ok());
  for (const char* gone : {"Test.One", "Test.One.1", "Test.Two", "Test.Two.1",
                           "CLSID\\{11111111-0001-0001-0101-010101010101}",
                           "AppID\\{33333333-0003-0003-0303-030303030303}",
                           "AppID\\TestServer.EXE", "TypeLib\\{44444444-0004-0004-0404-040404040404}"}) {
    EXPECT_FALSE(RegistryKey::Exists(kHkeyClassesRoot, gone)) << gone;
  }
  EXPECT_TRUE(RegistryKey::Exists(kHkeyClassesRoot, "CLSID\\{other}"));
  EXPECT_EQ(ClsidFromProgId("Test.One", &clsid), CO_E_CLASSSTRING);
  EXPECT_TRUE(UnregisterServer(kServer).ok());  // nothing left to remove is no error
}

}  // namespace
}  // namespace zimo::automation
