// Status queries against a simulated card on PCI, USB and Ethernet, both
// card generations: with the fixed buffers live the queries answer from the
// host copies and send nothing (but what must always be asked), and their
// answers equal the card's own ASCII answers asked with the buffers off.
// Also the buffer-open queries, the lines the ASCII forms send, and numbers
// outside the card's range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "corvan/panel_api.h"
#include "corvan/status_api.h"
#include "corvan/status_query_api.h"
#include "status_rig.h"

namespace zimo::corvan {
namespace {

using testing::RigKind;
using Texts = std::vector<std::string>;

class StatusQueriesTest : public testing::StatusRigTest {
 protected:
  // System 1 runs program 1 with motor 1 as its X axis: a linear move, then
  // a long dwell, in which the card stands still between servo steps.
  void RunProgramOne() {
    Ask("&1#1->1000X");
    Ask("OPEN PROG 1 CLEAR");
    Ask("LINEAR");
    Ask("TM200");
    Ask("X2");
    Ask("DWELL 100000");
    Ask("CLOSE");
    Ask("&1B1R");
    rig().Servo(2000);
  }
  void BuffersOn() {
    if (Spran()) {
      ASSERT_EQ(ZimoDPRRealTimeEx(0, 0x3, 1, 1), 1);
      ASSERT_EQ(ZimoDPRBackgroundEx(0, 1, 1, 2), 1);
    } else {
      ASSERT_EQ(ZimoDPRRealTimeEx(0, 0x3, 1, 1), 1);
      ASSERT_EQ(ZimoDPRBackgroundEx(0, 1, 1, 2), 1);
    }
    rig().Servo(2);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    ZimoDPRUpdateBackground(0);
    rig().Lines();
  }
  void BuffersOff() {
    ZimoDPRRealTime(0, 1, 0);
    ZimoDPRBackground(0, 0);
    ASSERT_EQ(block().RealTimeActive, 0u);
    ASSERT_EQ(block().BackgroundActive, 0u);
    rig().Lines();
  }
};

// The queries and their ASCII twins.
class StatusTwinsTest : public StatusQueriesTest {};

struct Query {
  const char* name;
  std::function<double()> read;
  double tolerance;  // the card's ASCII answers are rounded
};

std::vector<Query> Queries() {
  auto out = [](void (*f)(std::uint32_t, std::int32_t, double, double*)) {
    return [f] {
      double v = -1;
      f(0, 0, 1, &v);
      return v;
    };
  };
  auto cs_bit = [](std::int32_t (*f)(std::uint32_t, std::int32_t)) {
    return [f] { return static_cast<double>(f(0, 0)); };
  };
  return {
      {"commanded", [] { return ZimoGetCommandedPos(0, 0, 1); }, 0},
      {"actual", [] { return ZimoPosition(0, 0, 1); }, 0},
      {"net actual", [] { return ZimoNetActualPosition(0, 0, 1); }, 0},
      {"following error", [] { return ZimoFollowError(0, 0, 1); }, 0.15},
      {"velocity", [] { return ZimoGetVel(0, 0, 1); }, 0.01},
      {"master", out(ZimoGetMasterPos), 0},
      {"compensation", out(ZimoGetCompensationPos), 0},
      {"execution address", [] { return static_cast<double>(ZimoPe(0, 0)); }, 0},
      {"lines remaining", [] { return static_cast<double>(ZimoProgRemaining(0, 0)); }, 0},
      {"running", cs_bit(ZimoProgRunning), 0},
      {"stepping", cs_bit(ZimoProgStepping), 0},
      {"continuous", cs_bit(ZimoProgContMotion), 0},
      {"continuous request", cs_bit(ZimoProgContRequest), 0},
      {"rotary full", cs_bit(ZimoRotBufFull), 0},
      {"system in position", cs_bit(ZimoSysInposition), 0},
      {"system warning", cs_bit(ZimoSysWarnFError), 0},
      {"system fatal", cs_bit(ZimoSysFatalFError), 0},
      {"system amplifier", cs_bit(ZimoSysAmpFaultError), 0},
      {"circle radius", cs_bit(ZimoSysCircleRadError), 0},
      {"run time", cs_bit(ZimoSysRunTimeError), 0},
      {"enabled", cs_bit(ZimoMotorEnabled), 0},
      {"negative limit", cs_bit(ZimoOnNegativeLimit), 0},
      {"positive limit", cs_bit(ZimoOnPositiveLimit), 0},
      {"open loop", cs_bit(ZimoOpenLoop), 0},
      {"data block", cs_bit(ZimoDataBlock), 0},
      {"handwheel", cs_bit(ZimoHandwheelEnabled), 0},
      {"phased", cs_bit(ZimoPhasedMotor), 0},
      {"amplifier enabled", cs_bit(ZimoAmpEnabled), 0},
      {"in position", cs_bit(ZimoInposition), 0},
      {"warning", cs_bit(ZimoWarnFError), 0},
      {"fatal", cs_bit(ZimoFatalFError), 0},
      {"amplifier fault", cs_bit(ZimoAmpFault), 0},
      {"home complete", cs_bit(ZimoHomeComplete), 0},
      {"position limit", cs_bit(ZimoOnPositionLimit), 0},
  };
}

TEST_P(StatusTwinsTest, DprAnswersEqualTheCardsAsciiAnswers) {
  RunProgramOne();
  BuffersOn();
  std::vector<double> dpr;
  for (const Query& q : Queries()) dpr.push_back(q.read());
  // From the copies nothing is asked, but SPRAN cards are always asked their
  // actual and compensation positions.
  EXPECT_EQ(rig().Lines(), Spran() ? (Texts{"RL$8b", "RL$90"}) : Texts{});

  BuffersOff();
  const std::vector<Query> queries = Queries();
  for (std::size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(queries[i].name);
    EXPECT_NEAR(queries[i].read(), dpr[i], queries[i].tolerance);
  }
  // The card's state is what the program makes of it, not zeros.
  EXPECT_NEAR(ZimoGetCommandedPos(0, 0, 1), 2000, 1);
  EXPECT_EQ(ZimoProgRunning(0, 0), 1);
  EXPECT_EQ(ZimoMotorEnabled(0, 0), 1);
  EXPECT_GT(ZimoPe(0, 0), 0);
  EXPECT_GT(ZimoProgRemaining(0, 0), 0);
  const Texts lines = rig().Lines();
  for (const char* line : {Spran() ? "RL$88" : "RL$28", "#1F", "#1V", "&1PE", "&1PR", "^C",
                           Spran() ? "rhx:$B0" : "rhx:$3D", Spran() ? "rhy:$C0" : "rhy:$814"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
}

// The motor bits with one fixed buffer running and the other off: the
// servo word lives in the real-time copy on every card, the motor word in
// the real-time copy on SPRAN cards and in the background copy on older
// ones. A word whose copy is off is asked of the card, so every state gives
// the same answers, and enabled and in position read 1 in the dwell.
TEST_P(StatusTwinsTest, MotorBitsComeFromTheCopyHoldingTheirWord) {
  RunProgramOne();
  using Bit = std::int32_t (*)(std::uint32_t, std::int32_t);
  const Bit bits[] = {ZimoMotorEnabled,  ZimoOnNegativeLimit, ZimoOnPositiveLimit,
                      ZimoOpenLoop,      ZimoDataBlock,       ZimoHandwheelEnabled,
                      ZimoPhasedMotor,   ZimoAmpEnabled,      ZimoInposition,
                      ZimoWarnFError,    ZimoFatalFError,     ZimoAmpFault,
                      ZimoHomeComplete,  ZimoOnPositionLimit};
  auto read_all = [&] {
    std::vector<std::int32_t> v;
    for (Bit b : bits) v.push_back(b(0, 0));
    return v;
  };
  const char* servo_ask = Spran() ? "rhx:$B0" : "rhx:$3D";
  const char* motor_ask = Spran() ? "rhy:$C0" : "rhy:$814";

  // Background only.
  ASSERT_EQ(ZimoDPRBackgroundEx(0, 1, 1, 2), 1);
  rig().Servo(2);
  ZimoDPRUpdateBackground(0);
  rig().Lines();
  const std::vector<std::int32_t> background_only = read_all();
  EXPECT_EQ(background_only[0], 1);  // enabled
  EXPECT_EQ(background_only[8], 1);  // in position
  {
    const Texts lines = rig().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), servo_ask), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), motor_ask) != lines.end(), Spran());
  }
  ZimoDPRBackground(0, 0);

  // Real time only.
  ASSERT_EQ(ZimoDPRRealTimeEx(0, 0x3, 1, 1), 1);
  rig().Servo(2);
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  rig().Lines();
  EXPECT_EQ(read_all(), background_only);
  {
    const Texts lines = rig().Lines();
    EXPECT_EQ(std::find(lines.begin(), lines.end(), servo_ask), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), motor_ask) != lines.end(), !Spran());
  }

  // Both, then neither.
  BuffersOn();
  EXPECT_EQ(read_all(), background_only);
  BuffersOff();
  EXPECT_EQ(read_all(), background_only);
}

// A program running linear in system 1, over the DPR: running, mode 1,
// motion mode 0; on hold through the panel 3; stepping 2. The buffer-open
// queries answer alike from the copy and from the card.
TEST_P(StatusTwinsTest, ProgramStateAndOpenBuffersReadAlikeOverDprAndAscii) {
  RunProgramOne();
  BuffersOn();
  EXPECT_EQ(ZimoDPRProgRunning(0, 0), 1);
  EXPECT_EQ(ZimoDPRGetProgramMode(0, 0), 1);
  EXPECT_EQ(ZimoDPRGetMotionMode(0, 0), 0);

  ASSERT_EQ(ZimoDPRControlPanel(0, 1), 1);
  ASSERT_EQ(ZimoDPRSetHoldBit(0, 1, 1), 1);
  ASSERT_EQ(ZimoDPRSetRequestBit(0, 1, 1), 1);
  rig().Servo(2);
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  ZimoDPRUpdateBackground(0);
  EXPECT_EQ(ZimoDPRGetProgramMode(0, 0), 3);
  EXPECT_EQ(ZimoDPRGetRequestBit(0, 1), 0);  // served

  ASSERT_EQ(ZimoDPRSetHoldBit(0, 1, 0), 1);
  ASSERT_EQ(ZimoDPRSetStepBit(0, 1, 1), 1);
  ASSERT_EQ(ZimoDPRSetRequestBit(0, 1, 1), 1);
  rig().Servo(2);
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  ZimoDPRUpdateBackground(0);
  EXPECT_EQ(ZimoDPRGetProgramMode(0, 0), 2);
  EXPECT_EQ(ZimoDPRProgStepping(0, 0), 1);
  ZimoDPRControlPanel(0, 0);

  const char* const opens[] = {"OPEN PROG 7", "OPEN ROT", nullptr};
  for (const char* open : opens) {
    SCOPED_TRACE(open != nullptr ? open : "none open");
    Ask("CLOSE");
    if (open != nullptr) Ask(open);
    rig().Servo(2);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    ZimoDPRUpdateBackground(0);
    rig().Lines();
    const int motion = ZimoMotionBufOpen(0), rotary = ZimoRotBufOpen(0);
    EXPECT_EQ(rig().Lines(), Texts{}) << "asked the card with the DPR usable";
    App().User(0)->DprAvailable = 0;
    EXPECT_EQ(ZimoMotionBufOpen(0), motion);
    EXPECT_EQ(ZimoRotBufOpen(0), rotary);
    App().User(0)->DprAvailable = 1;
    EXPECT_EQ(motion, open != nullptr && std::string(open) == "OPEN PROG 7" ? 1 : 0);
    EXPECT_EQ(rotary, open != nullptr && std::string(open) == "OPEN ROT" ? 1 : 0);
  }
  Ask("CLOSE");
}

// The ASCII forms at the generation's addresses, in lower-case hex; a SPRAN
// card's actual position is asked even with the real-time copy live.
TEST_P(StatusQueriesTest, AsciiFormsAskTheGenerationsAddresses) {
  ZimoGetCommandedPos(0, 1, 1);
  ZimoPosition(0, 1, 1);
  double v = 0;
  ZimoGetMasterPos(0, 1, 1, &v);
  ZimoGetCompensationPos(0, 1, 1, &v);
  ZimoFollowError(0, 0, 1);
  uint32_t words[2] = {};
  ZimoGetMotorStatus(0, 1, words);
  if (Spran()) {
    EXPECT_EQ(rig().Lines(),
              (Texts{"RL$108", "RL$10b", "RL$10d", "RL$110", "#1F", "rhx:$130", "rhy:$140"}));
    ASSERT_EQ(ZimoDPRRealTimeEx(0, 0x3, 1, 1), 1);
    rig().Servo(1);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    rig().Lines();
    ZimoPosition(0, 1, 1);
    EXPECT_EQ(rig().Lines(), Texts{"RL$10b"});
  } else {
    EXPECT_EQ(rig().Lines(),
              (Texts{"RL$64", "RL$67", "RL$69", "RL$86", "#1F", "rhx:$79", "rhy:$8D4"}));
  }
}

// Motors and systems past the card's range give 0 and ask nothing, with the
// copies live or not.
TEST_P(StatusQueriesTest, NumbersOutsideTheCardsRangeGiveZeroAndAskNothing) {
  const int motor = Spran() ? 32 : 8;
  for (bool live : {false, true}) {
    SCOPED_TRACE(live ? "copies live" : "ASCII");
    if (live) BuffersOn();
    uint32_t words[2] = {7, 7};
    double out = 7;
    EXPECT_EQ(ZimoGetMotorStatus(0, motor, words), 0);
    EXPECT_EQ(ZimoGetCoordStatus(0, 8, words), 0);
    EXPECT_EQ(words[0], 7u);
    EXPECT_EQ(ZimoPosition(0, motor, 1), 0);
    EXPECT_EQ(ZimoGetCommandedPos(0, -1, 1), 0);
    EXPECT_EQ(ZimoFollowError(0, motor, 1), 0);
    ZimoGetMasterPos(0, motor, 1, &out);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(ZimoMotorEnabled(0, motor), 0);
    EXPECT_EQ(ZimoProgRunning(0, 16), 0);
    EXPECT_EQ(ZimoPe(0, 16), 0);
    EXPECT_EQ(ZimoProgRemaining(0, -1), 0);
    EXPECT_EQ(ZimoPosition(0, 0, 0), 0);  // scale 0
    EXPECT_EQ(rig().Lines(), Texts{});
  }
}

// The card in this process, for what only a scripted card shows.
class ScriptedStatusTest : public StatusQueriesTest {
 protected:
  cardsim::Card& card() { return *rig().card(); }
  testing::EthRig& eth() { return static_cast<testing::EthRig&>(rig()); }
};

// Without the DPR every query that may ask the card does, even with the
// buffers' flags on; the DPR-only ones give 0 and ask nothing. Through the
// DPR mailbox they read the copies.
TEST_P(ScriptedStatusTest, WithoutDprTheCardIsAskedAndDprOnlyQueriesGiveZero) {
  RunProgramOne();
  BuffersOn();
  App().User(0)->DprAvailable = 0;
  block().RealTimeActive = 1;
  block().BackgroundActive = 1;
  EXPECT_NEAR(ZimoGetCommandedPos(0, 0, 1), 2000, 1);
  EXPECT_EQ(ZimoProgRunning(0, 0), 1);
  EXPECT_EQ(rig().Lines(), (Texts{Spran() ? "RL$88" : "RL$28", "^C"}));

  std::uint32_t flag = 7;
  EXPECT_EQ(ZimoGetFeedRateMode(0, 0, &flag), 0);
  EXPECT_EQ(flag, 7u);
  EXPECT_EQ(ZimoGetTargetPos(0, 0, 1), 0);
  EXPECT_EQ(ZimoGetBiasPos(0, 0, 1), 0);
  EXPECT_EQ(ZimoGetAxisTargetPos(0, 0, 'X'), 0);
  EXPECT_EQ(ZimoTimeRemInMove(0, 0), 0);
  EXPECT_EQ(ZimoTimeRemInTATS(0, 0), 0);
  ZimoSetJogReturn(0, 0);
  EXPECT_EQ(rig().Lines(), Texts{});

  App().User(0)->DprAvailable = 1;
  App().User(0)->AsciiCommMode = 1;
  EXPECT_EQ(ZimoGetFeedRateMode(0, 0, &flag), 100);  // the system's feed override
  EXPECT_EQ(flag, 0u);                               // TM moves: not timed by the feed rate
  EXPECT_EQ(ZimoGetAxisTargetPos(0, 0, 'X'), ZimoDPRCommanded(0, 0, 'X'));
  EXPECT_EQ(ZimoGetAxisTargetPos(0, 0, 'X'), 2);
  EXPECT_EQ(ZimoGetTargetPos(0, 0, 1), ZimoDPRGetTargetPos(0, 0, 1));
  EXPECT_EQ(ZimoTimeRemInMove(0, 0), ZimoDPRTimeRemInMove(0, 0));
  App().User(0)->AsciiCommMode = 0;
}

TEST_P(ScriptedStatusTest, RepliesTheQueriesCannotUseGiveZero) {
  RunProgramOne();
  // The execution address is the number after the ':'.
  eth().StandIn("&1PE", "P1:77\r\x06");
  EXPECT_EQ(ZimoPe(0, 0), 77);
  eth().StandIn("&1PE", "P1\r\x06");
  EXPECT_EQ(ZimoPe(0, 0), 0);
  eth().StandIn("", "");

  // A ^C reply of 100 characters (99 and the CR) is no status; one of 101
  // holds systems 1 to 7, and the eighth's text, past its end, is not read.
  std::uint32_t words[2] = {};
  ASSERT_EQ(ZimoGetCoordStatus(0, 0, words), 1);
  EXPECT_EQ(words[0] & 1u, 1u);
  EXPECT_EQ(ZimoProgRunning(0, 0), 1);
  card().script().SetControlReplyLength(3, 100);
  EXPECT_EQ(ZimoGetCoordStatus(0, 0, words), 1);
  words[0] = 0xEE;
  EXPECT_EQ(ZimoGetCoordStatus(0, 7, words), 0);
  EXPECT_EQ(words[0], 0xEEu);
  card().script().SetControlReplyLength(3, 99);
  words[0] = words[1] = 0xEE;
  EXPECT_EQ(ZimoGetCoordStatus(0, 0, words), 0);
  EXPECT_EQ(words[0], 0xEEu);
  EXPECT_EQ(ZimoProgRunning(0, 0), 0);
  EXPECT_EQ(ZimoSysInposition(0, 0), 0);
  card().script().SetControlReplyLength(3, 0);
  EXPECT_EQ(ZimoProgRunning(0, 0), 1);

  // An error reply is no status word either.
  card().script().InjectError(3, 1);
  EXPECT_EQ(ZimoMotorEnabled(0, 0), 0);
  EXPECT_EQ(ZimoMotorEnabled(0, 0), 1);
}

// The card's global error flags: the reply's digit masked (8, 2, 4, 8), the
// DPR's bits (1) from the copy holding the global words.
TEST_P(ScriptedStatusTest, GlobalErrorFlagsOverAsciiAndDpr) {
  struct Case {
    cardsim::GlobalError error;
    std::int32_t (*ascii)(std::uint32_t);
    std::int32_t (*dpr)(std::uint32_t);
    std::int32_t set;
  };
  const Case cases[] = {
      {cardsim::GlobalError::kServo, ZimoSysServoError, ZimoDPRSysServoError, 8},
      {cardsim::GlobalError::kReEntry, ZimoSysReEntryError, ZimoDPRSysReEntryError, 2},
      {cardsim::GlobalError::kMemoryChecksum, ZimoSysMemChecksumError, ZimoDPRSysMemChecksumError,
       4},
      {cardsim::GlobalError::kPromChecksum, ZimoSysPromChecksumError, ZimoDPRSysPromChecksumError,
       8},
  };
  BuffersOn();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    EXPECT_EQ(c.ascii(0), 0);
    card().SetGlobalError(c.error, true);
    EXPECT_EQ(c.ascii(0), c.set);
    rig().Servo(2);
    ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
    ZimoDPRUpdateBackground(0);
    EXPECT_EQ(c.dpr(0), 1);
    std::uint32_t words[2] = {};
    ASSERT_EQ(ZimoGetGlobalStatus(0, words), 1);
    EXPECT_NE(words[0], 0u);
    card().SetGlobalError(c.error, false);
  }
}

// Jog stop and, on older cards, jog hold as the card reports them.
TEST_P(ScriptedStatusTest, JogStopAndJogHoldProgramModes) {
  BuffersOn();
  card().SetCoordStatusBits(1, 0, 1u << 14);
  rig().Servo(2);
  ZimoDPRUpdateBackground(0);
  EXPECT_EQ(ZimoDPRGetProgramMode(0, 0), 5);
  card().SetCoordStatusBits(1, 0, 1u << 23);
  rig().Servo(2);
  ZimoDPRUpdateBackground(0);
  EXPECT_EQ(ZimoDPRGetProgramMode(0, 0), Spran() ? 0 : 4);
  EXPECT_EQ(ZimoDPRLookAheadEnabled(0, 0), Spran() ? 1 : 0);
}

// Over Ethernet an update reads the buffer in requests of at most 1400
// bytes: 1548 bytes as 1400 and 148 on a SPRAN card, 516 at once on an
// older one.
TEST_P(ScriptedStatusTest, AnUpdateReadsTheBufferInNetworkChunks) {
  BuffersOn();
  rig().Servo(1);
  const std::size_t before = rig().Requests().size();
  ASSERT_EQ(ZimoDPRUpdateRealTime(0), 1);
  std::vector<std::pair<int, int>> reads;
  const std::vector<std::string> requests = rig().Requests();
  for (std::size_t i = before; i < requests.size(); ++i) {
    const testing::Header h = testing::ParseHeader(requests[i]);
    if (h.request == cardsim::request::kReadDpr && h.length > 4) {
      reads.emplace_back(h.value, h.length);
    }
  }
  using Reads = std::vector<std::pair<int, int>>;
  if (Spran()) {
    EXPECT_EQ(reads, (Reads{{0x068, 1400}, {0x068 + 1400, 148}}));
  } else {
    EXPECT_EQ(reads, (Reads{{0x024, 516}}));
  }
}

const RigKind kScriptedRigs[] = {
    {"eth older", kLocationEthernet, false},
    {"eth spran", kLocationEthernet, true},
};
INSTANTIATE_TEST_SUITE_P(Rigs, ScriptedStatusTest, ::testing::ValuesIn(kScriptedRigs),
                         testing::RigName);

const RigKind kRigs[] = {
    {"pci older", kLocationPci, false},      {"pci spran", kLocationPci, true},
    {"usb older", kLocationUsb, false},      {"usb spran", kLocationUsb, true},
    {"eth older", kLocationEthernet, false}, {"eth spran", kLocationEthernet, true},
};
INSTANTIATE_TEST_SUITE_P(Rigs, StatusQueriesTest, ::testing::ValuesIn(kRigs), testing::RigName);

const RigKind kTwinRigs[] = {
    {"pci older", kLocationPci, false},
    {"pci spran", kLocationPci, true},
    {"usb older", kLocationUsb, false},
    {"usb spran", kLocationUsb, true},
    {"eth older", kLocationEthernet, false},
    {"eth spran", kLocationEthernet, true},
};
INSTANTIATE_TEST_SUITE_P(Rigs, StatusTwinsTest, ::testing::ValuesIn(kTwinRigs), testing::RigName);

}  // namespace
}  // namespace zimo::corvan
