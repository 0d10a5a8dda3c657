// The device object's tuning and set-up test rows as a client calls them,
// against the driver host's older card: a current-loop step gathered and
// put back, the autotuning programs run on the card, a current-feedback
// test judged from the card's own readings, and the open-loop tests with
// what they leave on the card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_server_fixture.h"

namespace zimo::server::testing {
namespace {

using automation::S_OK;
using automation::VarType;
using automation::VT_ARRAY;
using automation::VT_BSTR;
using automation::VT_I4;
using automation::VT_R8;
using automation::VT_VARIANT;

enum : DispId {
  kOpen = 0x1,
  kGetResponse = 0x17,
  kGetIVariableDouble = 0x27,
  kIsAnyPlcRunning = 0x49,
  kGetGather = 0x89,
  kCollectGatherData = 0x8d,
  kGetGatherSamples = 0x8e,
  kDownloadCurrentFeedbackTest = 0x9b,
  kReadResultsFromCurrentFeedbackTest = 0x9c,
  kDownloadOpenLoopTest = 0xa0,
  kDownloadOpenLoopTest1 = 0xa1,
  kSetIVarForFeedback = 0xa6,
  kDoACurrentLoopStep = 0xa9,
  kDoACurrentLoopStepBrush = 0xaa,
  kRestoreModifiedIVars = 0xb3,
  kDownloadAutoTuningPlc = 0xb7,
  kDownloadGantryAutoTuningPlcP1 = 0xb8,
  kDownloadGantryAutoTuningPlc = 0xb9,
  kDownloadOpenLoopTestForZimo1 = 0xbd,
};

Variant Short(int16_t v) { return Variant(v); }

// Calls `id` with `in` and one out reference per kind; returns the outs.
std::vector<Variant> Outs(Dispatch& o, DispId id, std::vector<Variant> in,
                          const std::vector<VarType>& kinds) {
  std::vector<Variant> values(kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) in.push_back(Variant::ByRef(&values[i], kinds[i]));
  EXPECT_EQ(Call(o, id, std::move(in)), S_OK) << std::hex << id;
  return values;
}

// A row whose one out value is pbSuccess or pResult.
int32_t Result(Dispatch& o, DispId id, std::vector<Variant> in) {
  const Variant v = Outs(o, id, std::move(in), {VT_I4})[0];
  return v.vt() == VT_I4 ? v.i4() : -999;
}

// The card's answer to `line`, without its closing CR.
std::string Ask(Dispatch& o, const std::string& line) {
  const Variant v = Outs(o, kGetResponse, {Variant(0), Text(line.c_str())}, {VT_BSTR})[0];
  std::string answer = v.vt() == VT_BSTR ? v.bstr().ToAnsi() : "?";
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer;
}

void Tell(Dispatch& o, const std::string& line) { (void)Ask(o, line); }

// I-variables through the device object's own row.
std::vector<double> IVars(Dispatch& o, const std::vector<int32_t>& numbers) {
  std::vector<double> values;
  for (int32_t n : numbers) {
    const Variant v =
        Outs(o, kGetIVariableDouble, {Variant(0), Variant(n), Variant(-1.0)}, {VT_R8})[0];
    values.push_back(v.vt() == VT_R8 ? v.r8() : -999);
  }
  return values;
}

class TuningRowsTest : public DeviceServerTest {
 protected:
  void SetUp() override {
    DeviceServerTest::SetUp();
    if (HasFatalFailure()) return;
    client_ = NewClient();
    ASSERT_NE(client_, nullptr);
    ASSERT_EQ(Call(*client_, kOpen, {Variant(0)}), S_OK);
  }
  Dispatch& o() { return *client_; }
  void Servo(int cycles) { ASSERT_EQ(control_.Command("servo 0 " + std::to_string(cycles)), "ok"); }

  std::shared_ptr<Dispatch> client_;
};

// Both current-loop steps of motor 1 with the clocks I900 6527, I901 0,
// I902 3, I10 3713707: I902 becomes 0 and I10 928426 for the step, the
// sample time is 0.000111 s, the gathered current rises to the step (the
// direct current of 1000 for the brushless motor, 62.5 output units of
// quadrature current for the brush motor, both read in bits 8-23), and the
// restore puts every I-variable the step changed back.
TEST_F(TuningRowsTest, CurrentLoopStepsGatherTheStepAndTheRestorePutsTheCardBack) {
  for (const char* line : {"I900=6527", "I901=0", "I902=3", "I10=3713707"}) Tell(o(), line);
  const std::vector<int32_t> changed = {8,   10,  161, 162, 171, 176, 177,
                                        200, 201, 800, 801, 901, 902};
  const std::vector<double> before = IVars(o(), changed);
  ASSERT_EQ(control_.Command("clock 0 on 4"), "ok");
  struct Case {
    DispId row;
    int32_t low, high;  // the last sample of gather source 2
  };
  const Case cases[] = {
      {kDoACurrentLoopStep, 1000 * 256 * 99 / 100, 1000 * 256},
      {kDoACurrentLoopStepBrush, 625 * 256 / 10 * 99 / 100, 625 * 256 / 10 + 128},
  };
  for (const Case& c : cases) {
    Variant sample_time;
    ASSERT_EQ(Call(o(), c.row,
                   {Variant(0), Short(1), Short(10), Variant(1000), Variant(1),
                    Variant::ByRef(&sample_time, VT_BSTR), Variant(50.0), Short(4), Variant(0)}),
              S_OK)
        << std::hex << c.row;
    EXPECT_EQ(sample_time, Text("0.000111"));
    EXPECT_EQ(IVars(o(), {10, 902, 200, 201, 800, 801}),
              (std::vector<double>{928426, 0, 0, 0, 0, 0}));

    const std::vector<Variant> collected =
        Outs(o(), kCollectGatherData, {Variant(0)}, {VT_I4, VT_I4, VT_I4});
    EXPECT_EQ(collected[0], Variant(3));
    EXPECT_EQ(collected[2], Variant(1));
    const std::vector<Variant> got =
        Outs(o(), kGetGatherSamples, {Variant(0), Variant(2)}, {VT_VARIANT, VT_I4});
    EXPECT_EQ(got[1], Variant(1));
    ASSERT_EQ(got[0].vt(), VT_ARRAY | VT_R8);
    const auto current = got[0].array().As<double>();
    ASSERT_EQ(static_cast<int32_t>(current.size()), collected[1].i4());
    ASSERT_GE(current.size(), 80u);  // 10 ms of 0.111 ms samples
    EXPECT_EQ(current.front(), 0);
    EXPECT_GT(current.back(), c.low);
    EXPECT_LE(current.back(), c.high);

    EXPECT_EQ(Call(o(), kRestoreModifiedIVars, {Variant(0), Short(1)}), S_OK);
    EXPECT_EQ(IVars(o(), changed), before) << std::hex << c.row;
  }
  ASSERT_EQ(control_.Command("clock 0 off"), "ok");
}

// The autotuning programs are written disabled; enabled by the client they
// drive motors 1 and 2 in open loop until the travel or the time is used
// up, clear the output and end: the single-motor and first gantry program
// take P996 from -1 to 123, the timed gantry program leaves it alone and
// brings its own travel (1500 counts: 1500 x I108 x 32) and time.
TEST_F(TuningRowsTest, AutotuningProgramsRunOnTheCardAndEnd) {
  struct Case {
    const char* name;
    DispId row;
    std::vector<Variant> args;  // after the device number
    const char* limits;         // what the client sets before the download
    const char *p996_running, *p996_at_end;
    double second_travel;  // motor 2's travel at the least
  };
  const Case cases[] = {
      {"single",
       kDownloadAutoTuningPlc,
       {Short(1), Variant(0), Variant(1)},
       "P1022=300 P1023=1500*I108*32",
       "-1",
       "123",
       0},
      {"gantry P1",
       kDownloadGantryAutoTuningPlcP1,
       {Short(1), Short(2), Variant(0), Variant(1)},
       "P1022=300 P1023=1500*I108*32",
       "-1",
       "123",
       1400},
      {"gantry timed",
       kDownloadGantryAutoTuningPlc,
       {Short(1), Short(2), Variant(0), Variant(1), Variant(1500.0), Variant(300)},
       "P1022=0 P1023=0",
       "7",
       "7",
       1400},
  };
  for (const Case& c : cases) {
    Tell(o(), "#1O0 #2O0");
    Tell(o(), std::string("P996=7 P1019=5 ") + c.limits);
    const double start[] = {std::stod(Ask(o(), "#1P")), std::stod(Ask(o(), "#2P"))};
    std::vector<Variant> in = {Variant(0)};
    in.insert(in.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Result(o(), c.row, in), 1) << c.name;
    EXPECT_EQ(Ask(o(), "P1023"), "4608000") << c.name;
    EXPECT_EQ(Ask(o(), "P1022"), "300") << c.name;
    Variant running;
    ASSERT_EQ(Call(o(), kIsAnyPlcRunning, {Variant(0)}, &running, automation::kPropertyGet), S_OK);
    EXPECT_EQ(running, Variant(0)) << c.name;  // written, not enabled

    Tell(o(), "P1020=16000 I5=2 ENA PLC 31");
    Servo(2);
    EXPECT_EQ(Ask(o(), "P996"), c.p996_running) << c.name;
    Servo(4000);
    EXPECT_EQ(Ask(o(), "P996"), c.p996_at_end) << c.name;
    EXPECT_EQ(Ask(o(), "P1019"), "0") << c.name;
    ASSERT_EQ(Call(o(), kIsAnyPlcRunning, {Variant(0)}, &running, automation::kPropertyGet), S_OK);
    EXPECT_EQ(running, Variant(0)) << c.name;     // disabled by its own last line
    EXPECT_EQ(Ask(o(), "RX$3A"), "0") << c.name;  // output cleared (no jog back)
    EXPECT_GE(std::stod(Ask(o(), "#1P")) - start[0], 1500) << c.name;
    const double second = std::stod(Ask(o(), "#2P")) - start[1];
    EXPECT_GE(second, c.second_travel) << c.name;
    if (c.second_travel == 0) {
      EXPECT_EQ(second, 0) << c.name;
    }
  }
}

// Motor 2's outputs at Y:$C00C, its current channel 2 (In82 49174) and a
// feedback table of one entry; duty 10 % compensated by I904 261 / I900
// 6525 to 20 %, so outputs 1 and 2 are driven at +1305 and -1305, which the
// card's phase currents read back as they are: P100-P104 1305, P200-P204
// -1305, polarity 2. The reading puts the clock pair back and clears the
// test's feedback entries; a second reading finds no test (-5).
TEST_F(TuningRowsTest, ACurrentFeedbackTestIsJudgedFromTheCardsReadings) {
  for (const char* line :
       {"I282=49174", "I202=$C00C", "I904=261", "I900=6525", "I901=0", "I902=3", "WY:$721,0"}) {
    Tell(o(), line);
  }
  const std::vector<double> clocks = IVars(o(), {10, 901, 902});
  EXPECT_EQ(Result(o(), kDownloadCurrentFeedbackTest,
                   {Variant(0), Short(2), Variant(10.0), Short(1500), Variant(0), Variant(0)}),
            1);
  EXPECT_EQ(IVars(o(), {901, 902}), (std::vector<double>{2, 0}));
  EXPECT_EQ(Ask(o(), "P996"), "-1");
  Servo(21000);  // ten passes of 2 s at the test's 1 ms servo cycle
  EXPECT_EQ(Ask(o(), "P998"), "10");
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(Ask(o(), "P10" + std::to_string(k)), "1305") << k;
    EXPECT_EQ(Ask(o(), "P20" + std::to_string(k)), "-1305") << k;
  }
  EXPECT_EQ(Result(o(), kReadResultsFromCurrentFeedbackTest, {Variant(0), Short(2)}), 2);
  EXPECT_EQ(IVars(o(), {10, 901, 902}), clocks);
  EXPECT_EQ(Ask(o(), "RY$721"), "0");
  EXPECT_EQ(Result(o(), kReadResultsFromCurrentFeedbackTest, {Variant(0), Short(2)}), -5);

  // An incremental source not in the table: appended at its end word, and
  // motor 2's In03 pointed at it. An absolute one needs a ring-station
  // test first: nothing is written, and the row still succeeds.
  EXPECT_EQ(Result(o(), kSetIVarForFeedback, {Variant(0), Short(203), Variant(0x3000), Variant(3)}),
            1);
  EXPECT_EQ(IVars(o(), {203}), (std::vector<double>{0x721}));
  EXPECT_EQ(Ask(o(), "RY$721,2"), "12288 0");
  const std::vector<double> in03 = IVars(o(), {303});
  EXPECT_EQ(Result(o(), kSetIVarForFeedback, {Variant(0), Short(303), Variant(0x3100), Variant(1)}),
            1);
  EXPECT_EQ(IVars(o(), {303}), in03);
  EXPECT_EQ(Ask(o(), "RY$721,2"), "12288 0");
}

// Motor 3 (In83 $C009, In03 $C00A, In69 32000) with a feedback table of one
// entry, 50 % pulses of 10 ms, twice, gathering the currents. The first two
// forms point In03 at a temporary entry $C008 at Y:$721, drive 16000 and
// gather the motor's current words; the first-generation form drives
// 327.67 x 50, gathers its fixed addresses and leaves In03 alone. At the
// end P996 is 123, P1021 2, In03 and the table are back and PLCs 30 and 31
// are off.
TEST_F(TuningRowsTest, OpenLoopTestsRunAndPutTheirEntryBack) {
  struct Case {
    DispId row;
    const char* amplitude;
    double in03_during;
    std::vector<const char*> sources;
  };
  const Case cases[] = {
      {kDownloadOpenLoopTest, "16000", 0x721, {"Y:$BE", "D:$A3", "X:$BE"}},
      {kDownloadOpenLoopTest1, "16000", 0x721, {"Y:$BE", "D:$A3", "X:$BE"}},
      {kDownloadOpenLoopTestForZimo1, "16383.5", 0xC00A, {"D:$A3", "X:$AB", "X:$BD"}},
  };
  for (const Case& c : cases) {
    for (const char* line :
         {"I383=$C009", "I303=$C00A", "I369=32000", "WY:$720,$10C003", "WY:$721,0"}) {
      Tell(o(), line);
    }
    EXPECT_EQ(
        Result(o(), c.row,
               {Variant(0), Short(3), Short(50), Short(10), Short(2), Variant(1), Variant(0)}),
        1)
        << std::hex << c.row;
    EXPECT_EQ(Ask(o(), "P1022"), c.amplitude);
    EXPECT_EQ(Ask(o(), "P996"), "-1");
    EXPECT_EQ(IVars(o(), {303, 19}), (std::vector<double>{c.in03_during, 5}));
    EXPECT_EQ(Ask(o(), "RY$721"), c.in03_during == 0x721 ? "49160" : "0");
    for (int32_t s = 0; s < 3; ++s) {
      const std::vector<Variant> got =
          Outs(o(), kGetGather, {Variant(0), Variant(s)}, {VT_BSTR, VT_I4});
      EXPECT_EQ(got[0], Text(c.sources[s])) << std::hex << c.row << " " << s;
    }

    Servo(2000);
    EXPECT_EQ(Ask(o(), "P996"), "123");
    EXPECT_EQ(Ask(o(), "P1021"), "2");
    EXPECT_EQ(IVars(o(), {303}), (std::vector<double>{0xC00A}));
    EXPECT_EQ(Ask(o(), "RY$720,2"), std::to_string(0x10C003) + " 0");
    Variant running;
    ASSERT_EQ(Call(o(), kIsAnyPlcRunning, {Variant(0)}, &running, automation::kPropertyGet), S_OK);
    EXPECT_EQ(running, Variant(0));
  }
}

}  // namespace
}  // namespace zimo::server::testing
