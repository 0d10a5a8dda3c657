// Readers of the fixed buffers' host copies: each reader against copies laid
// out by hand from the buffers' layouts, both card generations, the motion
// and program state decodings, and numbers outside the card's range.
#include "corvan/status_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

class StatusReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<SharedDeviceTable>();
    InitializeTableHeader(*table_, 0);
    CommLibraryApp::UseServerTable(table_.get());
    ASSERT_EQ(RegisterDevice(0, kLocationPci, 0, table_.get()), 1);
    App().User(0)->DprAvailable = 1;
    for (int m = 0; m < kMaxMotors; ++m) {
      block().MotorPositionFactor[m] = 2;
      block().MotorVelocityFactor[m] = 1;
    }
  }
  void TearDown() override {
    App().User(0)->DprAvailable = 0;
    App().End();
  }
  SharedDeviceBlock& block() { return table_->Devices[0]; }
  void Spran() { block().SpranFlag = 1; }
  std::uint8_t* Rt() {
    return block().SpranFlag ? block().SpranRealTimeCopy : block().RealTimeCopy;
  }
  std::uint8_t* Bg() {
    return block().SpranFlag ? block().SpranBackgroundCopy : block().BackgroundCopy;
  }
  static void Put(std::uint8_t* copy, std::size_t at, std::uint32_t v) {
    std::memcpy(copy + at, &v, 4);
  }
  static void Put16(std::uint8_t* copy, std::size_t at, std::uint16_t v) {
    std::memcpy(copy + at, &v, 2);
  }
  // A 48-bit word in DPR form.
  static void Put48(std::uint8_t* copy, std::size_t at, std::uint32_t lower, std::uint32_t upper) {
    Put(copy, at, lower);
    Put(copy, at + 4, upper);
  }

  zimo::testing::TempHome home_;
  std::unique_ptr<SharedDeviceTable> table_;
};

TEST_F(StatusReadersTest, OlderMotorRecordsAndTheirBackgroundHalf) {
  const std::size_t r = 36 + 60;  // motor 1
  Put48(Rt(), r + 0, 1000, 0);    // commanded
  Put48(Rt(), r + 8, 990, 0);     // actual
  Put48(Rt(), r + 16, 4, 0);      // master
  Put48(Rt(), r + 24, 1, 0);      // compensation
  Put(Rt(), r + 32, static_cast<std::uint32_t>(-250));
  Put(Rt(), r + 36, 0x902000);  // activated, handwheel, velocity zero
  Put(Rt(), r + 40, 30);
  Put(Rt(), r + 44, 100);
  const std::size_t b = 36 + 124;
  Put48(Bg(), b + 0, 2000, 0);               // target
  Put48(Bg(), b + 8, 0x000010, 0xFFFFFFFF);  // bias: -16777200
  Put(Bg(), b + 16, 0xA04C01);               // in position, home, amplifier, in system 3
  Put(Bg(), b + 120, 12);
  EXPECT_EQ(ZimoDPRGetCommandedPos(0, 1, 4), 500.0);
  EXPECT_EQ(ZimoDPRPosition(0, 1, 2), 990.0);
  EXPECT_EQ(ZimoDPRNetActualPosition(0, 1, 1), 0.0);
  EXPECT_EQ(ZimoDPRFollowError(0, 1, 1), (990.0 + 1 - 4 - 1000) * 2);
  double out = -1;
  ZimoDPRGetMasterPos(0, 1, 1, &out);
  EXPECT_EQ(out, 8.0);
  ZimoDPRGetCompensationPos(0, 1, 1, &out);
  EXPECT_EQ(out, 2.0);
  EXPECT_EQ(ZimoDPRGetTargetPos(0, 1, 1), 4000.0);
  EXPECT_EQ(ZimoDPRGetBiasPos(0, 1, 1), -16777200.0 * 2);
  EXPECT_EQ(ZimoDPRGetVel(0, 1, 3), 10.0);
  EXPECT_EQ(ZimoDPRVelocity(0, 1, 4), 3.0);  // background word
  EXPECT_EQ(ZimoDPRGetPrevDAC(0, 1), -250);
  EXPECT_EQ(ZimoDPRGetMoveTime(0, 1), 200);
  EXPECT_EQ(ZimoDPRMotorServoStatus(0, 1), 0x902000u);
  EXPECT_EQ(ZimoDPRHandwheelEnabled(0, 1), 1);
  EXPECT_EQ(ZimoDPRAmpEnabled(0, 1), 1);
  EXPECT_EQ(ZimoDPRHomeComplete(0, 1), 1);
  EXPECT_EQ(ZimoDPRIsAssignedCoord(0, 1, 0), 1);
  EXPECT_EQ(ZimoDPRGetAssignedCoord(0, 1, 0), 3);
  EXPECT_EQ(ZimoDPRGetMotorMotion(0, 1), 4);
  // A zero scale: 0, and 0 into the out doubles.
  EXPECT_EQ(ZimoDPRPosition(0, 1, 0), 0.0);
  ZimoDPRGetMasterPos(0, 1, 0, &out);
  EXPECT_EQ(out, 0.0);
  // H and S readings of an upper dword 0x00FFFFFF differ.
  Put48(Rt(), r + 0, 0, 0x00FFFFFF);
  Put48(Rt(), r + 8, 0, 0x00FFFFFF);
  EXPECT_EQ(ZimoDPRGetCommandedPos(0, 1, 2), -16777216.0);
  EXPECT_EQ(ZimoDPRPosition(0, 1, 2), 16777215.0 * 16777216.0);
}

TEST_F(StatusReadersTest, SpranCommandedPositionIsBuiltFromItsParts) {
  Spran();
  const std::size_t r = 12 + 48 * 2;  // motor 2
  Put48(Rt(), r + 0, 5, 0);           // following error
  Put(Rt(), r + 12, 0x880060);        // activated, amplifier, master included, phased
  Put(Rt(), r + 16, 0x01800E);        // warning, fatal, amplifier fault; in system 2
  Put48(Rt(), r + 20, 3, 0);          // bias
  Put(Rt(), r + 28, static_cast<std::uint32_t>(-7));
  Put48(Rt(), r + 32, 100, 0);  // master
  Put48(Rt(), r + 40, 1100, 0);
  EXPECT_EQ(ZimoDPRGetCommandedPos(0, 2, 1), (1100.0 - 100 + 5 - 3) * 2);
  Put(Rt(), r + 12, 0x880040);  // without the master bit
  EXPECT_EQ(ZimoDPRGetCommandedPos(0, 2, 1), (1100.0 + 5 - 3) * 2);
  EXPECT_EQ(ZimoDPRNetActualPosition(0, 2, 1), 2200.0);
  EXPECT_EQ(ZimoDPRGetVel(0, 2, 1), -7.0);
  EXPECT_EQ(ZimoDPRGetMoveTime(0, 2), 0);
  double out = -1;
  ZimoDPRGetCompensationPos(0, 2, 1, &out);
  EXPECT_EQ(out, 0.0);
  EXPECT_EQ(ZimoDPRAmpEnabled(0, 2), 1);
  EXPECT_EQ(ZimoDPRPhasedMotor(0, 2), 1);
  EXPECT_EQ(ZimoDPRMotorServoStatusSpran(0, 2), 0x880040u);
  EXPECT_EQ(ZimoDPRWarnFError(0, 2) + ZimoDPRFatalFError(0, 2) + ZimoDPRAmpFault(0, 2), 3);
  EXPECT_EQ(ZimoDPRGetAssignedCoord(0, 2, 0), 2);
  // Velocities 3 and 4 after factor and scale; a scale-0 entry adds nothing.
  Put(Rt(), 12 + 28, 6);
  Put(Rt(), 12 + 48 + 28, 8);
  const std::uint32_t motors[3] = {0, 1, 2};
  const double scales[3] = {2, 2, 0};
  EXPECT_EQ(ZimoDPRVectorVelocity(0, 3, motors, scales), 5.0);
}

TEST_F(StatusReadersTest, MotionStateFromTheServoWord) {
  struct Case {
    std::uint32_t servo;
    std::int32_t state;
  };
  for (bool spran : {false, true}) {
    block().SpranFlag = spran ? 1 : 0;
    const std::uint32_t handwheel = spran ? 1u << 4 : 1u << 20;
    const std::vector<Case> cases = {
        {0x002000, 6},
        {0x842000, 5},
        {0x822400, 3},
        {0x822000, 2},
        {0x800000, 1},
        {0x802000, 0},
        {0x802000 | handwheel, 4},
    };
    const std::size_t at = spran ? 12 + 12 : 36 + 36;
    for (const Case& c : cases) {
      Put(Rt(), at, c.servo);
      EXPECT_EQ(ZimoDPRGetMotorMotion(0, 0), c.state) << std::hex << c.servo << " spran " << spran;
    }
    App().User(0)->DprAvailable = 0;
    EXPECT_EQ(ZimoDPRGetMotorMotion(0, 0), 6);
    EXPECT_EQ(ZimoDPRVelocity(0, 0, 1), 0.0);
    EXPECT_EQ(ZimoDPRMotorEnabled(0, 0), 1) << "bit readers still read the last copy";
    App().User(0)->DprAvailable = 1;
  }
}

TEST_F(StatusReadersTest, ProgramAndMotionModes) {
  struct Case {
    std::uint16_t program;
    bool hold;
    std::uint32_t second;
    std::int32_t older, spran;
  };
  const std::vector<Case> cases = {
      {0x1, false, 0, 1, 1},        {0x3, false, 0, 2, 2},        {0x3, true, 0, 3, 3},
      {0x0, false, 1u << 14, 5, 5}, {0x0, false, 1u << 23, 4, 0}, {0x0, false, 0, 0, 0},
  };
  for (bool spran : {false, true}) {
    block().SpranFlag = spran ? 1 : 0;
    const std::size_t rec = spran ? 40 + 128 : 36 + 124;  // system 1
    for (const Case& c : cases) {
      std::memset(Bg(), 0, spran ? 2088 : 1028);
      Put16(Bg(), rec + (spran ? 20 : 24), c.program);
      if (spran) {
        Put16(Bg(), rec + 14, c.hold ? 0x40 : 0);
        Put16(Bg(), rec + 96, static_cast<std::uint16_t>(c.second));
        Bg()[rec + 98] = static_cast<std::uint8_t>(c.second >> 16);
      } else {
        Bg()[18 + 4] = c.hold ? 0x40 : 0;
        Put16(Bg(), rec + 100, static_cast<std::uint16_t>(c.second));
        Put16(Bg(), rec + 102, static_cast<std::uint16_t>(c.second >> 16));
      }
      EXPECT_EQ(ZimoDPRGetProgramMode(0, 1), spran ? c.spran : c.older)
          << "program " << c.program << " second " << std::hex << c.second << " spran " << spran;
    }
    const std::vector<std::pair<std::uint16_t, std::int32_t>> modes = {
        {0x11, 4}, {0x10, 5}, {0x03, 3}, {0x01, 2}, {0x02, 1}, {0x00, 0}};
    for (const auto& [bits, mode] : modes) {
      Put16(Bg(), rec + (spran ? 96 : 100), bits);
      EXPECT_EQ(ZimoDPRGetMotionMode(0, 1), mode) << bits;
    }
    // Bit 23: look-ahead on SPRAN cards, jog hold (not look-ahead) on older ones.
    if (spran)
      Bg()[rec + 98] = 0x80;
    else
      Put16(Bg(), rec + 102, 0x80);
    EXPECT_EQ(ZimoDPRLookAheadEnabled(0, 1), spran ? 1 : 0);
    Put(Bg(), rec + (spran ? 104 : 108), 100);
    EXPECT_EQ(ZimoDPRTimeRemInMove(0, 1), 200);
    Put(Bg(), rec + (spran ? 112 : 116), 0x1801);
    EXPECT_EQ(ZimoDPRPe(0, 1), 0x1801);
    // Axis X (index 6) = 1.0; 'D' and 'x' are no axes.
    Put48(Bg(), rec + (spran ? 24 : 28) + 8 * 6, 0x800, 0x400000);
    EXPECT_EQ(ZimoDPRCommanded(0, 1, 'X'), 1.0);
    EXPECT_EQ(ZimoDPRCommanded(0, 1, 'D'), 0.0);
    EXPECT_EQ(ZimoDPRCommanded(0, 1, 'x'), 0.0);
  }
}

TEST_F(StatusReadersTest, FeedRateAndGlobalWords) {
  // Older: feed rates and global words in the real-time copy.
  Put48(Rt(), 12 + 8 * 2, 0x806, 0x640000);  // system 2: 100
  Put16(Bg(), 36 + 124 * 2 + 24, 0x8);       // feed-rate mode
  std::uint32_t flag = 7;
  EXPECT_EQ(ZimoDPRGetFeedRateMode(0, 2, &flag), 100.0);
  EXPECT_EQ(flag, 1u);
  Put(Rt(), 4, 1u << 19);
  Put(Rt(), 8, (1u << 20) | (1u << 12));
  EXPECT_EQ(ZimoDPRMotionBufOpen(0), 1);
  EXPECT_EQ(ZimoDPRRotBufOpen(0), 0);
  EXPECT_EQ(ZimoDPRSysServoError(0) * 1000 + ZimoDPRSysReEntryError(0) * 100 +
                ZimoDPRSysMemChecksumError(0) * 10 + ZimoDPRSysPromChecksumError(0),
            1001);
  std::uint32_t words[2] = {1, 2};
  ZimoDPRGetGlobalStatusSpran(0, words);
  EXPECT_EQ(words[0], 1u) << "older card: untouched";
  ZimoDPRGetGlobalStatus(0, words);
  EXPECT_EQ(words[1], (1u << 20) | (1u << 12));
  // SPRAN: the background copy at +20.
  Spran();
  Put(Bg(), 24, 1u << 22);
  ZimoDPRGetGlobalStatusSpran(0, words);
  EXPECT_EQ(words[1], 1u << 22);
  EXPECT_EQ(ZimoDPRSysReEntryError(0), 1);
  App().User(0)->DprAvailable = 0;
  flag = 7;
  EXPECT_EQ(ZimoDPRGetFeedRateMode(0, 0, &flag), 0.0);
  EXPECT_EQ(flag, 7u);
}

TEST_F(StatusReadersTest, NumbersOutsideTheCardGiveZero) {
  std::memset(block().RealTimeCopy, 0xFF, sizeof block().RealTimeCopy);
  std::memset(block().BackgroundCopy, 0xFF, sizeof block().BackgroundCopy);
  EXPECT_EQ(ZimoDPRPosition(0, 8, 1), 0.0);
  EXPECT_EQ(ZimoDPRMotorEnabled(0, -1), 0);
  EXPECT_EQ(ZimoDPRProgRunning(0, 8), 0);
  EXPECT_EQ(ZimoDPRGetMotorMotion(0, 8), 0);
  EXPECT_EQ(ZimoDPRPosition(7, 0, 1), 0.0) << "no such device";
  Spran();
  std::memset(block().SpranRealTimeCopy, 0xFF, sizeof block().SpranRealTimeCopy);
  std::memset(block().SpranBackgroundCopy, 0xFF, sizeof block().SpranBackgroundCopy);
  EXPECT_EQ(ZimoDPRPosition(0, 32, 1), 0.0);
  EXPECT_EQ(ZimoDPRProgRunning(0, 16), 0);
  EXPECT_EQ(ZimoDPRProgRunning(0, 15), 1);
  // The older layout's record 31 lies past the SPRAN copy's end.
  EXPECT_EQ(ZimoDPRMotorServoStatus(0, 31), 0u);
  EXPECT_EQ(ZimoDPRMotorServoStatus(0, 20), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace zimo::corvan
