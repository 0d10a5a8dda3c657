// The fixed DPR buffers and the control panel from the card's side: the
// bytes at the buffers' offsets after the card's refresh, the handshakes
// that let it write, and the ASCII answers that report the same state.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_typing.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

uint8_t Byte(Card& card, size_t offset) {
  uint8_t b = 0;
  card.memory().ReadDpr(offset, &b, 1);
  return b;
}

// A 48-bit word in its DPR form: {lower dword, upper dword}.
std::pair<uint32_t, uint32_t> Pair(Card& card, size_t offset) {
  return {card.memory().DprDword(offset), card.memory().DprDword(offset + 4)};
}

TEST(RealTimeBuffer, OlderCardFillsTheFirstI59RecordsBetweenGatAndEndgat) {
  Card card(CardModel::Older());
  card.SetMotorPosition(1, 100);  // 100 counts = 307200 in 1/3072 count
  card.SetMotorPosition(2, -1);   // -3072: the upper word sign-extended
  Type(card, {"I59=2", "I19=2", "I48=1"});
  card.AdvanceServo(2);
  EXPECT_EQ(card.memory().DprWord(0x026), 0) << "no refresh before GAT";
  Type(card, {"GAT"});
  card.AdvanceServo(2);  // cycle 4 of the card
  EXPECT_EQ(card.memory().DprWord(0x026), 0x8000 | 4);
  // Record 0 at 0x048: commanded and actual position, servo word.
  EXPECT_EQ(Pair(card, 0x048), std::make_pair(307200u, 0u));
  EXPECT_EQ(Pair(card, 0x050), std::make_pair(307200u, 0u));
  EXPECT_EQ(card.memory().DprDword(0x048 + 36), 0x802000u);  // activated, velocity zero
  // Record 1 at 0x084.
  EXPECT_EQ(Pair(card, 0x084 + 8), std::make_pair(0xFFF400u, 0xFFFFFFFFu));
  // Record 2 is not asked for; the feed rate of system 1 is 100 (CardFloat48).
  EXPECT_EQ(card.memory().DprDword(0x0C0 + 36), 0u);
  EXPECT_EQ(Pair(card, 0x030), std::make_pair(0x000806u, 0x640000u));

  // Ready still set: the card leaves the buffer alone.
  card.SetMotorPosition(1, 1);
  card.AdvanceServo(4);
  EXPECT_EQ(Pair(card, 0x050).first, 307200u);
  // The host takes it (ready cleared) while busy: still nothing.
  card.memory().SetDprWord(0x024, 1);
  card.memory().SetDprWord(0x026, 0);
  card.AdvanceServo(4);
  EXPECT_EQ(card.memory().DprWord(0x026), 0);
  card.memory().SetDprWord(0x024, 0);
  card.AdvanceServo(2);
  EXPECT_EQ(Pair(card, 0x050).first, 3072u);
  // ENDGAT stops it.
  Type(card, {"ENDGAT"});
  card.memory().SetDprWord(0x026, 0);
  card.AdvanceServo(4);
  EXPECT_EQ(card.memory().DprWord(0x026), 0);
}

TEST(RealTimeBuffer, SpranCardFillsTheMotorsOfTheHostMask) {
  Card card(CardModel::Spran());
  Type(card, {"&3 #2->X", "I47=3", "I48=1"});
  card.SetMotorPosition(2, 5);
  card.memory().SetDprDword(0x070, 0x2);  // motor 2 only
  card.AdvanceServo(3);
  EXPECT_EQ(card.memory().DprWord(0x06C), 3);
  EXPECT_EQ(card.memory().DprWord(0x06E), 0x8000);
  size_t r = 0x074 + 48;
  EXPECT_EQ(Pair(card, r + 40), std::make_pair(15360u, 0u));  // actual, 5 x 3072
  EXPECT_EQ(Pair(card, r + 0), std::make_pair(0u, 0u));       // following error
  EXPECT_EQ(card.memory().DprDword(r + 12), 0x882000u);       // activated, amplifier, velocity zero
  EXPECT_EQ(card.memory().DprDword(r + 16), 0x028001u);       // in position, in system 3
  EXPECT_EQ(card.memory().DprDword(0x074 + 12), 0u);          // motor 1 not in the mask
  // The same words as the card's memory reads give them.
  EXPECT_EQ(FirstLine(card, "rhx:$130"), "882000");
  EXPECT_EQ(FirstLine(card, "rhy:$140"), "028001");
  EXPECT_EQ(FirstLine(card, "RL$10b"), "15360");
  // Busy holds the refresh off even with ready clear.
  card.memory().SetDprWord(0x06A, 0x8000);
  card.memory().SetDprWord(0x06E, 0);
  card.AdvanceServo(6);
  EXPECT_EQ(card.memory().DprWord(0x06E), 0);
}

TEST(BackgroundBuffer, OlderCardReportsARunningLinearProgram) {
  Card card(CardModel::Older());
  Type(card, {"&1 #1->X", "OPEN PROG 1 CLR", "LINEAR TA100 TM1000 X1000", "X0", "CLOSE", "I59=1",
              "I49=1", "&1B1R"});
  card.AdvanceServo(100);
  EXPECT_EQ(card.memory().DprWord(0x228), 1);
  size_t r = 0x228 + 36;
  EXPECT_EQ(card.memory().DprWord(r + 24),
            0x15);  // running, continuous, asked for (TM: no feed mode)
  EXPECT_EQ(card.memory().DprWord(r + 100), 0);    // LINEAR
  EXPECT_EQ(card.memory().DprDword(r + 104), 2u);  // the first of two lines
  // Program 1 starts where the empty program 0 ends: $1800; line 0.
  EXPECT_EQ(card.memory().DprDword(r + 116), 0x1800u);
  EXPECT_EQ(card.memory().DprDword(r + 16) & 0xF00000u, 0x800000u);  // assigned to system 1
  // The ASCII forms say the same.
  EXPECT_EQ(FirstLine(card, "&1PR"), "2");
  EXPECT_EQ(FirstLine(card, "&1PE"), "P1:6144");
  EXPECT_EQ(card.CoordStatusText(1).substr(0, 6), "000015");
  // The card waits for the host to take the block before writing again.
  uint32_t left = card.memory().DprDword(r + 108);
  card.AdvanceServo(50);
  EXPECT_EQ(card.memory().DprDword(r + 108), left);
  card.memory().SetDprWord(0x228, 0);
  card.AdvanceServo(1);
  EXPECT_LT(card.memory().DprDword(r + 108), left);
}

TEST(BackgroundBuffer, SpranCardFillsCountRecordsAndTheGlobalWords) {
  Card card(CardModel::Spran());
  uint8_t count = 2;
  card.memory().WriteDpr(0x674, &count, 1);
  card.SetGlobalError(GlobalError::kServo, true);
  card.SetCoordStatusBits(2, 0, 1u << 14);  // jog stop
  Type(card, {"&2%50", "I50=2", "I49=1"});
  card.AdvanceServo(2);
  EXPECT_EQ(Byte(card, 0x67B), 0x80);
  EXPECT_EQ(card.memory().DprDword(0x688), 0u);
  EXPECT_EQ(card.memory().DprDword(0x68C), 1u << 20);
  size_t r2 = 0x674 + 40 + 128;
  EXPECT_EQ(Pair(card, r2), std::make_pair(0x000805u, 0x640000u));  // 50 = 0.78125 x 2^6
  EXPECT_EQ(card.memory().DprWord(r2 + 96), 0x4000);
  EXPECT_EQ(Byte(card, r2 + 98), 0);
  EXPECT_EQ(Pair(card, r2 + 128), std::make_pair(0u, 0u)) << "record 3 is past the count";
  // The status reply carries the servo error in its first digit.
  EXPECT_EQ(card.Control(0x07).lines, Lines{"800000000000"});
  // Frozen: the card answers but leaves the buffer alone.
  card.script().SetDprFrozen(true);
  card.memory().WriteDpr(0x67B, "\0", 1);
  card.AdvanceServo(4);
  EXPECT_EQ(Byte(card, 0x67B), 0);
  EXPECT_EQ(FirstLine(card, "I49"), "1");
}

TEST(ControlPanel, RequestsActOnlyWhilePanelIsOn) {
  for (bool spran : {false, true}) {
    Card card(spran ? CardModel::Spran() : CardModel::Older());
    Type(card, {"&1 #1->X", "I2=1"});
    card.memory().SetDprWord(0x000, 0x1);
    card.memory().SetDprWord(0x002, 0x1);
    card.memory().SetDprWord(0x006, 50);  // feed override of system 1
    uint8_t jog_plus = 0x02;
    card.memory().WriteDpr(5, &jog_plus, 1);
    card.AdvanceServo(20);
    EXPECT_EQ(card.MotorPosition(1), 0);
    EXPECT_EQ(card.memory().DprWord(0x000), 1) << "panel off: request left as it was";
    Type(card, {"I2=3"});
    card.AdvanceServo(200);
    EXPECT_GT(card.MotorPosition(1), 10);
    EXPECT_EQ(card.memory().DprWord(0x000), 0) << "served requests are cleared";
    EXPECT_EQ(FirstLine(card, "&1%"), "50");
    // A request without the jog bits stops the panel's jog.
    uint8_t none = 0;
    card.memory().WriteDpr(5, &none, 1);
    card.memory().SetDprWord(0x000, 0x1);
    card.AdvanceServo(200);
    double at = card.MotorCommandedPosition(1);
    card.AdvanceServo(50);
    EXPECT_EQ(card.MotorCommandedPosition(1), at);
  }
}

TEST(ControlPanel, HoldAndStepShowInTheProgramState) {
  Card card(CardModel::Older());
  Type(card, {"&1 #1->X", "OPEN PROG 1 CLR", "LINEAR TA100 TM1000 X1000", "X0", "CLOSE", "I2=3",
              "&1B1R"});
  card.AdvanceServo(50);
  uint8_t hold = 0x80;
  card.memory().WriteDpr(5, &hold, 1);
  card.memory().SetDprWord(0x000, 0x1);
  card.AdvanceServo(1);
  Type(card, {"I49=1", "I59=1"});
  card.AdvanceServo(1);
  EXPECT_EQ(Byte(card, 0x228 + 18), 0x40);
  double at = card.MotorCommandedPosition(1);
  card.AdvanceServo(50);
  EXPECT_EQ(card.MotorCommandedPosition(1), at);
  // Step: running with the single-step bit; the program waits after the move.
  uint8_t step = 0x10;
  card.memory().WriteDpr(5, &step, 1);
  card.memory().SetDprWord(0x000, 0x1);
  card.memory().SetDprWord(0x228, 0);
  card.AdvanceServo(1);
  EXPECT_EQ(card.memory().DprWord(0x228 + 36 + 24), 0x3);
  EXPECT_EQ(Byte(card, 0x228 + 18), 0);
  EXPECT_EQ(card.CoordStatusText(1).substr(0, 6), "000003");
  card.AdvanceServo(3000);  // past the end of the first move
  EXPECT_EQ(card.MotorCommandedPosition(1), 1000);
  EXPECT_EQ(card.CoordStatusText(1).substr(0, 6), "000003");
}

TEST(StatusScripting, CoordAndMotorBitsReachBothReports) {
  Card card(CardModel::Older());
  card.SetCoordStatusBits(1, 0, (1u << 23) | (1u << 14));  // jog hold, jog stop
  card.SetMotorStatusBits(1, 1u << 20, 1u << 3);           // handwheel; amplifier fault
  Type(card, {"&1 #1->X", "I59=1", "I49=1"});
  EXPECT_EQ(card.CoordStatusText(1),
            "000000924000");  // jog hold, amplifier fault, in position, jog stop
  EXPECT_EQ(FirstLine(card, "#1?"), "902000804009");
  card.AdvanceServo(1);
  EXPECT_EQ(card.memory().DprWord(0x228 + 36 + 102), 0x92);
  EXPECT_EQ(card.memory().DprWord(0x228 + 36 + 100), 0x4000);
  EXPECT_EQ(card.memory().DprDword(0x228 + 36 + 16), 0x804009u);
  // ^C: systems 1-8, 13 characters apart; a scripted cut shortens it.
  std::string all = card.Control(0x03).lines.front();
  EXPECT_EQ(all.size(), 103u);
  EXPECT_EQ(all.substr(0, 13), "000000924000 ");
  card.script().SetControlReplyLength(0x03, 100);
  EXPECT_EQ(card.Control(0x03).lines.front(), all.substr(0, 100));
}

}  // namespace
}  // namespace zimo::cardsim
