#include "automation/server_lifetime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zimo::automation {
namespace {

using namespace std::chrono_literals;

// The monitor runs on a fake clock. It sleeps on the clock only during a
// quiet time (the wait without limit needs no clock), so "a quiet time has
// begun" is read from the clock's sleepers and nothing depends on real time.
class ServerLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override { life_.Start(); }
  // Waits (in real time, generously) until a quiet time has begun.
  void QuietTimeBegun() { ASSERT_TRUE(clock_.WaitForPendingSleepers(1, 10s)); }
  bool Quits() {
    for (int i = 0; i < 5000 && quits_ == 0; ++i) std::this_thread::sleep_for(2ms);
    return quits_ == 1;
  }

  platform::FakeClock clock_;
  std::atomic<int> quits_{0};
  ServerLifetime life_{[this] { ++quits_; }, 5000ms, clock_};
};

TEST_F(ServerLifetimeTest, EndsAQuietTimeAfterTheLastReleaseAndEveryReleaseRestartsIt) {
  life_.Lock();
  EXPECT_EQ(life_.Unlock(), 0);
  QuietTimeBegun();
  clock_.Advance(4000ms);
  // Another client comes and goes within the quiet time.
  life_.Lock();
  life_.Unlock();
  clock_.Advance(1500ms);  // 5500 ms after the first release, 1500 after the second
  QuietTimeBegun();        // a quiet time whose end is still ahead: the new one
  EXPECT_EQ(quits_, 0);
  clock_.Advance(5000ms);
  EXPECT_TRUE(Quits());
}

TEST_F(ServerLifetimeTest, AClientStillHoldingAnObjectKeepsTheServer) {
  life_.Lock();
  life_.Unlock();
  QuietTimeBegun();
  life_.Lock();  // a new client arrives during the quiet time and stays
  clock_.Advance(6000ms);
  life_.Unlock();
  // Only a monitor that went back to waiting (and did not end the server)
  // begins another quiet time.
  QuietTimeBegun();
  EXPECT_EQ(quits_, 0);
  clock_.Advance(5000ms);
  EXPECT_TRUE(Quits());
}

TEST_F(ServerLifetimeTest, AServerNobodyUsedRunsOn) {
  // Without a release to 0 the monitor never even looks at the clock.
  clock_.Advance(3h);
  life_.Lock();
  life_.Unlock();
  QuietTimeBegun();
  EXPECT_EQ(quits_, 0);
}

}  // namespace
}  // namespace zimo::automation
