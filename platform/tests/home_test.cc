#include "platform/home.h"

#include <gtest/gtest.h>

#include "temp_home.h"

namespace zimo::platform {
namespace {

TEST(HomeTest, FoldersLiveUnderTheHome) {
  testing::TempHome home;
  EXPECT_EQ(ZimoHome(), home.path());
  EXPECT_EQ(RegistryFile(), home.path() / "registry.reg");
  EXPECT_TRUE(std::filesystem::is_directory(SystemDir()));
  EXPECT_EQ(SystemDir(), home.path() / "windows" / "system");
  EXPECT_TRUE(std::filesystem::is_directory(RunDir()));
}

TEST(HomeTest, ObjectNamesDifferBetweenHomesAndAreValidPosixNames) {
  std::string a, b;
  {
    testing::TempHome home;
    a = ObjectName("mutex", "MutexZimo0");
  }
  {
    testing::TempHome home;
    b = ObjectName("mutex", "MutexZimo0");
    EXPECT_EQ(ObjectName("mutex", "MutexZimo0"), b);
    std::string odd = ObjectName("event", "Global\\a/b");
    EXPECT_EQ(odd.find('/', 1), std::string::npos);
    EXPECT_EQ(odd.find('\\'), std::string::npos);
  }
  EXPECT_NE(a, b);
  EXPECT_EQ(a.front(), '/');
}

}  // namespace
}  // namespace zimo::platform
