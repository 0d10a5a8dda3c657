// The current-loop step tests: the lines the card receives (byte for byte
// against the golden transcripts), the clock arithmetic, the kill order,
// a card that falls silent part way and the restore afterwards, the
// completion poll's bound; and end to end on the simulated card.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "platform/clock.h"
#include "tuning/tuning.h"
#include "tuning_scripted_path.h"
#include "tuning_transcripts.h"

#if __has_include("cardsim/attach_pty.h")
#define CURRENT_LOOP_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "corvan/gather_api.h"
#include "corvan/variables_api.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;
using testing::GoldenLines;
using testing::TuningPath;

constexpr char kGatherMark[] = "<gather>";

// The golden transcripts are the card's log of a whole test on the older
// card (gather set-up by the library included, repeated polls shown once).
// The scripted card below sees the gather set-up as one mark.
Lines WithGatherMark(const Lines& golden) {
  Lines out(golden.begin(), golden.begin() + 4);
  out.push_back(kGatherMark);
  auto program = std::find(golden.begin(), golden.end(), "M0->x:0,24");
  out.insert(out.end(), program, golden.end());
  return out;
}

// A card for the tests: answers I-variable queries from a table, the
// completion poll with the given answers (the last one repeated), counts
// lock holds, and moves a fake clock on by 1 ms for every line it is asked
// to read.
class StepCard : public TuningPath {
 public:
  StepCard() : scoped_(clock_) {
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"I900", "6527"}, {"I901", "0"}, {"I902", "3"}, {"I10", "3713707"}}) {
      Reply(name, value + "\r");
    }
  }
  std::uint32_t GetLine(int, char* buffer, std::uint32_t size) override {
    clock_.Advance(std::chrono::milliseconds(1));
    buffer[0] = '\0';
    if (lost() || polls_ == 0) return 0;
    const std::string& answer = poll_answers_[std::min(polls_ - 1, poll_answers_.size() - 1)];
    const std::size_t n = std::min<std::size_t>(answer.size(), size);
    answer.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
  }
  void Lock(int) override { ++locks_; }
  void Unlock(int) override { --locks_; }

  // Poll answers, in order; the last one repeats.
  void PollAnswers(Lines answers) { poll_answers_ = std::move(answers); }
  // Exchanges (and lines sent) after the first `after` get no answer.
  void Lose(int after) {
    lose_after_ = after;
    exchanges_ = 0;
  }
  void Answer() { lose_after_ = -1; }
  bool lost() const { return lose_after_ >= 0 && static_cast<int>(exchanges_) > lose_after_; }
  int locks() const { return locks_; }

  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    ++exchanges_;
    if (lost()) {
      sent.emplace_back(command);
      buffer[0] = '\0';
      return kStatusTimeout;
    }
    return TuningPath::GetResponseEx(device, buffer, size, command);
  }

  tuning::TuningCard Card(bool spran = false) {
    tuning::TuningCard card{.path = *this, .device = 0, .spran = spran};
    card.send_line = [this](const char* line) {
      sent.emplace_back(line);
      ++exchanges_;
      if (std::string(line) == "P1019") ++polls_;
      return true;
    };
    card.direct_current_gather = [this](std::uint32_t mask, std::int32_t enable) {
      EXPECT_EQ(enable, 1);
      char text[32];
      std::snprintf(text, sizeof text, "%s %08X", kGatherMark, mask);
      sent.emplace_back(text);
    };
    card.set_gather = [this](std::uint32_t source, const char* address, std::int32_t enable) {
      sources.push_back(std::to_string(source) + " " + address + " " + std::to_string(enable));
    };
    return card;
  }

  Lines sources;

 private:
  platform::FakeClock clock_;
  platform::ScopedClock scoped_;
  Lines poll_answers_ = {"1\r"};
  std::size_t polls_ = 0;
  std::size_t exchanges_ = 0;
  int lose_after_ = -1;
  int locks_ = 0;
};

tuning::CurrentLoopStep Step(int motor, int divisor = 4, bool compact = false) {
  return {motor, 10, 1000, true, 50.0f, divisor, compact};
}

using Procedure = int (*)(tuning::TuningCard&, const tuning::CurrentLoopStep&, char*);

struct Kind {
  const char* name;
  Procedure run;
  const char* golden;
  std::uint32_t mask;  // motor 1
};
const Kind kKinds[] = {
    {"brushless", tuning::DoACurrentLoopStep, "current_loop_brushless_older.txt", 0x01000101},
    {"brush", tuning::DoACurrentLoopStepBrush, "current_loop_brush_older.txt", 0},
};

// What the serial link adds on its own after a line that timed out (the
// card answers the step's lines without ACK): the handshake line, and the
// flush before the next exchange.
bool LinkRecovery(const std::string& line) { return line == "I3=2 I6=1" || line == "^X"; }

// The scripted run's transcript, the gather set-up shown as its mark (the
// brush test sets its sources one by one: no mark).
Lines Scripted(const Kind& kind) {
  Lines lines = WithGatherMark(GoldenLines(kind.golden));
  lines.erase(std::remove_if(lines.begin(), lines.end(), LinkRecovery), lines.end());
  if (kind.mask != 0) {
    lines[4] = std::string(kGatherMark) + " 01000101";
  } else {
    lines.erase(lines.begin() + 4);
  }
  return lines;
}

TEST(CurrentLoopStep, TheCardReceivesTheWholeTestAsWritten) {
  for (const auto& kind : kKinds) {
    tuning::ForgetCurrentLoopTest();
    StepCard card;
    auto c = card.Card();
    char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
    EXPECT_EQ(kind.run(c, Step(1), text), 1) << kind.name;
    EXPECT_EQ(card.sent, Scripted(kind)) << kind.name;
    EXPECT_STREQ(text, "0.000111") << kind.name;
    EXPECT_EQ(card.locks(), 0) << kind.name;
  }
}

TEST(CurrentLoopStep, TheBrushTestGathersOutputPositionAndCurrentOfItsMotor) {
  StepCard card;
  auto c = card.Card();
  ASSERT_EQ(tuning::DoACurrentLoopStepBrush(c, Step(3), nullptr), 1);
  Lines expected;
  for (int s = 0; s < 24; ++s) expected.push_back(std::to_string(s) + "  0");
  expected.insert(expected.end(), {"0 X:$c1 1", "1 D:$A3 1", "2 X:$bc 1"});
  EXPECT_EQ(card.sources, expected);
}

TEST(CurrentLoopStep, ClockArithmetic) {
  struct Case {
    const char* i900;
    const char* i901;
    const char* i10;
    const char* phase;
    const char* servo;
    const char* sample;
  };
  const Case cases[] = {
      {"6527", "0", "3713707", "I902=0", "I10=928426", "0.000111"},
      {"1473", "1", "3713707", "I902=2", "I10=2785280", "0.000050"},
      // The product I10 x (new I902 + 1) passes 32 bits; the quotient fits.
      {"1473", "1", "1000000000", "I902=2", "I10=750000000", "0.000050"},
  };
  for (const auto& c : cases) {
    StepCard card;
    card.Reply("I900", std::string(c.i900) + "\r");
    card.Reply("I901", std::string(c.i901) + "\r");
    card.Reply("I10", std::string(c.i10) + "\r");
    auto path = card.Card();
    char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
    ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(1), text), 1) << c.i900;
    auto at = std::find(card.sent.begin(), card.sent.end(), "I900");
    ASSERT_LE(at + 4, card.sent.end());
    EXPECT_EQ(*(at + 1), c.phase) << c.i900;
    EXPECT_EQ(*(at + 2), "I10") << c.i900;
    EXPECT_EQ(*(at + 3), c.servo) << c.i900;
    EXPECT_STREQ(text, c.sample) << c.i900;
  }
}

TEST(CurrentLoopStep, TheOtherMotorsAreKilledFromTheNextOneRound) {
  struct Case {
    int motor;
    Lines kills;
  };
  const Case cases[] = {
      {8,
       {"#1K I100=0 I101=0", "#2K I200=0 I201=0", "#3K I300=0 I301=0", "#4K I400=0 I401=0",
        "#5K I500=0 I501=0", "#6K I600=0 I601=0", "#7K I700=0 I701=0", "#8K"}},
      {3,
       {"#4K I400=0 I401=0", "#5K I500=0 I501=0", "#6K I600=0 I601=0", "#7K I700=0 I701=0",
        "#8K I800=0 I801=0", "#1K I100=0 I101=0", "#2K I200=0 I201=0", "#3K"}},
  };
  for (const auto& c : cases) {
    StepCard card;
    auto path = card.Card();
    ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(c.motor), nullptr), 1);
    Lines kills;
    for (const auto& line : card.sent) {
      if (line.size() > 2 && line[0] == '#' && line.find('K') != std::string::npos) {
        kills.push_back(line);
      }
    }
    EXPECT_EQ(kills, c.kills) << c.motor;
  }
}

// The restore's lines for the saved values of a motor-1 test on the card.
Lines FullRestore(const char* first_clock, const char* second_clock) {
  return {"I161=0.000000", "I162=0.000000", "I176=0.000000", "I171=0", "I177=0", "I10=3713707",
          first_clock,     second_clock,    "I200=1",        "I201=0", "I300=1", "I301=0",
          "I400=1",        "I401=0",        "I500=1",        "I501=0", "I600=1", "I601=0",
          "I700=1",        "I701=0",        "I800=1",        "I801=0", "I8=0"};
}

void ReplyCardValues(StepCard& card) {
  for (int m = 1; m <= 8; ++m) {
    card.Reply("I" + std::to_string(m * 100), "1\r");
    card.Reply("I" + std::to_string(m * 100 + 1), "0\r");
  }
  for (const char* gain : {"I161", "I162", "I176"}) card.Reply(gain, "0\r");
  for (const char* value : {"I171", "I177", "I8"}) card.Reply(value, "0\r");
  card.Reply("I997", "0\r");
  card.Reply("I998", "3\r");
  card.Reply("I992", "6527\r");
}

TEST(CurrentLoopRestore, WritesBackWhatTheTestSaved) {
  struct Case {
    bool compact;
    const char* first;
    const char* second;
  };
  for (const Case& c : {Case{false, "I901=0", "I902=3"}, Case{true, "I997=0", "I998=3"}}) {
    tuning::ForgetCurrentLoopTest();
    StepCard card;
    ReplyCardValues(card);
    auto path = card.Card();
    char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
    ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(1, 4, c.compact), text), 1);
    if (c.compact) {
      // The compact card's clock variables, never the others.
      EXPECT_NE(std::find(card.sent.begin(), card.sent.end(), "I998=0"), card.sent.end());
      EXPECT_EQ(std::find(card.sent.begin(), card.sent.end(), "I902=0"), card.sent.end());
      EXPECT_STREQ(text, "0.000111");
    }
    card.sent.clear();
    EXPECT_EQ(tuning::RestoreModifiedIvars(path, 1), 1);
    EXPECT_EQ(card.sent, FullRestore(c.first, c.second)) << c.compact;
  }
}

TEST(CurrentLoopRestore, SendsNothingWithoutATestOfThatDeviceAndMotor) {
  tuning::ForgetCurrentLoopTest();
  StepCard card;
  auto path = card.Card();
  EXPECT_EQ(tuning::RestoreModifiedIvars(path, 1), 0);  // a fresh process
  ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(2), nullptr), 1);
  card.sent.clear();
  EXPECT_EQ(tuning::RestoreModifiedIvars(path, 1), 0);  // another motor
  auto other = card.Card();
  other.device = 1;
  EXPECT_EQ(tuning::RestoreModifiedIvars(other, 2), 0);  // another device
  EXPECT_TRUE(card.sent.empty());
}

TEST(CurrentLoopRestore, AValueTheCardDidNotGiveIsNotWrittenBack) {
  tuning::ForgetCurrentLoopTest();
  StepCard card;
  ReplyCardValues(card);
  // A card error and an answer that is no number: the test goes on.
  card.Reply("I162", "\aERR003\r", kStatusCardError);
  card.Reply("I8", "\r");
  auto path = card.Card();
  ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(1), nullptr), 1);
  card.sent.clear();
  ASSERT_EQ(tuning::RestoreModifiedIvars(path, 1), 1);
  Lines expected = FullRestore("I901=0", "I902=3");
  expected.erase(std::remove(expected.begin(), expected.end(), "I162=0.000000"), expected.end());
  expected.pop_back();  // I8
  EXPECT_EQ(card.sent, expected);
}

TEST(CurrentLoopStep, UnreadableClockSettingsAreNeverWritten) {
  // The three clock settings are read together, I10 after the new I902 is
  // set; the test stops at the first it cannot use, and the restore puts
  // back the I902 it changed.
  struct Case {
    const char* name;
    const char* last;
    bool phase_set;
  };
  const Case cases[] = {{"I901", "I900", false},
                        {"I902", "I900", false},
                        {"I900", "I900", false},
                        {"I10", "I10", true}};
  for (const auto& c : cases) {
    tuning::ForgetCurrentLoopTest();
    StepCard card;
    card.Reply(c.name, "\aERR003\r", kStatusCardError);
    auto path = card.Card();
    EXPECT_EQ(tuning::DoACurrentLoopStep(path, Step(1), nullptr), 0) << c.name;
    EXPECT_EQ(card.sent.back(), c.last) << c.name;
    EXPECT_EQ(std::count(card.sent.begin(), card.sent.end(), "I902=0"), c.phase_set ? 1 : 0)
        << c.name;
    for (const auto& line : card.sent) EXPECT_NE(line.rfind("I10=", 0), 0u) << c.name;
    EXPECT_EQ(card.locks(), 0);
    card.sent.clear();
    ASSERT_EQ(tuning::RestoreModifiedIvars(path, 1), 1);
    const bool restores_phase = std::count(card.sent.begin(), card.sent.end(), "I902=3") == 1;
    EXPECT_EQ(restores_phase, std::string(c.name) != "I902") << c.name;
  }
}

TEST(CurrentLoopStep, ACardThatFallsSilentGetsNothingMoreAndTheChangesStayRestorable) {
  for (const auto& kind : kKinds) {
    const Lines whole = Scripted(kind);
    // Up to the line that sets I3=0, every line is an exchange of its own.
    const auto last =
        std::find(whole.begin(), whole.end(), "I3=0 I5=2 I6=1 I19=1 I63=1I64=1") - whole.begin();
    int exchanges = 0;
    for (long i = 0; i <= last; ++i) {
      if (whole[i].rfind(kGatherMark, 0) == 0) continue;
      tuning::ForgetCurrentLoopTest();
      StepCard card;
      ReplyCardValues(card);
      card.Lose(exchanges);
      auto path = card.Card();
      EXPECT_EQ(kind.run(path, Step(1), nullptr), 0) << kind.name << " cut at " << whole[i];
      const Lines expected(whole.begin(), whole.begin() + i + 1);
      Lines sent = expected;
      if (testing::BufferLeftOpen(whole, static_cast<std::size_t>(i))) sent.push_back("CLOSE");
      EXPECT_EQ(card.sent, sent) << kind.name << " cut at " << whole[i];
      EXPECT_EQ(card.locks(), 0);

      // Once the card answers, the restore writes back exactly the values
      // read before the cut.
      const std::set<std::string> answered(expected.begin(), expected.end() - 1);
      Lines restore;
      for (const auto& line : FullRestore("I901=0", "I902=3")) {
        if (answered.count(line.substr(0, line.find('='))) != 0) restore.push_back(line);
      }
      card.Answer();
      card.sent.clear();
      EXPECT_EQ(tuning::RestoreModifiedIvars(path, 1), 1);
      EXPECT_EQ(card.sent, restore) << kind.name << " cut at " << whole[i];
      ++exchanges;
    }
  }
}

TEST(CurrentLoopRestore, ACardThatFallsSilentKeepsTheSavedValuesForAnotherTry) {
  tuning::ForgetCurrentLoopTest();
  StepCard card;
  ReplyCardValues(card);
  auto path = card.Card();
  ASSERT_EQ(tuning::DoACurrentLoopStep(path, Step(1), nullptr), 1);
  StepCard lost;
  ReplyCardValues(lost);
  lost.Lose(5);
  auto dead = lost.Card();
  EXPECT_EQ(tuning::RestoreModifiedIvars(dead, 1), 0);
  const Lines full = FullRestore("I901=0", "I902=3");
  EXPECT_EQ(lost.sent, Lines(full.begin(), full.begin() + 6));
  lost.Answer();
  lost.sent.clear();
  EXPECT_EQ(tuning::RestoreModifiedIvars(dead, 1), 1);
  EXPECT_EQ(lost.sent, full);
}

TEST(CurrentLoopStep, TheCompletionPollEndsAfterItsBound) {
  for (const auto& kind : kKinds) {
    StepCard card;
    card.PollAnswers({"0\r"});  // the step never ends
    auto path = card.Card();
    const auto start = platform::CurrentClock().Now();
    EXPECT_EQ(kind.run(path, Step(1), nullptr), 0) << kind.name;
    const auto waited = platform::CurrentClock().Now() - start;
    // 1 s + the 10 ms dwell + 5 s, and not much more.
    EXPECT_GE(waited, std::chrono::milliseconds(6010)) << kind.name;
    EXPECT_LT(waited, std::chrono::milliseconds(6100)) << kind.name;
    EXPECT_EQ(card.locks(), 0) << kind.name;
    // The card still answers: its handshake is put back.
    auto poll_end = std::find(card.sent.rbegin(), card.sent.rend(), "P1019");
    ASSERT_NE(poll_end, card.sent.rend());
    EXPECT_EQ(*(poll_end - 1), "I3=2") << kind.name;
  }
  // An answer other than 1 keeps the poll going; 1 ends it.
  StepCard card;
  card.PollAnswers({"0\r", "0\r", "1\r"});
  auto path = card.Card();
  EXPECT_EQ(tuning::DoACurrentLoopStep(path, Step(1), nullptr), 1);
  EXPECT_EQ(std::count(card.sent.begin(), card.sent.end(), "P1019"), 3);
  EXPECT_EQ(card.sent.back(), "I3=2");
}

TEST(CurrentLoopStep, ACardLostDuringThePollGetsNoFurtherLine) {
  StepCard card;
  const Lines whole = Scripted(kKinds[0]);
  // Lost once the step is started: the poll hears nothing.
  const auto started = std::find(whole.begin(), whole.end(), "ENA PLC 31") - whole.begin();
  card.Lose(static_cast<int>(started));  // "ENA PLC 31" goes out, the poll hears nothing
  auto path = card.Card();
  EXPECT_EQ(tuning::DoACurrentLoopStep(path, Step(1), nullptr), 0);
  EXPECT_EQ(std::count(card.sent.begin(), card.sent.end(), "I3=2"), 0);
  EXPECT_EQ(card.locks(), 0);
}

TEST(CurrentLoopStep, RefusedWithoutTraffic) {
  for (const auto& kind : kKinds) {
    for (int motor : {0, 9, -1}) {
      StepCard card;
      auto path = card.Card();
      EXPECT_EQ(kind.run(path, Step(motor), nullptr), 0) << kind.name << " " << motor;
      EXPECT_EQ(tuning::RestoreModifiedIvars(path, motor), 0);
      EXPECT_TRUE(card.sent.empty() && card.sources.empty()) << kind.name << " " << motor;
    }
    StepCard card;
    auto spran = card.Card(true);
    EXPECT_EQ(kind.run(spran, Step(1), nullptr), 0) << kind.name;
    // An integral gain of 0.25 / 0 is no gain.
    auto older = card.Card();
    EXPECT_EQ(kind.run(older, Step(1, 0), nullptr), 0) << kind.name;
    EXPECT_TRUE(card.sent.empty() && card.sources.empty()) << kind.name;
  }
}

#ifdef CURRENT_LOOP_TEST_WITH_CARD

using namespace zimo::corvan::testing;

// On the simulated card over the serial link, as a client runs a test:
// step, collect the gathered data, restore.
class CurrentLoopCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tuning::ForgetCurrentLoopTest();
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    // The clocks of a standard card, and a real-time buffer switched on
    // (the test switches it off and leaves it so).
    for (const char* line : {"I900=6527", "I901=0", "I902=3", "I10=3713707", "I48=1"}) {
      ASSERT_EQ(card_->card().Execute(line).error, 0);
    }
    card_->card().StartServoClock(4.0);
    card_->card().script().ClearLog();
  }
  void TearDown() override {
    card_->card().StopServoThread();
    ShutdownZimoDevice(0, 1);
    App().End();
  }

  // The card's log with each run of completion polls shown once.
  Lines Received() {
    Lines out;
    for (const auto& line : card_->received()) {
      if (line == "P1019" && !out.empty() && out.back() == "P1019") continue;
      out.push_back(line);
    }
    return out;
  }

  // The samples of gather source `source` after collecting them.
  std::vector<std::int32_t> Gathered(std::uint32_t source) {
    std::uint32_t sources = 0, samples = 0;
    EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 1);
    EXPECT_EQ(sources, 3u);
    std::vector<double> values(samples);
    std::uint32_t count = 0;
    EXPECT_EQ(ZimoGetGatherSamples(0, source, &count, values.data(), samples), 1);
    std::vector<std::int32_t> out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(static_cast<std::int32_t>(values[i]));
    return out;
  }

  // The rise time (seconds) of a gathered current step.
  static double RiseTime(const std::vector<std::int32_t>& samples, std::int32_t step) {
    char rise[ZIMO_STEP_TEXT_SIZE], peak[ZIMO_STEP_TEXT_SIZE], natural[ZIMO_STEP_TEXT_SIZE],
        overshoot[ZIMO_STEP_TEXT_SIZE], damping[ZIMO_STEP_TEXT_SIZE], settling[ZIMO_STEP_TEXT_SIZE];
    CalculateStepStatistics(samples.data(), static_cast<std::int32_t>(samples.size()), step, 928426,
                            1, rise, peak, natural, overshoot, damping, settling);
    return std::strtod(rise, nullptr);
  }

  zimo::testing::TempHome home_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

// A current word's 16-bit reading (bits 8-23) of a step of 1000.
constexpr std::int32_t kStepReading = 1000 * 256;

TEST_F(CurrentLoopCardTest, ABrushlessStepRisesSettlesAndIsRestored) {
  const auto before = card_->card().TakeSnapshot();
  char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
  ASSERT_EQ(DoACurrentLoopStep(0, 1, 10, 1000, 1, text, 50, 4, 0), 1);
  EXPECT_STREQ(text, "0.000111");
  // The last line goes out without a reply to wait for.
  ASSERT_TRUE(card_->Received("I3=2"));
  const Lines got = Received();
  EXPECT_EQ(got, GoldenLines("current_loop_brushless_older.txt"));
  // The handshake is back: the card's answers end with ACK again.
  EXPECT_EQ(ZimoGetVariableLong(0, 'P', 1019, -1), 1);

  // Source 2 is motor 1's direct current: a first-order rise from 0 that
  // settles at the step.
  const std::vector<std::int32_t> current = Gathered(2);
  ASSERT_GE(current.size(), 80u);  // 10 ms of 0.111 ms samples
  EXPECT_EQ(current.front(), 0);
  for (std::size_t i = 1; i < current.size(); ++i) EXPECT_GE(current[i], current[i - 1]) << i;
  EXPECT_GT(current.back(), kStepReading * 99 / 100);
  EXPECT_LE(current.back(), kStepReading);
  // No overshoot, and 63 % of the step after one time constant (1.38 ms
  // with the integral gain 0.25 / 4): between samples 12 and 14.
  const auto tau = std::find_if(current.begin(), current.end(),
                                [](std::int32_t v) { return v >= kStepReading * 632 / 1000; });
  EXPECT_NEAR(tau - current.begin(), 13, 1);

  ASSERT_EQ(RestoreModifiedIvars(0, 1), 1);
  const Lines changed = cardsim::Card::Compare(before, card_->card().TakeSnapshot());
  EXPECT_EQ(changed, (Lines{"I5: 0 -> 2", "I19: 0 -> 1", "I20: 0 -> 7", "I21: 0 -> 8388648",
                            "I22: 0 -> 8388651", "I23: 0 -> 68", "I48: 1 -> 0", "I101: 0 -> 1"}));
}

TEST_F(CurrentLoopCardTest, TheRiseTimeGrowsWithTheDivisor) {
  double previous = 0;
  for (int divisor : {1, 4, 16}) {
    char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
    ASSERT_EQ(DoACurrentLoopStep(0, 1, 30, 1000, 1, text, 50, divisor, 0), 1) << divisor;
    const double rise = RiseTime(Gathered(2), kStepReading);
    EXPECT_GT(rise, previous) << divisor;
    previous = rise;
    ASSERT_EQ(RestoreModifiedIvars(0, 1), 1);
  }
}

TEST_F(CurrentLoopCardTest, ABrushStepDrivesTheOutputWordInOpenLoop) {
  char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
  ASSERT_EQ(DoACurrentLoopStepBrush(0, 1, 10, 1000, 1, text, 50, 4, 0), 1);
  EXPECT_STREQ(text, "0.000111");
  EXPECT_EQ(Received(), GoldenLines("current_loop_brush_older.txt"));
  // Source 2 is X:$44, the quadrature current: the step written into the
  // output field (16 to an output unit) is 62.5 units.
  const std::vector<std::int32_t> current = Gathered(2);
  ASSERT_GE(current.size(), 80u);
  EXPECT_EQ(current.front(), 0);
  EXPECT_GT(current.back(), 625 * 256 / 10 * 99 / 100);
  EXPECT_LE(current.back(), 625 * 256 / 10 + 128);
  card_->card().script().ClearLog();
  ASSERT_EQ(RestoreModifiedIvars(0, 1), 1);
  EXPECT_EQ(Received(), FullRestore("I901=0", "I902=3"));
}

TEST_F(CurrentLoopCardTest, RestoreInAFreshProcessSendsNothing) {
  EXPECT_EQ(RestoreModifiedIvars(0, 1), 0);
  EXPECT_TRUE(card_->received().empty());
}

TEST_F(CurrentLoopCardTest, ACardSilentPartWayIsRestoredToItsSetUpOnceItAnswers) {
  const auto before = card_->card().TakeSnapshot();
  const Lines whole = GoldenLines("current_loop_brushless_older.txt");
  // Cut points after the gather set-up: inside the program, among the kills,
  // within the clock arithmetic, and at the line that sets I3=0.
  for (const char* cut : {"OPEN PLC 31 CLEAR", "#5K I500=0 I501=0", "I902=0", "I10=928426",
                          "I3=0 I5=2 I6=1 I19=1 I63=1I64=1"}) {
    card_->card().script().ClearLog();
    card_->card().script().SilenceAt(cut, -1);
    char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
    EXPECT_EQ(DoACurrentLoopStep(0, 1, 10, 1000, 1, text, 50, 4, 0), 0) << cut;
    // Nothing of the test after the line that got no answer. The serial
    // link's own restore line after the time-out may or may not have
    // reached the card's log yet: it is the link's, not the test's.
    const Lines got = card_->received();
    auto at = std::find(got.begin(), got.end(), cut);
    ASSERT_NE(at, got.end()) << cut;
    for (auto it = at + 1; it != got.end(); ++it) {
      if (*it == "I3=2 I6=1") continue;
      EXPECT_EQ(std::find(whole.begin(), whole.end(), *it), whole.end()) << cut << ": " << *it;
    }
    card_->card().script().ClearSilence();
    ASSERT_EQ(RestoreModifiedIvars(0, 1), 1) << cut;
    // What stays changed is what the test set before it reached I3=0 and
    // does not restore: the gather sources, motor 1's activation, and
    // nothing of the clocks or the other motors.
    for (const auto& line : cardsim::Card::Compare(before, card_->card().TakeSnapshot())) {
      const std::string name = line.substr(0, line.find(':'));
      EXPECT_TRUE(name == "I20" || name == "I21" || name == "I22" || name == "I23" ||
                  name == "I48" || name == "I101")
          << cut << ": " << line;
    }
  }
}

#endif  // CURRENT_LOOP_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
