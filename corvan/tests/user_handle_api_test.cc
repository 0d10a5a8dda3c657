#include "corvan/user_handle_api.h"

#include <gtest/gtest.h>

#include <set>

#include "link/library_app.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

TEST(UserHandleApi, EverySlotHasItsOwnRecordAndNoneBeyond) {
  zimo::testing::TempHome home;
  std::set<DeviceUserHandle*> seen;
  for (std::uint32_t device = 0; device <= 8; ++device) {
    DeviceUserHandle* user = ZimoGetUserHandle(device);
    ASSERT_NE(user, nullptr) << device;
    seen.insert(user);
  }
  EXPECT_EQ(seen.size(), 9u);
  EXPECT_EQ(ZimoGetUserHandle(9), nullptr);
  EXPECT_EQ(ZimoGetUserHandle(0xFFFFFFFF), nullptr);

  // Library start reset the real slots; the offline slot keeps zero bytes.
  EXPECT_EQ(ZimoGetUserHandle(5)->Interrupts.NotifyDevice, 5u);
  EXPECT_EQ(ZimoGetUserHandle(8)->Interrupts.NotifyDevice, 0u);
}

TEST(UserHandleApi, SetWindowKeepsTheHandleInThatDevicesRecordOnly) {
  zimo::testing::TempHome home;
  ZimoSetWindow(3, 77);
  EXPECT_EQ(ZimoGetUserHandle(3)->WindowHandle, 77u);
  EXPECT_EQ(ZimoGetUserHandle(2)->WindowHandle, 0u);
  EXPECT_EQ(ZimoGetUserHandle(4)->WindowHandle, 0u);
  ZimoSetWindow(9, 1);  // no record: nothing written anywhere
  ZimoSetWindow(0xFFFFFFFF, 1);
  for (std::uint32_t device = 0; device <= 8; ++device) {
    EXPECT_EQ(ZimoGetUserHandle(device)->WindowHandle, device == 3 ? 77u : 0u) << device;
  }
}

}  // namespace
}  // namespace zimo::corvan
