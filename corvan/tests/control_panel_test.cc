// The DPR control panel against a simulated card on PCI, USB and Ethernet:
// each field lands on its own bits and nowhere else, systems outside 1 to 8
// are refused without touching the DPR, the switch sends its lines, and a
// panel request with the jog-plus bit moves the system's motor.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "corvan/dpr_api.h"
#include "corvan/panel_api.h"
#include "status_rig.h"

namespace zimo::corvan {
namespace {

using testing::RigKind;
using Texts = std::vector<std::string>;

class ControlPanelTest : public testing::StatusRigTest {
 protected:
  std::array<std::uint8_t, 36> Panel() {
    std::array<std::uint8_t, 36> bytes{};
    EXPECT_NE(ZimoDPRGetMem(0, 0, bytes.size(), bytes.data()), nullptr);
    return bytes;
  }
};

TEST_P(ControlPanelTest, EachFieldLandsOnItsOwnBits) {
  ZimoDPRControlPanel(0, 0);  // the card leaves the panel alone
  struct Case {
    const char* what;
    std::function<std::int32_t()> set;
    std::function<std::int32_t()> get;
    std::size_t byte;
    std::uint8_t bits;
  };
  const Case cases[] = {
      {"hold, system 1", [] { return ZimoDPRSetHoldBit(0, 1, 1); },
       [] { return ZimoDPRGetHoldBit(0, 1); }, 5, 0x80},
      {"hold, system 8", [] { return ZimoDPRSetHoldBit(0, 8, 1); },
       [] { return ZimoDPRGetHoldBit(0, 8); }, 33, 0x80},
      {"jog minus, system 2", [] { return ZimoDPRSetJogNegBit(0, 2, 5); },
       [] { return ZimoDPRGetJogNegBit(0, 2); }, 9, 0x01},
      {"jog plus, system 2", [] { return ZimoDPRSetJogPosBit(0, 2, 1); },
       [] { return ZimoDPRGetJogPosBit(0, 2); }, 9, 0x02},
      {"jog return, system 3", [] { return ZimoDPRSetJogReturnBit(0, 3, 1); },
       [] { return ZimoDPRGetJogReturnBit(0, 3); }, 13, 0x04},
      {"run, system 4", [] { return ZimoDPRSetRunBit(0, 4, 1); },
       [] { return ZimoDPRGetRunBit(0, 4); }, 17, 0x08},
      {"step, system 5", [] { return ZimoDPRSetStepBit(0, 5, 1); },
       [] { return ZimoDPRGetStepBit(0, 5); }, 21, 0x10},
      {"stop, system 6", [] { return ZimoDPRSetStopBit(0, 6, 1); },
       [] { return ZimoDPRGetStopBit(0, 6); }, 25, 0x20},
      {"home, system 7", [] { return ZimoDPRSetHomeBit(0, 7, 1); },
       [] { return ZimoDPRGetHomeBit(0, 7); }, 29, 0x40},
      {"request, system 3", [] { return ZimoDPRSetRequestBit(0, 3, 1); },
       [] { return ZimoDPRGetRequestBit(0, 3); }, 0, 0x04},
      {"request, system 8", [] { return ZimoDPRSetRequestBit(0, 8, 1); },
       [] { return ZimoDPRGetRequestBit(0, 8); }, 0, 0x80},
      {"feed-override enable, system 2", [] { return ZimoDPRSetFOEnableBit(0, 2, 1); },
       [] { return ZimoDPRGetFOEnableBit(0, 2); }, 2, 0x02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::array<std::uint8_t, 36> zero{};
    ASSERT_NE(ZimoDPRSetMem(0, 0, zero.size(), zero.data()), nullptr);
    EXPECT_EQ(c.get(), 0);
    EXPECT_NE(c.set(), 0);
    std::array<std::uint8_t, 36> expected{};
    expected[c.byte] = c.bits;
    EXPECT_EQ(Panel(), expected);
    EXPECT_EQ(c.get(), 1);
  }
  // Clearing takes only that bit.
  std::array<std::uint8_t, 36> ones;
  ones.fill(0xFF);
  ASSERT_NE(ZimoDPRSetMem(0, 0, ones.size(), ones.data()), nullptr);
  EXPECT_NE(ZimoDPRSetHoldBit(0, 8, 0), 0);
  std::array<std::uint8_t, 36> expected = ones;
  expected[33] = 0x7F;
  EXPECT_EQ(Panel(), expected);

  // The feed-override value: the 16-bit word at 4 cs + 2.
  ZimoDPRSetFOValue(0, 4, 0xBEEF);
  EXPECT_EQ(ZimoDPRGetWord(0, 18), 0xBEEF);
  EXPECT_EQ(ZimoDPRGetFOValue(0, 4), 0xBEEF);
}

TEST_P(ControlPanelTest, SystemsOutsideOneToEightAreRefused) {
  std::array<std::uint8_t, 36> pattern;
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_NE(ZimoDPRSetMem(0, 0, pattern.size(), pattern.data()), nullptr);
  for (int cs : {0, 9, -1, 1000}) {
    SCOPED_TRACE(cs);
    EXPECT_EQ(ZimoDPRSetHoldBit(0, cs, 1), 0);
    EXPECT_EQ(ZimoDPRSetJogNegBit(0, cs, 0), 0);
    EXPECT_EQ(ZimoDPRSetRequestBit(0, cs, 1), 0);
    EXPECT_EQ(ZimoDPRSetFOEnableBit(0, cs, 1), 0);
    ZimoDPRSetFOValue(0, cs, 0x1234);
    EXPECT_EQ(ZimoDPRGetFOValue(0, cs), 0);
    EXPECT_EQ(ZimoDPRGetRunBit(0, cs), 0);
    EXPECT_EQ(ZimoDPRGetRequestBit(0, cs), 0);
  }
  EXPECT_EQ(Panel(), pattern);
}

// On, off (any value but 1 is off), and a jog asked for through the panel:
// the motor of system 1 moves while the request holds jog plus, and stops
// when a request comes without it.
TEST_P(ControlPanelTest, ThePanelSwitchesAndMovesTheSystemsMotor) {
  EXPECT_EQ(ZimoDPRControlPanel(0, 1), 1);
  EXPECT_EQ(block().ControlPanelOn, 1u);
  EXPECT_EQ(rig().Lines(), Texts{"i2=3"});
  EXPECT_EQ(ZimoDPRControlPanel(0, 2), 0);
  EXPECT_EQ(block().ControlPanelOn, 0u);
  EXPECT_EQ(rig().Lines(), Texts{"i2=1"});

  Ask("&1#1->1000X");
  ASSERT_EQ(ZimoDPRControlPanel(0, 1), 1);
  const double before = AskNumber("#1P");
  ASSERT_NE(ZimoDPRSetJogPosBit(0, 1, 1), 0);
  ASSERT_NE(ZimoDPRSetRequestBit(0, 1, 1), 0);
  rig().Servo(500);
  EXPECT_EQ(ZimoDPRGetRequestBit(0, 1), 0);  // served
  const double moved = AskNumber("#1P");
  EXPECT_GT(moved, before + 10);
  ASSERT_NE(ZimoDPRSetJogPosBit(0, 1, 0), 0);
  ASSERT_NE(ZimoDPRSetRequestBit(0, 1, 1), 0);
  rig().Servo(2000);
  const double stopped = AskNumber("#1P");
  rig().Servo(500);
  EXPECT_NEAR(AskNumber("#1P"), stopped, 1);

  // Off, the card no longer serves requests.
  ZimoDPRControlPanel(0, 0);
  ASSERT_NE(ZimoDPRSetRequestBit(0, 1, 1), 0);
  rig().Servo(5);
  EXPECT_EQ(ZimoDPRGetRequestBit(0, 1), 1);
}

const RigKind kRigs[] = {
    {"pci older", kLocationPci, false},     {"pci spran", kLocationPci, true},
    {"usb older", kLocationUsb, false},     {"eth older", kLocationEthernet, false},
    {"eth spran", kLocationEthernet, true},
};
INSTANTIATE_TEST_SUITE_P(Rigs, ControlPanelTest, ::testing::ValuesIn(kRigs), testing::RigName);

}  // namespace
}  // namespace zimo::corvan
