// One sample call per family of the device object's rows over the
// download lists, firmware, the PLC compile step and the tuning calls,
// through the server and the driver host's cards; reports go to the object
// that called.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "corvan/tuning_api.h"
#include "device_server_fixture.h"

namespace zimo::server::testing {
namespace {

using automation::S_FALSE;
using automation::S_OK;
using automation::SafeArray;
using automation::VarType;
using automation::VT_ARRAY;
using automation::VT_BSTR;
using automation::VT_I2;
using automation::VT_I4;

enum : DispId {
  kOpen = 0x1,
  kGetResponse = 0x17,
  kGetMotorStatus = 0x4c,
  kGetCommandedPos = 0x57,
  kGetPosition = 0x58,
  kGetVelocity = 0x5b,
  kMotorInPosition = 0x70,
  kMotorOnPosLimit = 0x79,
  kDownloadFirmwareFile = 0x3d,
  kCompilePlcc = 0x41,
  kBufferOpen = 0x7f,
  kDownloadVelLimitPlc = 0xa2,
  kConvertWordToStringFloat = 0xb0,
  kConvertWordToShort = 0xb1,
  kConvertWordToLong = 0xb2,
  kCalculateStepStatistics = 0xb4,
  kLowPassFilterTheData = 0xb5,
  kDifferentiateTheData = 0xb6,
  kMagEstimation = 0xba,
  kMultiDownload = 0xc6,
  kAddDownloadFile = 0xc7,
  kRemoveDownloadFile = 0xc8,
};

Variant OutOf(Dispatch& o, DispId id, std::vector<Variant> args, VarType type,
              HRESULT expected = S_OK) {
  Variant out;
  args.push_back(Variant::ByRef(&out, type));
  EXPECT_EQ(Call(o, id, std::move(args)), expected) << std::hex << id;
  return out;
}

std::string WriteFile(const std::string& dir, const char* name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

SafeArray Longs(const std::vector<int32_t>& values, int32_t lower = 0) {
  SafeArray a = SafeArray::Vector(VT_I4, static_cast<uint32_t>(values.size()), lower);
  std::memcpy(a.bytes().data(), values.data(), values.size() * 4);
  return a;
}

std::vector<int32_t> LongsOf(const Variant& v) {
  const SafeArray& a = v.array();
  std::vector<int32_t> out(a.element_count());
  std::memcpy(out.data(), a.bytes().data(), out.size() * 4);
  return out;
}

TEST_F(DeviceServerTest, StepDataIsWorkedOnInTheCallersArray) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  // A step of 1000 counts settling after an overshoot; the last element
  // stands past the upper bound, which counts the samples.
  std::vector<int32_t> step = {0, 300, 700, 1050, 1120, 1060, 1010, 995, 1000, 1000, 1000};
  std::vector<int32_t> samples(step.begin(), step.end() - 1);

  Variant data(Longs(step));
  Variant texts[6];
  std::vector<Variant> args = {Variant::ByRef(&data, VT_ARRAY | VT_I4), Variant(1000),
                               Variant(3713707), Variant(1)};
  for (Variant& t : texts) args.push_back(Variant::ByRef(&t, VT_BSTR));
  ASSERT_EQ(Call(*a, kCalculateStepStatistics, args), S_OK);
  char expected[6][ZIMO_STEP_TEXT_SIZE] = {};
  CalculateStepStatistics(samples.data(), static_cast<int32_t>(samples.size()), 1000, 3713707, 1,
                          expected[0], expected[1], expected[2], expected[3], expected[4],
                          expected[5]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(texts[i], Text(expected[i])) << i;

  // In place: the caller's array comes back filtered, its last element kept.
  std::vector<int32_t> filtered = samples;
  ASSERT_GT(LowPassFilterTheData(filtered.data(), static_cast<int32_t>(filtered.size()), "50"), 0);
  filtered.push_back(step.back());
  ASSERT_EQ(Call(*a, kLowPassFilterTheData, {Variant::ByRef(&data, VT_ARRAY | VT_I4), Text("50")}),
            S_OK);
  EXPECT_EQ(LongsOf(data), filtered);

  Variant lo, hi;
  data = Variant(Longs({0, 100, 300, 600}));
  ASSERT_EQ(Call(*a, kDifferentiateTheData,
                 {Variant::ByRef(&data, VT_ARRAY | VT_I4), Variant(3713707), Variant(1),
                  Variant::ByRef(&lo, VT_I4), Variant::ByRef(&hi, VT_I4)}),
            S_OK);
  std::vector<int32_t> derived = {0, 100, 300};
  int32_t min = 0, max = 0;
  DifferentiateTheData(derived.data(), 3, 3713707, 1, &min, &max);
  derived.push_back(600);
  EXPECT_EQ(LongsOf(data), derived);
  EXPECT_EQ(lo, Variant(min));
  EXPECT_EQ(hi, Variant(max));

  // Anything but one dimension from 0 is refused, the array untouched.
  for (Variant bad : {Variant(Longs({1, 2, 3}, 1)), Variant(SafeArray::Vector(VT_I2, 3))}) {
    const std::string before = bad.DebugString();
    EXPECT_EQ(Call(*a, kLowPassFilterTheData, {Variant::ByRef(&bad, VT_ARRAY | VT_I4), Text("50")}),
              S_FALSE);
    EXPECT_EQ(bad.DebugString(), before);
  }
}

TEST_F(DeviceServerTest, WordTextsAndCardProgramsOfTheTuningRows) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(OutOf(*a, kConvertWordToLong, {Text("000001000002")}, VT_I4), Variant(16777218));
  EXPECT_EQ(OutOf(*a, kConvertWordToShort, {Text("FFF000000000"), Variant(int16_t{0})}, VT_I2),
            Variant(int16_t{-16}));
  EXPECT_EQ(OutOf(*a, kConvertWordToStringFloat, {Text("000001000002")}, VT_BSTR),
            Text("16777218.000000"));

  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  Variant open;
  EXPECT_EQ(Call(*a, kBufferOpen, {Variant(0)}, &open, automation::kPropertyGet), S_OK);
  EXPECT_EQ(open, Variant(0));
  control_.Command("clear-log 0");
  EXPECT_EQ(OutOf(*a, kDownloadVelLimitPlc, {Variant(0), Variant(int16_t{2}), Variant(100)}, VT_I4),
            Variant(1));
  bool limit_seen = false;
  for (const std::string& line : control_.Log(0))
    limit_seen |= line.find("$64") != std::string::npos;
  EXPECT_TRUE(limit_seen);
  // A data file that is not there: nothing sent, 0.
  control_.Command("clear-log 0");
  EXPECT_EQ(OutOf(*a, kMagEstimation, {Variant(0), Text((Home() + "/none.txt").c_str())}, VT_I4),
            Variant(0));
  EXPECT_TRUE(control_.Log(0).empty());
}

TEST_F(DeviceServerTest, ListsFirmwareAndCompileReportToTheCaller) {
  auto a = NewClient();
  auto b = NewClient();
  ASSERT_NE(b, nullptr);
  EventLog a_events, b_events;
  uint32_t a_cookie = 0, b_cookie = 0;
  ASSERT_EQ(a->Advise(kIid_IZimoDeviceEvents, a_events.MakeSink(), &a_cookie), S_OK);
  ASSERT_EQ(b->Advise(kIid_IZimoDeviceEvents, b_events.MakeSink(), &b_cookie), S_OK);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  ASSERT_EQ(Call(*b, kOpen, {Variant(0)}), S_OK);

  // A user's list, downloaded as one include file.
  const std::string ini = Home() + "/lists.ini";
  const std::string program = WriteFile(Home(), "listed.pmc", "P7=77\r\n");
  const Variant user = Text("ANNA");
  EXPECT_EQ(OutOf(*a, kAddDownloadFile,
                  {Variant(0), Text(ini.c_str()), user, Text(program.c_str())}, VT_I4),
            Variant(1));
  control_.Command("clear-log 0");
  EXPECT_EQ(OutOf(*a, kMultiDownload,
                  {Variant(0), Text((Home() + "/all.inc").c_str()), Text(ini.c_str()), user,
                   Variant(1), Variant(0), Variant(0), Variant(1)},
                  VT_I4),
            Variant(1));
  const std::vector<std::string> log = control_.Log(0);
  EXPECT_NE(std::find(log.begin(), log.end(), "P7=77"), log.end());
  EXPECT_FALSE(a_events.events().empty());
  EXPECT_EQ(OutOf(*a, kRemoveDownloadFile,
                  {Variant(0), Text(ini.c_str()), user, Text(program.c_str())}, VT_I4),
            Variant(1));

  // Firmware: a missing image fails, and says so to the caller only.
  a_events.Clear();
  EXPECT_EQ(Call(*a, kDownloadFirmwareFile, {Variant(0), Text((Home() + "/none.bin").c_str())}),
            S_FALSE);
  EXPECT_FALSE(a_events.events().empty());

  // The compile step: its report lines reach the caller only.
  a_events.Clear();
  const std::string source = WriteFile(Home(), "plain.pmc", "P1=1\r\n");
  const std::string out = Home() + "/plain.out";
  const HRESULT hr = Call(*a, kCompilePlcc, {Variant(0), Text(source.c_str()), Text(out.c_str())});
  EXPECT_EQ(hr, S_OK) << std::hex << hr;
  std::vector<std::string> texts;
  for (const Recorded& e : a_events.events()) {
    if (e.id != kEventMessage) continue;
    EXPECT_EQ(e.args[0], Variant(0));
    texts.push_back(e.args[1].bstr().ToAnsi());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"PLCC Compiling ZIMO file: " + source,
                                             "Success in Compiling to output file: " + out,
                                             "No PLCC(s) were compiled"}));
  EXPECT_TRUE(b_events.events().empty());
}

TEST_F(DeviceServerTest, MotorRowsReadWhereTheCardMovedIt) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  Variant answer;
  ASSERT_EQ(
      Call(*a, kGetResponse, {Variant(0), Text("#1J=1000"), Variant::ByRef(&answer, VT_BSTR)}),
      S_OK);
  ASSERT_EQ(control_.Command("servo 0 5000"), "ok");

  // Motor 0 is the card's motor 1: at rest on its jog target (a scale
  // divides the counts).
  const Variant one(1.0);
  EXPECT_EQ(OutOf(*a, kGetCommandedPos, {Variant(0), Variant(0), one}, automation::VT_R8),
            Variant(1000.0));
  EXPECT_EQ(OutOf(*a, kGetPosition, {Variant(0), Variant(0), one}, automation::VT_R8),
            Variant(1000.0));
  EXPECT_EQ(OutOf(*a, kGetPosition, {Variant(0), Variant(0), Variant(0.5)}, automation::VT_R8),
            Variant(2000.0));
  EXPECT_EQ(OutOf(*a, kGetVelocity, {Variant(0), Variant(0), one}, automation::VT_R8),
            Variant(0.0));
  Variant bit;
  EXPECT_EQ(Call(*a, kMotorInPosition, {Variant(0), Variant(0)}, &bit, kPropertyGet), S_OK);
  EXPECT_EQ(bit, Variant(1));
  EXPECT_EQ(Call(*a, kMotorOnPosLimit, {Variant(0), Variant(0)}, &bit, kPropertyGet), S_OK);
  EXPECT_EQ(bit, Variant(0));

  // The status row hands back the first of the card's two words, as the
  // card itself gives it.
  ASSERT_EQ(Call(*a, kGetResponse, {Variant(0), Text("#1?"), Variant::ByRef(&answer, VT_BSTR)}),
            S_OK);
  const std::string words = answer.bstr().ToAnsi();
  ASSERT_GE(words.size(), 12u) << words;
  EXPECT_EQ(OutOf(*a, kGetMotorStatus, {Variant(0), Variant(0)}, VT_I4),
            Variant(static_cast<int32_t>(std::stoul(words.substr(0, 6), nullptr, 16))));
  // A motor the older card does not have: nothing read, S_FALSE, 0 kept.
  EXPECT_EQ(OutOf(*a, kGetMotorStatus, {Variant(0), Variant(8)}, VT_I4, S_FALSE), Variant(0));
  EXPECT_EQ(OutOf(*a, kGetPosition, {Variant(0), Variant(8), one}, automation::VT_R8),
            Variant(0.0));
}

}  // namespace
}  // namespace zimo::server::testing
