// The real-time gather family on an Ethernet card with DPR: the address
// list in the shared record, a collection without a result array, and one
// through a variable background user that the caller registered.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "corvan/dpr_api.h"
#include "corvan/gather_api.h"
#include "corvan/varbuf_api.h"
#include "gather_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::GatherLink;
using testing::GatherRig;

class RtGatherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Open());
    ASSERT_EQ(App().User(0)->DprAvailable, 1u);
  }
  std::vector<std::uint32_t> Addresses() {
    const SharedDeviceBlock& b = rig_.block();
    return std::vector<std::uint32_t>(b.RtGatherAddress, b.RtGatherAddress + 3);
  }

  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{{GatherLink::kUdp, false}};
};

TEST_F(RtGatherTest, AddressesCountToThreeAndCollectNeedsAnArray) {
  EXPECT_EQ(ZimoInitRTGather(0), 0);
  for (std::uint32_t a : {0x100u, 0x101u, 0x102u, 0x103u}) EXPECT_EQ(ZimoAddRTGather(0, a), 0);
  EXPECT_EQ(rig_.block().RtGatherCount, 3u);
  EXPECT_EQ(Addresses(), (std::vector<std::uint32_t>{0x100, 0x101, 0x102}));
  // Nothing in this process made a result array: no array, nothing written.
  ASSERT_TRUE(App().User(0)->Gather.RtGatherResult.empty());
  EXPECT_EQ(ZimoCollectRTGatherData(0), 0u);
  ZimoClearRTGather(0);
  EXPECT_EQ(rig_.block().RtGatherCount, 0u);
  EXPECT_EQ(Addresses(), (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST_F(RtGatherTest, CollectReadsTheUsersEntriesAndClearRemovesIt) {
  rig_.Command("WY$100,-5");
  rig_.Command("WY$101,$123");
  std::uint32_t words[2] = {0x100, 0x101};
  const std::int32_t handle = ZimoDPRVarBufInit(0, 2, words);
  ASSERT_GT(handle, 0);
  rig_.block().RtGatherHandle = static_cast<std::uint32_t>(handle);
  rig_.block().RtGatherCount = 2;
  std::vector<double>& result = App().User(0)->Gather.RtGatherResult;
  result.assign(3, 99.0);
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  rig_.Servo(1);
  ASSERT_EQ(ZimoCollectRTGatherData(0), reinterpret_cast<uintptr_t>(result.data()));
  EXPECT_EQ(result, (std::vector<double>{-5, 0x123, 99}));
  // Read since: no fresh data within the tries gives 0.0.
  ASSERT_EQ(ZimoCollectRTGatherData(0), reinterpret_cast<uintptr_t>(result.data()));
  EXPECT_EQ(result, (std::vector<double>{0, 0, 99}));
  ZimoClearRTGather(0);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, handle), 0u);  // the user is gone
  result.clear();
}

}  // namespace
}  // namespace zimo::corvan
