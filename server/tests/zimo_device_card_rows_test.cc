// The device object's PLC status, ring, diagnosis, gathering and variable
// buffer rows through the server, against the driver host's cards: the
// lists and records the card's own tables give, whole records as byte
// arrays, a gather from set-up to the uploaded samples, the buffers'
// arrays refused when they hold fewer entries than they name, and a motor
// set-up test, the current gather and a position step run on the card.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_server_fixture.h"

namespace zimo::server::testing {
namespace {

using automation::E_FAIL;
using automation::S_FALSE;
using automation::S_OK;
using automation::SafeArray;
using automation::VarType;
using automation::VT_ARRAY;
using automation::VT_BSTR;
using automation::VT_EMPTY;
using automation::VT_I2;
using automation::VT_I4;
using automation::VT_I8;
using automation::VT_R8;
using automation::VT_UI1;
using automation::VT_VARIANT;

enum : DispId {
  kOpen = 0x1,
  kDprBackGroundVar = 0x8,
  kDprVarBufRemove = 0xb,
  kDprVarBufRead = 0xc,
  kDprVarBufInit = 0xf,
  kDprVarBufWrite = 0x12,
  kGetResponse = 0x17,
  kGetVarloIVariableLong = 0x21,
  kGetProgramInfo = 0x3a,
  kGetPlcStatus = 0x44,
  kGetFirstPlcc = 0x45,
  kGetNextPlcc = 0x46,
  kGetFirstPlc = 0x47,
  kGetNextPlc = 0x48,
  kIsAnyPlcRunning = 0x49,
  kGetWhyMotorNotMoving = 0x7b,
  kGetWhyMotorNotMovingStr = 0x7c,
  kGetWhyCSNotMoving = 0x7d,
  kGetWhyCSNotMovingStr = 0x7e,
  kGatherPeriod = 0x80,
  kGatherEnabled = 0x81,
  kGatherSampleTime = 0x83,
  kGetNumGatherSources = 0x84,
  kGetNumGatherSamples = 0x85,
  kSetGather = 0x86,
  kGetGather = 0x89,
  kClearGather = 0x8a,
  kClearGatherData = 0x8c,
  kCollectGatherData = 0x8d,
  kGetGatherSamples = 0x8e,
  kGetGatherPoint = 0x8f,
  kStartGather = 0x90,
  kStopGather = 0x91,
  kInitPlotGather = 0x92,
  kReadGatherFile = 0x93,
  kWriteGatherFile = 0x94,
  kReadResultsFromSixStepTest = 0x9e,
  kDownloadUVWSixStepTest = 0xa4,
  kReadResultsFromUVWSixStepTest = 0xa5,
  kDoACurrentLoopStep = 0xa9,
  kDoACurrentLoopStepBrush = 0xaa,
  kDoAPositionLoopStep = 0xab,
  kRestoreModifiedIVars = 0xb3,
  kSetCurrentGather = 0xbc,
  kGetVarloNodes = 0xbe,
  kGetVarloNodeInfo = 0xbf,
  kSetVarloIVariableString = 0xc0,
  kGetVarloIVariableString = 0xc1,
  kDprVarBufReadAll = 0xcb,
  kAerivoAnalyze = 0xcc,
  kGetPlcStatusStructure = 0xcd,
  kDprVarBufWriteEx = 0xd9,
};

// Calls `id` with `in` and one reference per kind in `outs`, each out
// preset to `preset`; returns the outs.
std::vector<Variant> Outs(Dispatch& o, DispId id, std::vector<Variant> in,
                          const std::vector<VarType>& outs, HRESULT expected = S_OK,
                          int32_t preset = 77) {
  std::vector<Variant> values(outs.size());
  for (size_t i = 0; i < outs.size(); ++i) {
    if (outs[i] == VT_I4) values[i] = Variant(preset);
    in.push_back(Variant::ByRef(&values[i], outs[i]));
  }
  EXPECT_EQ(Call(o, id, std::move(in)), expected) << std::hex << id;
  return values;
}

std::vector<Variant> Longs(std::initializer_list<int32_t> values) {
  std::vector<Variant> out;
  for (int32_t v : values) out.emplace_back(v);
  return out;
}

void Send(Dispatch& o, int32_t device, const std::string& line) {
  Variant answer;
  ASSERT_EQ(Call(o, kGetResponse,
                 {Variant(device), Text(line.c_str()), Variant::ByRef(&answer, VT_BSTR)}),
            S_OK)
      << line;
}

std::string Answer(Dispatch& o, int32_t device, const std::string& line) {
  Variant answer;
  Call(o, kGetResponse, {Variant(device), Text(line.c_str()), Variant::ByRef(&answer, VT_BSTR)});
  return answer.bstr().ToAnsi();
}

// The 32-bit words of a byte array.
std::vector<int32_t> WordsOf(const Variant& v) {
  EXPECT_EQ(v.vt(), VT_ARRAY | VT_UI1);
  if (v.vt() != (VT_ARRAY | VT_UI1)) return {};
  const auto bytes = v.array().bytes();
  std::vector<int32_t> words(bytes.size() / 4);
  std::memcpy(words.data(), bytes.data(), words.size() * 4);
  return words;
}

// A one-dimensional array of `kind` from `lower` holding `values`.
Variant ArrayOf(VarType kind, const std::vector<int32_t>& values, int32_t lower = 0) {
  SafeArray a = SafeArray::Vector(kind, static_cast<uint32_t>(values.size()), lower);
  for (size_t i = 0; i < values.size(); ++i) {
    const int32_t index = lower + static_cast<int32_t>(i);
    EXPECT_EQ(a.PutElement(std::span(&index, 1), Variant(values[i])), S_OK);
  }
  return Variant(std::move(a));
}

Variant BytesOf(const std::vector<uint32_t>& words, size_t cut = 0) {
  SafeArray a = SafeArray::Vector(VT_UI1, static_cast<uint32_t>(words.size() * 4 - cut));
  std::memcpy(a.bytes().data(), words.data(), a.bytes().size());
  return Variant(std::move(a));
}

// PLCs 0 and 3 hold two and three words; only 3 is enabled. The lists hand
// out the two present entries in number order (PLC 3 second, not the empty
// entry 1), the last with pbMore 0, then zeros.
TEST_F(DeviceServerTest, PlcListsWalkThePresentProgramsOfTheCardsTables) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  for (const char* line : {"OPEN PLC 0 CLEAR", "P1=1", "CLOSE", "OPEN PLC 3 CLEAR", "P2=2", "P3=3",
                           "CLOSE", "DISABLE PLC 0", "ENABLE PLC 3", "I5=3"}) {
    Send(*a, 0, line);
  }
  ASSERT_EQ(control_.Command("servo 0 2"), "ok");
  const Variant d(0);

  EXPECT_EQ(Outs(*a, kGetPlcStatus, {d}, {VT_I4, VT_I4, VT_I4}), Longs({2, 0, 3}));
  const std::vector<Variant> range =
      Outs(*a, kGetProgramInfo, {d, Variant(1), Variant(0)}, {VT_I4, VT_I4});
  const int32_t start = range[0].i4();
  EXPECT_EQ(range[1], Variant(start + 2));  // one word past PLC 0's last
  const std::vector<VarType> entry(5, VT_I4);
  EXPECT_EQ(Outs(*a, kGetFirstPlc, {d}, entry), Longs({0, start, start + 1, 2, 1}));
  EXPECT_EQ(Outs(*a, kGetNextPlc, {d}, entry), Longs({1, start + 2, start + 4, 3, 0}));
  EXPECT_EQ(Outs(*a, kGetNextPlc, {d}, entry), Longs({0, 0, 0, 0, 0}));
  EXPECT_EQ(Outs(*a, kGetNextPlc, {d}, entry), Longs({0, 0, 0, 0, 0}));
  // No compiled PLCs: zeros at once.
  const std::vector<VarType> compiled(6, VT_I4);
  EXPECT_EQ(Outs(*a, kGetFirstPlcc, {d}, compiled), Longs({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Outs(*a, kGetNextPlcc, {d}, compiled), Longs({0, 0, 0, 0, 0, 0}));
  Variant running;
  ASSERT_EQ(Call(*a, kIsAnyPlcRunning, {d}, &running, kPropertyGet), S_OK);
  EXPECT_EQ(running, Variant(1));

  // The whole record: 291 words; reading it starts the PLC list again.
  const std::vector<Variant> record = Outs(*a, kGetPlcStatusStructure, {d}, {VT_VARIANT, VT_I4});
  EXPECT_EQ(record[1], Variant(2));
  const std::vector<int32_t> words = WordsOf(record[0]);
  ASSERT_EQ(words.size() * 4, 1164u);
  EXPECT_EQ(std::vector<int32_t>(words.begin(), words.begin() + 3),
            (std::vector<int32_t>{2, 0, 3}));
  EXPECT_EQ(std::vector<int32_t>(words.begin() + 3 + 4 * 3, words.begin() + 3 + 4 * 4),
            (std::vector<int32_t>{1, start + 2, start + 4, 3}));
  EXPECT_EQ(Outs(*a, kGetNextPlc, {d}, entry), Longs({0, start, start + 1, 2, 1}));

  // A program that is not there: both ends read, as the card has them.
  const std::vector<Variant> none =
      Outs(*a, kGetProgramInfo, {d, Variant(1), Variant(2)}, {VT_I4, VT_I4});
  EXPECT_EQ(none[0], none[1]);
}

// The SPRAN card's ring has no stations: every node answers as absent.
TEST_F(DeviceServerTest, RingNodesAsAWholeRecordAndOneByOne) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  const Variant d(1);

  // Nodes outside 0-63 are refused before anything is asked.
  control_.Command("clear-log 1");
  for (int32_t node : {64, -1}) {
    Outs(*a, kGetVarloNodeInfo, {d, Variant(node)}, {VT_I4, VT_I4, VT_I4}, E_FAIL);
  }
  EXPECT_TRUE(control_.Log(1).empty());

  // A first node query analyses the ring (64 nodes on a SPRAN card); the
  // next one answers from this object's table.
  EXPECT_EQ(Outs(*a, kGetVarloNodeInfo, {d, Variant(0)}, {VT_I4, VT_I4, VT_I4}),
            Longs({-1, -1, -1}));
  int asked = 0;
  for (const std::string& line : control_.Log(1)) {
    asked += line.rfind("MS", 0) == 0 && line.size() > 3 && line.substr(line.size() - 3) == ",I3";
  }
  EXPECT_EQ(asked, 64);
  control_.Command("clear-log 1");
  EXPECT_EQ(Outs(*a, kGetVarloNodeInfo, {d, Variant(63)}, {VT_I4, VT_I4, VT_I4}),
            Longs({-1, -1, -1}));
  EXPECT_TRUE(control_.Log(1).empty());

  const std::vector<Variant> record = Outs(*a, kAerivoAnalyze, {d}, {VT_VARIANT, VT_I4});
  EXPECT_EQ(record[1], Variant(0));
  const std::vector<int32_t> words = WordsOf(record[0]);
  ASSERT_EQ(words.size() * 4, 776u);
  EXPECT_EQ(words[0], 0);
  EXPECT_EQ(std::vector<int32_t>(words.begin() + 2, words.end()), std::vector<int32_t>(192, -1));
  EXPECT_EQ(Outs(*a, kGetVarloNodes, {d}, {VT_I4, VT_I4}), Longs({0, 0}));

  // A station that is not there: the caller's defaults, nothing written.
  EXPECT_EQ(Outs(*a, kGetVarloIVariableLong, {d, Variant(2), Variant(3), Variant(-5)}, {VT_I4}),
            Longs({-5}));
  EXPECT_EQ(
      Outs(*a, kGetVarloIVariableString, {d, Variant(2), Variant(3), Text("none")}, {VT_BSTR})[0],
      Text("none"));
  EXPECT_EQ(Outs(*a, kSetVarloIVariableString, {d, Variant(2), Variant(3), Text("5")}, {VT_I4}),
            Longs({0}));
}

TEST_F(DeviceServerTest, WhyNotMovingMasksAndTheirTexts) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  // Numbers out of range are findings of their own, asked of no card.
  control_.Command("clear-log 1");
  EXPECT_EQ(Outs(*a, kGetWhyMotorNotMoving, {Variant(1), Variant(0)}, {VT_I4}), Longs({0x2000000}));
  EXPECT_EQ(Outs(*a, kGetWhyCSNotMoving, {Variant(1), Variant(17)}, {VT_I4}), Longs({0x1000}));
  EXPECT_TRUE(control_.Log(1).empty());
  for (DispId id : {kGetWhyMotorNotMovingStr, kGetWhyCSNotMovingStr}) {
    EXPECT_EQ(Outs(*a, id, {Variant(0)}, {VT_BSTR})[0], Text("No motor error found."));
    const Variant finding = Outs(*a, id, {Variant(1)}, {VT_BSTR})[0];
    EXPECT_FALSE(finding.bstr().empty());
    EXPECT_NE(finding, Text("No motor error found."));
  }
}

// Two constant card words gathered every servo cycle for 100 cycles: more
// samples than one asking of the library holds, all handed back.
TEST_F(DeviceServerTest, AGatherIsSetUpRunAndCollected) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  const Variant d(0);
  Send(*a, 0, "WX$3000,$123456");
  Send(*a, 0, "WY$3001,$FFFFFF");

  ASSERT_EQ(Call(*a, kClearGather, {d}), S_OK);
  EXPECT_EQ(Outs(*a, kSetGather, {d, Variant(0), Text("X:$3000"), Variant(1)}, {VT_I4}),
            Longs({0}));
  EXPECT_EQ(Outs(*a, kSetGather, {d, Variant(1), Text("y$3001"), Variant(1)}, {VT_I4}), Longs({0}));
  const std::vector<Variant> text = Outs(*a, kGetGather, {d, Variant(1)}, {VT_BSTR, VT_I4});
  EXPECT_EQ(text[0], Text("Y:$3001"));
  EXPECT_EQ(text[1], Variant(1));
  EXPECT_EQ(Outs(*a, kInitPlotGather, {d, Variant(0), Variant(1)}, {VT_I4}), Longs({1}));
  Variant value;
  ASSERT_EQ(Call(*a, kGatherPeriod, {d}, &value, kPropertyGet), S_OK);
  EXPECT_EQ(value, Variant(1));
  ASSERT_EQ(Call(*a, kGatherSampleTime, {d}, &value, kPropertyGet), S_OK);
  EXPECT_EQ(value, Variant(3713707 / 8388608.0));
  EXPECT_EQ(Outs(*a, kGetNumGatherSources, {d}, {VT_I4}), Longs({2}));

  EXPECT_EQ(Outs(*a, kStartGather, {d}, {VT_I4}), Longs({1}));
  ASSERT_EQ(control_.Command("servo 0 100"), "ok");
  ASSERT_EQ(Call(*a, kStopGather, {d}), S_OK);
  const int32_t n = Outs(*a, kGetNumGatherSamples, {d}, {VT_I4})[0].i4();
  ASSERT_GE(n, 100);
  EXPECT_EQ(Outs(*a, kCollectGatherData, {d}, {VT_I4, VT_I4, VT_I4}), Longs({2, n, 1}));

  auto samples = [&](int32_t source) {
    const std::vector<Variant> got =
        Outs(*a, kGetGatherSamples, {d, Variant(source)}, {VT_VARIANT, VT_I4});
    EXPECT_EQ(got[0].vt(), VT_ARRAY | VT_R8);
    std::vector<double> values;
    if (got[0].vt() == (VT_ARRAY | VT_R8)) {
      auto s = got[0].array().As<double>();
      values.assign(s.begin(), s.end());
    }
    return std::make_pair(values, got[1]);
  };
  EXPECT_EQ(samples(0), std::make_pair(std::vector<double>(n, 1193046.0), Variant(1)));
  EXPECT_EQ(samples(1), std::make_pair(std::vector<double>(n, -1.0), Variant(1)));
  const std::vector<VarType> point = {VT_R8, VT_I4};
  EXPECT_EQ(Outs(*a, kGetGatherPoint, {d, Variant(1), Variant(n - 1)}, point),
            (std::vector<Variant>{Variant(-1.0), Variant(1)}));
  EXPECT_EQ(Outs(*a, kGetGatherPoint, {d, Variant(1), Variant(n)}, point),
            (std::vector<Variant>{Variant(0.0), Variant(0)}));

  // A source switched off no longer counts.
  ASSERT_EQ(
      Call(*a, kGatherEnabled, {d, Variant(1), Variant(0)}, nullptr, automation::kPropertyPut),
      S_OK);
  ASSERT_EQ(Call(*a, kGatherEnabled, {d, Variant(1)}, &value, kPropertyGet), S_OK);
  EXPECT_EQ(value, Variant(0));
  EXPECT_EQ(Outs(*a, kGetNumGatherSources, {d}, {VT_I4}), Longs({1}));

  // Through a file and back (the enabled source's samples); a missing file is a failure, not a wait.
  const std::string file = Home() + "/run.gat";
  EXPECT_EQ(Outs(*a, kWriteGatherFile, {d, Text(file.c_str())}, {VT_I4}), Longs({1}));
  ASSERT_EQ(Call(*a, kClearGatherData, {d}), S_OK);
  EXPECT_EQ(samples(0), std::make_pair(std::vector<double>(), Variant(0)));
  EXPECT_EQ(Outs(*a, kReadGatherFile, {d, Text((Home() + "/none.gat").c_str())}, {VT_I4}),
            Longs({0}));
  EXPECT_EQ(Outs(*a, kReadGatherFile, {d, Text(file.c_str())}, {VT_I4}), Longs({1}));
  EXPECT_EQ(samples(0), std::make_pair(std::vector<double>(n, 1193046.0), Variant(1)));
}

// The SPRAN card's variable background user of two entries (the Y word at
// $3000, the X word at $3001) and its write buffer. Arrays holding fewer
// entries than their upper bound names are refused and reach no card.
TEST_F(DeviceServerTest, VariableBuffersServeWholeArraysAndRefuseShortOnes) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  const Variant d(1);
  Send(*a, 1, "WY$3000,$000005");
  Send(*a, 1, "WX$3001,$FFFFFD");
  ASSERT_EQ(Call(*a, kDprBackGroundVar, {d, Variant(1)}), S_OK);

  const Variant addresses = ArrayOf(VT_I4, {0x3000, 0x3001}, 1);  // upper bound 2: two entries
  const Variant types = ArrayOf(VT_I4, {0, 2}, 1);                // the second is an X word
  const std::vector<VarType> handle = {VT_I4};
  // Wrong kinds, and arrays that hold fewer than two entries.
  EXPECT_EQ(
      Outs(*a, kDprVarBufInit, {d, ArrayOf(VT_I2, {0x3000, 0x3001}, 1), types}, handle, S_FALSE),
      Longs({77}));
  EXPECT_EQ(Outs(*a, kDprVarBufInit, {d, addresses, Variant(0)}, handle, S_FALSE), Longs({77}));
  EXPECT_EQ(
      Outs(*a, kDprVarBufInit, {d, ArrayOf(VT_I4, {0x3000, 0x3001}, 5), types}, handle, S_FALSE),
      Longs({77}));
  EXPECT_EQ(Outs(*a, kDprVarBufInit, {d, addresses, ArrayOf(VT_I4, {0}, 1)}, handle, S_FALSE),
            Longs({77}));
  // None of them registered anything: the first user is handle 1.
  EXPECT_EQ(Outs(*a, kDprVarBufInit, {d, addresses, types}, handle), Longs({1}));

  ASSERT_EQ(control_.Command("servo 1 3"), "ok");
  const std::vector<VarType> entry = {VT_I8};
  EXPECT_EQ(Outs(*a, kDprVarBufRead, {d, Variant(1), Variant(0)}, entry)[0], Variant(int64_t{5}));
  EXPECT_EQ(Outs(*a, kDprVarBufRead, {d, Variant(1), Variant(1)}, entry)[0],
            Variant(int64_t{0xFFFFFFFD}));
  Outs(*a, kDprVarBufRead, {d, Variant(1), Variant(2)}, entry, S_FALSE);
  ASSERT_EQ(control_.Command("servo 1 3"), "ok");
  EXPECT_EQ(WordsOf(Outs(*a, kDprVarBufReadAll, {d, Variant(1)}, {VT_VARIANT})[0]),
            (std::vector<int32_t>{5, -3}));
  Outs(*a, kDprVarBufReadAll, {d, Variant(2)}, {VT_VARIANT}, S_FALSE);

  // The write buffer: one entry (Y:$3002 = 0x42), 12 bytes of data.
  const std::vector<uint32_t> one = {0, 0x42, 0};
  const Variant where = ArrayOf(VT_I4, {0x3002}, 1);
  const Variant y = ArrayOf(VT_I4, {0}, 1);
  const std::vector<VarType> written = {VT_I4};
  EXPECT_EQ(Outs(*a, kDprVarBufWrite, {d, BytesOf(one, 1), where, y}, written, S_FALSE),
            Longs({77}));
  EXPECT_EQ(
      Outs(*a, kDprVarBufWrite, {d, BytesOf(one), where, ArrayOf(VT_I4, {}, 1)}, written, S_FALSE),
      Longs({77}));
  ASSERT_EQ(control_.Command("servo 1 2"), "ok");
  EXPECT_EQ(Answer(*a, 1, "RY$3002"), "0\r");
  EXPECT_EQ(Outs(*a, kDprVarBufWrite, {d, BytesOf(one), where, y}, written), Longs({1}));
  ASSERT_EQ(control_.Command("servo 1 2"), "ok");
  EXPECT_EQ(Answer(*a, 1, "RY$3002"), "66\r");

  // The three-block form: addresses from byte 0, types from 16 bytes per
  // entry, entries from 32 bytes per entry (Y:$3003 = 0x99).
  auto block = [](uint32_t first, uint32_t second, uint32_t third) {
    SafeArray raw;
    const automation::ArrayBound bounds[] = {{0, first}, {0, second}, {0, third}};
    EXPECT_EQ(SafeArray::Create(VT_EMPTY, bounds, &raw, 4), S_OK);
    return raw;
  };
  SafeArray blocks = block(2, 2, 3);  // upper bound 1: one entry in 48 bytes
  const uint32_t layout[12] = {0x3003, 0, 0, 0, 0, 0, 0, 0, 0, 0x99, 0, 0};
  std::memcpy(blocks.bytes().data(), layout, sizeof layout);
  EXPECT_EQ(Outs(*a, kDprVarBufWriteEx, {d, Variant(block(2, 2, 1))}, written, S_FALSE),
            Longs({77}));
  EXPECT_EQ(Outs(*a, kDprVarBufWriteEx, {d, ArrayOf(VT_I4, {0x3003, 0, 0x99})}, written, S_FALSE),
            Longs({77}));
  ASSERT_EQ(control_.Command("servo 1 2"), "ok");
  EXPECT_EQ(Answer(*a, 1, "RY$3003"), "0\r");
  EXPECT_EQ(Outs(*a, kDprVarBufWriteEx, {d, Variant(blocks)}, written), Longs({1}));
  ASSERT_EQ(control_.Command("servo 1 2"), "ok");
  EXPECT_EQ(Answer(*a, 1, "RY$3003"), "153\r");

  EXPECT_EQ(Call(*a, kDprVarBufRemove, {d, Variant(1)}), S_OK);
  EXPECT_EQ(Call(*a, kDprVarBufRemove, {d, Variant(1)}), S_FALSE);
  Outs(*a, kDprVarBufRead, {d, Variant(1), Variant(0)}, entry, S_FALSE);
}

}  // namespace
}  // namespace zimo::server::testing

namespace zimo::server::testing {
namespace {

// The card's answer to `line` without its closing CR.
std::string Value(Dispatch& o, int32_t device, const std::string& line) {
  std::string answer = Answer(o, device, line);
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer;
}

// The 7 longs of a six-step result.
std::vector<int32_t> SevenLongs(const Variant& v) {
  EXPECT_EQ(v.vt(), VT_ARRAY | VT_I4);
  if (v.vt() != (VT_ARRAY | VT_I4)) return {};
  auto s = v.array().As<int32_t>();
  return std::vector<int32_t>(s.begin(), s.end());
}

// The UVW six-step test on the older card's brushless motor 1: started
// through the server, run on the card's clock, its Hall states read back
// as 7 longs; read again, nothing is pending: -5 and all 7 zero. The
// voltage test's reader answers the same when none of its tests ran.
TEST_F(DeviceServerTest, ASixStepTestRunsOnTheCardAndComesBackAsSevenLongs) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  const Variant d(0);
  for (const char* line : {"I183=$C001", "I900=6525", "I904=0", "WY:$721,0"}) Send(*a, 0, line);

  EXPECT_EQ(Outs(*a, kDownloadUVWSixStepTest, {d, Variant(int16_t{1}), Variant(10.0)}, {VT_I4}),
            Longs({1}));
  ASSERT_EQ(control_.Command("servo 0 40000"), "ok");
  EXPECT_EQ(Value(*a, 0, "P998"), "10");
  std::vector<Variant> got = Outs(*a, kReadResultsFromUVWSixStepTest, {d}, {VT_VARIANT, VT_I4});
  EXPECT_EQ(SevenLongs(got[0]), (std::vector<int32_t>{4, 6, 2, 3, 1, 5, 4}));
  EXPECT_EQ(got[1], Variant(1));
  got = Outs(*a, kReadResultsFromUVWSixStepTest, {d}, {VT_VARIANT, VT_I4});
  EXPECT_EQ(SevenLongs(got[0]), std::vector<int32_t>(7, 0));
  EXPECT_EQ(got[1], Variant(-5));
  got = Outs(*a, kReadResultsFromSixStepTest, {d, Variant(1)}, {VT_VARIANT, VT_I4});
  EXPECT_EQ(SevenLongs(got[0]), std::vector<int32_t>(7, 0));
  EXPECT_EQ(got[1], Variant(-5));
}

// Motors 1 and 3 of the older card, current words of both: the sources
// in bit order, enabled as asked.
TEST_F(DeviceServerTest, SetCurrentGatherSetsTheSourcesOfTheMaskedMotors) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  const Variant d(0);
  EXPECT_EQ(Outs(*a, kSetCurrentGather, {d, Variant(0x00050005), Variant(1)}, {VT_I4}), Longs({1}));
  const char* names[] = {"Y:$46", "Y:$BE", "X:$46", "X:$BE"};
  for (int32_t s = 0; s < 4; ++s) {
    const std::vector<Variant> got = Outs(*a, kGetGather, {d, Variant(s)}, {VT_BSTR, VT_I4});
    EXPECT_EQ(got[0], Text(names[s])) << s;
  }
  EXPECT_EQ(Value(*a, 0, "I20"), "15");
  EXPECT_EQ(Value(*a, 0, "I25"), "0");
  EXPECT_EQ(Outs(*a, kGetNumGatherSources, {d}, {VT_I4}), Longs({4}));
}

// A position step of motor 1: started (1), P996 -1 while it runs and 123
// once the card has run it out and back. The client's flag is a long: a set
// flag whose low 16 bits are clear still asks for the way back.
TEST_F(DeviceServerTest, APositionStepRunsOnTheCardUntilP996Reads123) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  const Variant d(0);
  EXPECT_EQ(Outs(*a, kDoAPositionLoopStep,
                 {d, Variant(int16_t{1}), Variant(int16_t{1000}), Variant(int16_t{500}),
                  Variant(0x10000)},
                 {VT_I4}),
            Longs({1}));
  EXPECT_EQ(Value(*a, 0, "P996"), "-1");
  ASSERT_EQ(control_.Command("servo 0 6000"), "ok");
  EXPECT_EQ(Value(*a, 0, "P996"), "123");
  ASSERT_EQ(control_.Command("servo 0 400"), "ok");
  EXPECT_EQ(Value(*a, 0, "#1P"), "0");
}

// The current-loop steps and the restore carry no result parameter: what
// the library refuses answers S_FALSE. Motor 9 is no motor of the test;
// no step ran, so there is nothing to restore.
TEST_F(DeviceServerTest, ARefusedCurrentLoopStepOrRestoreAnswersSFalse) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  const Variant d(0);
  for (DispId step : {kDoACurrentLoopStep, kDoACurrentLoopStepBrush}) {
    Variant sample_time(Text("stale"));
    EXPECT_EQ(Call(*a, step,
                   {d, Variant(int16_t{9}), Variant(int16_t{10}), Variant(1000), Variant(0),
                    Variant::ByRef(&sample_time, VT_BSTR), Variant(10.0), Variant(int16_t{1}),
                    Variant(0)}),
              S_FALSE)
        << std::hex << step;
    EXPECT_EQ(sample_time, Text("")) << std::hex << step;
  }
  EXPECT_EQ(Call(*a, kRestoreModifiedIVars, {d, Variant(int16_t{1})}), S_FALSE);
}

}  // namespace
}  // namespace zimo::server::testing
