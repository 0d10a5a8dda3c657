// Bad input never takes the card down: overlong lines, binary garbage and
// unknown commands get the card's error reply, and a long run of random
// input leaves a card that still answers.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

TEST(BadInput, OverlongLinesAreRefusedAndForgotten) {
  Card card(CardModel::Older());
  EXPECT_EQ(card.Feed(std::string(300, '1') + "\r"), "\aERR004\r");
  EXPECT_EQ(card.Feed("I10\r"), "3713707\r\x06");
  EXPECT_EQ(card.Execute(std::string(256, ' ')).error, card_error::kCommunication);
  // 255 characters are still one line.
  EXPECT_EQ(card.Execute("P1=7" + std::string(251, ' ')).error, 0);
  EXPECT_DOUBLE_EQ(card.PVar(1), 7.0);
}

TEST(BadInput, BinaryBytesInALineAreADataError) {
  Card card(CardModel::Older());
  EXPECT_EQ(card.Feed("P1=5\x80\xFF\r"), "\aERR003\r");
  EXPECT_DOUBLE_EQ(card.PVar(1), 0.0);
  EXPECT_EQ(card.Execute(std::string("I10\0", 4)).error, card_error::kBadCommand);
  EXPECT_EQ(card.Execute("I10\x07").error, card_error::kBadCommand);
  EXPECT_EQ(card.Execute("I10\r\n").lines, std::vector<std::string>{"3713707"});  // line end only
}

TEST(BadInput, MalformedCommandsGetErr003) {
  const char* bad[] = {"FOO",
                       "#99",
                       "&99",
                       "#0",
                       "I",
                       "P1..",
                       "M1->Z:$1",
                       "M1->X:$",
                       "wx$1,$",
                       "$$",
                       "J:",
                       "O",
                       "LIST PLC",
                       "OPEN PLC",
                       "P1=1+*2",
                       "P1=)",
                       "I1=SIN(1",
                       "ENA PLC x",
                       "rhx$FFFFFFFFFFFFFFFFFF",
                       "I99999999999999999999",
                       "#1->1000"};
  for (CardModel model : {CardModel::Older(), CardModel::Spran()}) {
    Card card(model);
    for (const char* line : bad) {
      EXPECT_EQ(card.Execute(line).error, card_error::kBadCommand) << line;
    }
  }
}

TEST(BadInput, ArithmeticEdgesGiveNumbersNotFaults) {
  Card card(CardModel::Older());
  card.Execute("P1=1/0 P2=5%0 P3=SQRT(-4) P4=LN(0) P5=" + std::string(100, '(') + "7" +
               std::string(100, ')'));
  for (int p = 1; p <= 4; ++p) EXPECT_DOUBLE_EQ(card.PVar(p), 0.0) << p;
  EXPECT_DOUBLE_EQ(card.PVar(5), 7.0);
}

// A command alphabet with the odd wild byte: the parser meets half-formed
// commands, not only noise.
std::string RandomChunk(std::mt19937& rng) {
  static const std::string kAlphabet =
      "IPQMJKHOVF0123456789$=.+-*/&|^()?#@%:,->LISTOPENCLOSEPLCRHXYWL \r\r\r";
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(kAlphabet.size()) - 1);
  std::uniform_int_distribution<int> wild(0, 19);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string chunk;
  for (int i = length(rng); i > 0; --i) {
    chunk += wild(rng) == 0 ? static_cast<char>(byte(rng)) : kAlphabet[pick(rng)];
  }
  return chunk;
}

TEST(BadInput, RandomInputLeavesACardThatStillAnswers) {
  for (CardModel model : {CardModel::Older(), CardModel::Spran()}) {
    Card card(model);
    std::mt19937 rng(20240611);
    for (int i = 0; i < 3000; ++i) {
      card.Feed(RandomChunk(rng));
      if (i % 100 == 0) card.AdvanceServo(10);
    }
    // Bring the framing back to the known state: drop the partial line,
    // leave any open buffer, address the card, restore the handshake.
    card.Feed(
        "\x18"
        "CLOSE\r@@\rCLOSE\rI3=2I6=1I63=1I64=1I4=0\r\x18");
    std::string status = card.Feed("?\r");
    ASSERT_EQ(status.size(), 14u) << status;
    EXPECT_EQ(status.substr(12), "\r\x06");
    EXPECT_EQ(status.find_first_not_of("0123456789ABCDEF"), 12u);
  }
}

}  // namespace
}  // namespace zimo::cardsim
