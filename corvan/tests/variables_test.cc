// Card variable access: query retries, reply forms and value conversion,
// assignments and their change-ring echo; then the exports against the
// simulated card on a pseudo-terminal, through the whole library.
#include "link/variables.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/variables_api.h"

#if __has_include("cardsim/attach_pty.h")
#define VARIABLES_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

// A card that answers each exchange with the next scripted answer (or an
// error when the script has run out) and records what it was sent.
class ScriptedPath : public CardCommandPath {
 public:
  struct Answer {
    std::string text;
    std::uint32_t status = kStatusAck;
  };

  void Then(std::string text, std::uint32_t status = kStatusAck) {
    answers_.push_back({std::move(text), status});
  }

  std::uint32_t GetResponseEx(int, char* buffer, std::uint32_t size, const char* command) override {
    sent.emplace_back(command);
    Answer answer{"\aERR003\r", kStatusCardError};
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    const std::size_t n = std::min<std::size_t>(answer.text.size(), size - 1);
    std::memcpy(buffer, answer.text.data(), n);
    buffer[n] = '\0';
    return answer.status | static_cast<std::uint32_t>(n);
  }
  std::uint32_t GetLine(int, char* buffer, std::uint32_t) override {
    buffer[0] = '\0';
    return 0;
  }
  void SendCommand(int, const char* command) override { sent.emplace_back(command); }
  void ChangeStore(int, const char* text) override { changes.emplace_back(text); }
  void Lock(int) override {}
  void Unlock(int) override {}

  std::vector<std::string> sent;
  std::vector<std::string> changes;

 private:
  std::deque<Answer> answers_;
};

TEST(VariableText, ConvertsTheCardsNumberForms) {
  struct Case {
    const char* text;
    std::int32_t as_long;
    double as_double;
  };
  const Case cases[] = {
      {"$1F", 31, 31.0},  // hexadecimal with '$'
      {"010", 8, 10.0},   // octal for the integers, decimal for doubles
      {"0x10", 16, 0.0},  // C's hexadecimal prefix: integers only
      {"-250", -250, -250.0},
      {"1.5", 1, 1.5},
      {"3713707", 3713707, 3713707.0},
      {"$FFFFFFFF", -1, 4294967295.0},  // all 32 bits, as a signed value
      {"99999999999", INT32_MAX, 99999999999.0},
      {"-99999999999", INT32_MIN, -99999999999.0},
      {"abc", 0, 0.0},
      {"", 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(VariableTextToLong(c.text), c.as_long);
    EXPECT_DOUBLE_EQ(VariableTextToDouble(c.text), c.as_double);
  }
}

TEST(VariableText, DoublesIgnoreTheProcessLocale) {
  // A process whose locale writes ',' (the language module sets one) still
  // reads and writes the card's '.'.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE") == nullptr) {
    GTEST_SKIP() << "no locale with a decimal comma on this machine";
  }
  EXPECT_DOUBLE_EQ(VariableTextToDouble("1.5"), 1.5);
  ScriptedPath card;
  SetVariableDouble(card, 0, 'I', 130, 1.5, true);
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0], "I130=1.500000");
}

TEST(VariableQuery, TakesTheValueTextOfEachReplyForm) {
  struct Case {
    const char* reply;
    const char* value;
  };
  const Case cases[] = {
      {"2000\r", "2000"},  {"I10=3713707\r", "3713707"},  // a card that names the variable
      {"P1=ERR\r", "ERR"},                                // '=' wins over "ERR"
      {"\r1.5\r", "1.5"},                                 // a line end before the value
      {"$1F\r", "$1F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ScriptedPath card;
    card.Then(c.reply);
    char text[kVariableTextSize];
    ASSERT_EQ(QueryVariableText(card, 0, 'P', 1, text), 1);
    EXPECT_STREQ(text, c.value);
    EXPECT_EQ(card.sent, std::vector<std::string>{"P1"});
  }
}

TEST(VariableQuery, ErrorReplyFailsWithoutTouchingTheBuffer) {
  ScriptedPath card;
  card.Then("\aERR003\r", kStatusCardError);
  char text[kVariableTextSize] = "untouched";
  EXPECT_EQ(QueryVariableText(card, 0, 'I', 9999, text), 0);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(card.sent.size(), 1u);  // an error is an answer: no retry

  ScriptedPath reports_text;
  reports_text.Then("ERR003\r", kStatusAck);  // a transport that reports errors as text
  EXPECT_EQ(GetVariable32(reports_text, 0, 'I', 9999, -7), -7);
  ScriptedPath getters;
  EXPECT_EQ(GetVariable16(getters, 0, 'P', 1, 12), 12);
  EXPECT_DOUBLE_EQ(GetVariableDouble(getters, 0, 'P', 1, 2.5), 2.5);
}

TEST(VariableQuery, AsksFiveTimesUntilTheCardAnswers) {
  ScriptedPath card;
  for (int i = 0; i < 4; ++i) card.Then("");
  card.Then("$1F\r");
  EXPECT_EQ(GetVariable32(card, 0, 'M', 3, -1), 31);
  EXPECT_EQ(card.sent, std::vector<std::string>(5, "M3"));

  ScriptedPath silent;
  for (int i = 0; i < 5; ++i) silent.Then("");
  silent.Then("5\r");  // a sixth try would have got this
  EXPECT_EQ(GetVariable32(silent, 0, 'P', 1, -1), -1);
  EXPECT_EQ(silent.sent.size(), 5u);
}

TEST(VariableQuery, BrokenOffAnswersAreAskedAgain) {
  // Characters that came before a time-out are not the value.
  ScriptedPath card;
  card.Then("12", kStatusTimeout);
  card.Then("", kStatusFailure);
  card.Then("1234\r");
  EXPECT_EQ(GetVariable32(card, 0, 'P', 7, -1), 1234);
  EXPECT_EQ(card.sent.size(), 3u);
}

TEST(VariableQuery, SixteenBitGettersKeepTheLowBits) {
  ScriptedPath card;
  card.Then("70000\r");  // 0x11170
  card.Then("-2\r");
  EXPECT_EQ(GetVariable16(card, 0, 'P', 1, 0), 0x1170);
  EXPECT_EQ(GetVariable16(card, 0, 'P', 1, 0), -2);
}

TEST(VariableAssignment, FormatsAndEchoesIntoTheChangeRing) {
  ScriptedPath card;
  SetVariable16(card, 0, 'P', 1, -5, /*echo=*/false);
  SetVariable32(card, 0, 'I', 130, 2000000, /*echo=*/true);
  SetVariableDouble(card, 0, 'I', 130, 1.5, /*echo=*/true);
  SetVariableDouble(card, 0, 'Q', 4294967295u, -0.25, /*echo=*/true);
  EXPECT_EQ(card.sent, (std::vector<std::string>{"P1=-5", "I130=2000000", "I130=1.500000",
                                                 "Q4294967295=-0.250000"}));
  EXPECT_EQ(card.changes,
            (std::vector<std::string>{"I130=2000000", "I130=1.500000", "Q4294967295=-0.250000"}));
}

TEST(VariableAssignment, HugeDoublesAreWrittenInFull) {
  // Six decimals of 1e300 take over 300 characters; the text is written
  // whole (the card then refuses the long line) rather than cut or spilled.
  ScriptedPath card;
  SetVariableDouble(card, 0, 'P', 1, 1e300, true);
  ASSERT_EQ(card.sent.size(), 1u);
  const std::string& line = card.sent[0];
  EXPECT_EQ(line.rfind("P1=1", 0), 0u);
  EXPECT_EQ(line.size(), 3u + 301u + 7u);
  EXPECT_EQ(line.substr(line.size() - 7), ".000000");
}

#ifdef VARIABLES_TEST_WITH_CARD

using namespace zimo::corvan::testing;

class CardVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    DrainChangeRing();
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
  }
  std::vector<std::string> DrainChangeRing() {
    std::vector<std::string> records;
    char record[400];
    while (App().rings().ChangeReadReady(0) != 0) {
      App().rings().ChangeGet(0, record, sizeof record - 1);
      records.emplace_back(record);
    }
    return records;
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(CardVariablesTest, WritesReadBackInEveryForm) {
  ZimoSetVariableLong(0, 'P', 1, 5);
  EXPECT_EQ(ZimoGetVariableLong(0, 'P', 1, -1), 5);
  ZimoSetVariable(0, 'P', 2, -300);
  EXPECT_EQ(ZimoGetVariable(0, 'P', 2, 0), -300);
  ZimoSetVariableDouble(0, 'P', 3, 1.5);
  EXPECT_DOUBLE_EQ(ZimoGetVariableDouble(0, 'P', 3, 0.0), 1.5);
  EXPECT_EQ(ZimoGetVariableLong(0, 'P', 3, -1), 1);  // the integer part of "1.5"
  ZimoSetVariableDouble(0, 'Q', 7, -0.125);
  EXPECT_DOUBLE_EQ(ZimoGetVariableDouble(0, 'Q', 7, 0.0), -0.125);
  ZimoSetIVariable(0, 130, 2000);
  EXPECT_EQ(ZimoGetIVariable(0, 130, 0), 2000);
  ZimoSetIVariableLong(0, 131, 123456);
  EXPECT_EQ(ZimoGetIVariableLong(0, 131, 0), 123456);
  ZimoSetIVariableDouble(0, 132, 0.75);
  EXPECT_DOUBLE_EQ(ZimoGetIVariableDouble(0, 132, 0.0), 0.75);
  // M-variables too: the card keeps M definitions as words.
  ZimoSetVariableLong(0, 'M', 1, 0);
  EXPECT_EQ(ZimoGetVariableLong(0, 'M', 1, -1), 0);

  char text[kVariableTextSize];
  ASSERT_EQ(ZimoGetVariableStrA(0, 'P', text, 1), 1);
  EXPECT_STREQ(text, "5");
  char16_t wide[kVariableTextSize];
  ASSERT_EQ(ZimoGetVariableStrW(0, u'P', wide, 3), 1);
  EXPECT_EQ(std::u16string(wide), u"1.5");
  EXPECT_TRUE(card_->Received("P3=1.500000"));
}

TEST_F(CardVariablesTest, ReadsTheCardsNamedAndHexadecimalReplies) {
  ZimoSetIVariableLong(0, 125, 0x1F2A);  // motor 1's flag address
  // I9 = 3: replies name the variable and show addresses in hexadecimal.
  ZimoSetIVariable(0, 9, 3);
  char text[kVariableTextSize];
  ASSERT_EQ(ZimoGetIVariableStrA(0, text, 125), 1);
  EXPECT_STREQ(text, "$1F2A");
  EXPECT_EQ(ZimoGetIVariableLong(0, 125, 0), 0x1F2A);
  EXPECT_EQ(ZimoGetIVariable(0, 125, 0), 0x1F2A);
  EXPECT_DOUBLE_EQ(ZimoGetIVariableDouble(0, 125, 0.0), 7978.0);
  ASSERT_EQ(ZimoGetIVariableStrA(0, text, 10), 1);
  EXPECT_STREQ(text, "3713707");  // "I10=3713707"
  ZimoSetIVariable(0, 9, 0);
  ASSERT_EQ(ZimoGetIVariableStrA(0, text, 125), 1);
  EXPECT_STREQ(text, "7978");
}

TEST_F(CardVariablesTest, CardErrorsGiveTheDefault) {
  // P-variables end at 1023 on this card.
  char text[kVariableTextSize] = "untouched";
  EXPECT_EQ(ZimoGetVariableStrA(0, 'P', text, 5000), 0);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(ZimoGetVariableLong(0, 'P', 5000, -7), -7);
  EXPECT_EQ(ZimoGetVariable(0, 'P', 5000, 9), 9);
  EXPECT_DOUBLE_EQ(ZimoGetVariableDouble(0, 'P', 5000, 2.5), 2.5);
  ShutdownZimoDevice(0, 1);
  EXPECT_EQ(ZimoGetIVariableLong(0, 10, -4), -4);  // not open here
}

TEST_F(CardVariablesTest, AssignmentsButTheSixteenBitOneAreEchoed) {
  ZimoSetVariable(0, 'P', 1, 3);
  EXPECT_TRUE(DrainChangeRing().empty());
  ZimoSetIVariableDouble(0, 130, 1.5);
  ZimoSetIVariable(0, 131, 7);
  ZimoSetVariableLong(0, 'P', 2, -9);
  EXPECT_EQ(DrainChangeRing(), (std::vector<std::string>{"I130=1.500000", "I131=7", "P2=-9"}));
  EXPECT_TRUE(card_->Received("I130=1.500000"));
}

#endif  // VARIABLES_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
