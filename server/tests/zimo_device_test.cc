// The device object through ZimoServer, as clients see it: exchanges with
// two PCI cards behind the driver host, the kept error bits, argument
// checks, events to the client that started an operation, and what a
// client that dies leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "device_server_fixture.h"
#include "link/library_app.h"

namespace zimo::server::testing {
namespace {

using automation::E_INVALIDARG;
using automation::E_POINTER;
using automation::S_FALSE;
using automation::S_OK;
using automation::VarType;
using automation::VT_ARRAY;
using automation::VT_BSTR;
using automation::VT_I2;
using automation::VT_I4;
using automation::VT_R4;
using automation::VT_R8;
using automation::VT_VARIANT;

// DISPIDs of IZimoDevice.
enum : DispId {
  kOpen = 0x1,
  kClose = 0x2,
  kReadReady = 0x4,
  kSendLine = 0x5,
  kGetLine = 0x7,
  kGetResponse = 0x17,
  kLockDevice = 0x18,
  kUnlockDevice = 0x19,
  kFlush = 0x1b,
  kGetControlResponse = 0x1e,
  kLastCommError = 0x1f,
  kGetLastCommErrorStr = 0x20,
  kDprAddressRange = 0x9,
  kGetZimoType = 0xa,
  kDprGetFloat = 0xd,
  kDprGetLong = 0xe,
  kDprSetFloat = 0x10,
  kDprSetLong = 0x11,
  kGetRomVersion = 0x14,
  kGetRomDate = 0x15,
  kGetZimoLocation = 0x16,
  kSelectDevice = 0x1a,
  kDprAvailable = 0x1c,
  kChangeStore = 0x22,
  kChangeGet = 0x24,
  kGetIVariableLong = 0x26,
  kGetIVariableDouble = 0x27,
  kSetIVariableLong = 0x28,
  kSetIVariableDouble = 0x29,
  kGetVariableLong = 0x2c,
  kGetVariableDouble = 0x2d,
  kSetVariableLong = 0x2e,
  kSetVariableDouble = 0x2f,
  kIsSpran = 0x33,
  kGetLocAndEnum = 0x39,
  kDownloadFile = 0x3b,
  kDownload = 0x3e,
  kDownloadAsynch = 0x3f,
  kSendCommand = 0x42,
  kGetBuffer = 0x43,
  kGetControlValues = 0xc5,
  kGetEnumeration = 0xc4,
  kGetVariableStr = 0xca,
  kGetNumDeviceKeys = 0xcf,
  kGetFirmwareType = 0xd7,
  kGetResponseBuffered = 0xd8,
  kDprGetShort = 0xd2,
  kDprSetShort = 0xd3,
  kDprDWordBitSet = 0xd4,
  kDprResetDWordBit = 0xd5,
  kDprSetDWordBit = 0xd6,
  kDprGetLongDouble = 0xd0,
  kDprGetFixedDouble = 0xd1,
};

constexpr HRESULT kNoConnection = static_cast<HRESULT>(0x80040200);
constexpr HRESULT kCannotConnect = static_cast<HRESULT>(0x80040202);

struct Answer {
  HRESULT hr;
  Variant text;
  int32_t error;
};

Answer Ask(Dispatch& o, int32_t device, const char* question) {
  Variant text;
  Answer a{Call(o, kGetResponse, {Variant(device), Text(question), Variant::ByRef(&text, VT_BSTR)}),
           Variant(), -1};
  a.text = text;
  Variant e;
  EXPECT_EQ(Call(o, kLastCommError, {Variant(device)}, &e, kPropertyGet), S_OK);
  a.error = e.i4();
  return a;
}

int32_t LastError(Dispatch& o, int32_t device) {
  Variant e;
  EXPECT_EQ(Call(o, kLastCommError, {Variant(device)}, &e, kPropertyGet), S_OK);
  return e.i4();
}

bool Contains(const std::vector<std::string>& log, const std::string& entry) {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

TEST_F(DeviceServerTest, ExchangesKeepTheErrorBitsOfEachCall) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  // The server opened both cards for itself before any client's Open.
  EXPECT_TRUE(Contains(control_.Log(0), "TYPE"));
  EXPECT_TRUE(Contains(control_.Log(1), "TYPE"));
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);

  Answer ok = Ask(*a, 0, "I10");
  EXPECT_EQ(ok.hr, S_OK);
  EXPECT_EQ(ok.text, Text("3713707\r"));
  EXPECT_EQ(ok.error, 0);

  Answer bad = Ask(*a, 0, "XYZ");
  EXPECT_EQ(bad.hr, S_FALSE);
  EXPECT_EQ(bad.error, 0x60000000);
  Variant why;
  ASSERT_EQ(Call(*a, kGetLastCommErrorStr, {Variant(0), Variant::ByRef(&why, VT_BSTR)}), S_OK);
  EXPECT_EQ(why, Text("Data error or unrecognized command."));

  ASSERT_EQ(control_.Command("mute 0 on"), "ok");
  Answer mute = Ask(*a, 0, "I10");
  EXPECT_EQ(mute.hr, S_FALSE);
  EXPECT_EQ(mute.error, 0x40000000);
  Variant buffer;
  EXPECT_EQ(Call(*a, kGetBuffer, {Variant(0), Variant(1), Variant::ByRef(&buffer, VT_BSTR)}),
            S_FALSE);
  EXPECT_EQ(LastError(*a, 0), 0x40000000);
  ASSERT_EQ(control_.Command("mute 0 off"), "ok");
  ASSERT_EQ(Call(*a, kFlush, {Variant(0)}), S_OK);

  ASSERT_EQ(Call(*a, kSendLine, {Variant(0), Text("I10..12")}), S_OK);
  ASSERT_EQ(Call(*a, kGetBuffer, {Variant(0), Variant(1), Variant::ByRef(&buffer, VT_BSTR)}), S_OK);
  EXPECT_EQ(buffer, Text("3713707\n10\n10\n"));
  EXPECT_EQ(LastError(*a, 0), 0);
  Variant buffered;
  ASSERT_EQ(Call(*a, kGetResponseBuffered,
                 {Variant(0), Text("I10..12"), Variant(1), Variant::ByRef(&buffered, VT_BSTR)}),
            S_OK);
  EXPECT_EQ(buffered, Text("3713707\n10\n10\n"));
}

TEST_F(DeviceServerTest, ControlValuesAndCommandsReachTheCardAsWritten) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  for (int16_t ch : {int16_t{0x10}, int16_t{0x16}, int16_t{0x06}}) {
    Variant values;
    Variant success(int32_t{-1});
    ASSERT_EQ(Call(*a, kGetControlValues,
                   {Variant(0), Variant(ch), Variant::ByRef(&values, VT_VARIANT),
                    Variant::ByRef(&success, VT_I4)}),
              S_OK);
    EXPECT_EQ(success, Variant(1)) << ch;
    ASSERT_EQ(values.vt(), VT_ARRAY | VT_R8);
    EXPECT_EQ(values.array().element_count(), 8u);
    EXPECT_EQ(values.array().bound(0).lower, 0);
  }
  // Only ^P, ^V and ^F themselves: a short whose low byte is one of them
  // is another value, refused with no card traffic.
  const size_t before = control_.Log(0).size();
  for (int16_t ch : {int16_t{0x02}, int16_t{0x110}, int16_t{0x116}, int16_t{0x106},
                     int16_t{-0xF0}, int16_t{0x7F10}}) {
    Variant values;
    Variant success(int32_t{-1});
    ASSERT_EQ(Call(*a, kGetControlValues,
                   {Variant(0), Variant(ch), Variant::ByRef(&values, VT_VARIANT),
                    Variant::ByRef(&success, VT_I4)}),
              S_OK);
    EXPECT_EQ(success, Variant(0)) << ch;
    EXPECT_EQ(control_.Log(0).size(), before) << ch;
  }

  ASSERT_EQ(Call(*a, kSendCommand, {Variant(0), Text("P1=5 ;100%d")}), S_OK);
  EXPECT_EQ(control_.Log(0).back(), "P1=5 ;100%d");
  const size_t sent = control_.Log(0).size();
  const std::string too_long(256, 'M');
  EXPECT_EQ(Call(*a, kSendCommand, {Variant(0), Text(too_long.c_str())}), S_FALSE);
  EXPECT_EQ(control_.Log(0).size(), sent);
  const std::string longest = "P1=" + std::string(252, '0');
  EXPECT_EQ(Call(*a, kSendCommand, {Variant(0), Text(longest.c_str())}), S_OK);
  EXPECT_EQ(control_.Log(0).back(), longest);
}

TEST_F(DeviceServerTest, BadArgumentsAreRefusedBeforeAnyCardTraffic) {
  auto a = NewClient();
  auto b = NewClient();
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(Call(*b, kOpen, {Variant(0)}), S_OK);
  const size_t before = control_.Log(0).size() + control_.Log(1).size();
  Variant text;
  Variant n;
  Variant values;
  for (int32_t device : {8, -1}) {
    const Variant d(device);
    const std::vector<std::pair<DispId, std::vector<Variant>>> calls = {
        {kOpen, {d}},
        {kClose, {d}},
        {kSendLine, {d, Text("I10")}},
        {kGetLine, {d, Variant::ByRef(&text, VT_BSTR)}},
        {kGetResponse, {d, Text("I10"), Variant::ByRef(&text, VT_BSTR)}},
        {kLockDevice, {d}},
        {kUnlockDevice, {d}},
        {kFlush, {d}},
        {kGetControlResponse, {d, Variant(uint8_t{2}), Variant::ByRef(&text, VT_BSTR)}},
        {kGetLastCommErrorStr, {d, Variant::ByRef(&text, VT_BSTR)}},
        {kGetLocAndEnum, {d, Variant::ByRef(&n, VT_I4), Variant::ByRef(&n, VT_I4)}},
        {kSendCommand, {d, Text("I10")}},
        {kGetBuffer, {d, Variant(1), Variant::ByRef(&text, VT_BSTR)}},
        {kGetControlValues,
         {d, Variant(int16_t{0x10}), Variant::ByRef(&values, VT_VARIANT),
          Variant::ByRef(&n, VT_I4)}},
        {kGetFirmwareType, {d, Variant::ByRef(&n, VT_I4)}},
        {kGetResponseBuffered, {d, Text("I10"), Variant(1), Variant::ByRef(&text, VT_BSTR)}},
        {kDownloadFile, {d, Text("x.pmc")}},
        {kDownload, {d, Text("x.pmc"), Variant(0), Variant(0), Variant(0), Variant(1)}},
    };
    for (const auto& [id, args] : calls) {
      EXPECT_EQ(Call(*a, id, args), E_INVALIDARG) << std::hex << id << " device " << device;
    }
    Variant v;
    EXPECT_EQ(Call(*a, kReadReady, {d}, &v, kPropertyGet), E_INVALIDARG);
    EXPECT_EQ(Call(*a, kLastCommError, {d}, &v, kPropertyGet), E_INVALIDARG);
  }
  // Empty texts and out arguments not passed by reference.
  EXPECT_EQ(Call(*a, kSendLine, {Variant(0), Text("")}), E_POINTER);
  EXPECT_EQ(Call(*a, kSendCommand, {Variant(0), Variant(Bstr())}), E_POINTER);
  EXPECT_EQ(Call(*a, kGetResponse, {Variant(0), Text(""), Variant::ByRef(&text, VT_BSTR)}),
            E_POINTER);
  EXPECT_EQ(Call(*a, kGetResponse, {Variant(0), Text("I10"), Variant(Bstr())}), E_POINTER);
  EXPECT_EQ(Call(*a, kGetBuffer, {Variant(0), Variant(1), Variant(0)}), E_POINTER);
  EXPECT_EQ(Call(*a, kGetNumDeviceKeys, {Variant(0)}), E_POINTER);
  EXPECT_EQ(control_.Log(0).size() + control_.Log(1).size(), before);

  // Close without Open changes nothing for the card's other users.
  EXPECT_EQ(Call(*a, kClose, {Variant(0)}), S_OK);
  EXPECT_EQ(Ask(*b, 0, "I10").text, Text("3713707\r"));

  Variant loc, en;
  ASSERT_EQ(Call(*a, kGetLocAndEnum,
                 {Variant(1), Variant::ByRef(&loc, VT_I4), Variant::ByRef(&en, VT_I4)}),
            S_OK);
  EXPECT_EQ(loc, Variant(4));
  EXPECT_EQ(en, Variant(1));
  EXPECT_EQ(Call(*a, kGetLocAndEnum,
                 {Variant(5), Variant::ByRef(&loc, VT_I4), Variant::ByRef(&en, VT_I4)}),
            S_FALSE);
  Variant keys;
  ASSERT_EQ(Call(*a, kGetNumDeviceKeys, {Variant::ByRef(&keys, VT_I4)}), S_OK);
  EXPECT_EQ(keys, Variant(2));
  // A DISPID the interface leaves out.
  EXPECT_EQ(Call(*a, 0x3, {Variant(0), Variant(1)}), automation::DISP_E_MEMBERNOTFOUND);
}

// A call with one out argument of kind `type` at the end; its value.
Variant OutOf(Dispatch& o, DispId id, std::vector<Variant> args, VarType type) {
  Variant out;
  args.push_back(Variant::ByRef(&out, type));
  EXPECT_EQ(Call(o, id, std::move(args)), S_OK) << std::hex << id;
  return out;
}

TEST_F(DeviceServerTest, VariablesAndRawDprReachTheCard) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  const Variant d(1);

  ASSERT_EQ(Call(*a, kSetIVariableLong, {d, Variant(131), Variant(123456)}), S_OK);
  EXPECT_TRUE(Contains(control_.Log(1), "I131=123456"));
  EXPECT_EQ(OutOf(*a, kGetIVariableLong, {d, Variant(131), Variant(-1)}, VT_I4), Variant(123456));
  ASSERT_EQ(Call(*a, kSetIVariableDouble, {d, Variant(132), Variant(0.75)}), S_OK);
  EXPECT_EQ(OutOf(*a, kGetIVariableDouble, {d, Variant(132), Variant(0.0)}, VT_R8), Variant(0.75));
  const Variant p(int16_t{'P'});
  ASSERT_EQ(Call(*a, kSetVariableDouble, {d, p, Variant(3), Variant(1.5)}), S_OK);
  EXPECT_TRUE(Contains(control_.Log(1), "P3=1.500000"));
  EXPECT_EQ(OutOf(*a, kGetVariableDouble, {d, p, Variant(3), Variant(0.0)}, VT_R8), Variant(1.5));
  ASSERT_EQ(Call(*a, kSetVariableLong, {d, p, Variant(4), Variant(-7)}), S_OK);
  EXPECT_EQ(OutOf(*a, kGetVariableLong, {d, p, Variant(4), Variant(0)}, VT_I4), Variant(-7));

  // Host byte 0x3000 is card word $60C00: Y half at +0, X half at +2.
  const Variant at(0x3000);
  ASSERT_EQ(Call(*a, kDprSetLong, {d, at, Variant(0x12345678)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetLong, {d, at}, VT_I4), Variant(0x12345678));
  EXPECT_EQ(Ask(*a, 1, "RHY$60C00").text, Text("005678\r"));
  EXPECT_EQ(Ask(*a, 1, "RHX$60C00").text, Text("001234\r"));
  EXPECT_EQ(OutOf(*a, kDprGetShort, {d, Variant(0x3002)}, VT_I2), Variant(int16_t{0x1234}));

  ASSERT_EQ(Call(*a, kDprSetDWordBit, {d, at, Variant(0)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetLong, {d, at}, VT_I4), Variant(0x12345679));
  EXPECT_EQ(OutOf(*a, kDprDWordBitSet, {d, at, Variant(3)}, VT_I4), Variant(1));
  ASSERT_EQ(Call(*a, kDprResetDWordBit, {d, at, Variant(3)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprDWordBitSet, {d, at, Variant(3)}, VT_I4), Variant(0));
  ASSERT_EQ(Call(*a, kDprSetShort, {d, Variant(0x3002), Variant(int16_t{-2})}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetLong, {d, at}, VT_I4), Variant(-108943));  // 0xFFFE5671

  ASSERT_EQ(Call(*a, kDprSetFloat, {d, Variant(0x3004), Variant(1.5f)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetFloat, {d, Variant(0x3004)}, VT_R4), Variant(1.5f));
  EXPECT_EQ(OutOf(*a, kDprGetLong, {d, Variant(0x3004)}, VT_I4), Variant(0x3FC00000));
}

// The 48-bit readers take the two dwords at the address as the card's
// floating and fixed words; outside the window they give 0.0 and S_FALSE.
TEST_F(DeviceServerTest, DprWordPairsReadAsTheCardsNumbers) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  const Variant d(1);
  const Variant low(0x3008);
  const Variant high(0x300C);
  ASSERT_EQ(Call(*a, kDprSetLong, {d, low, Variant(0x800)}), S_OK);
  ASSERT_EQ(Call(*a, kDprSetLong, {d, high, Variant(0x400000)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetLongDouble, {d, low}, VT_R8), Variant(1.0));
  ASSERT_EQ(Call(*a, kDprSetLong, {d, low, Variant(1)}), S_OK);
  ASSERT_EQ(Call(*a, kDprSetLong, {d, high, Variant(-1)}), S_OK);
  EXPECT_EQ(OutOf(*a, kDprGetFixedDouble, {d, low}, VT_R8), Variant(-16777215.0));
  // The upper half of 0xFFFFFFFF as a short keeps its sign.
  EXPECT_EQ(OutOf(*a, kDprGetShort, {d, Variant(0x300E)}, VT_I2), Variant(int16_t{-1}));
  for (DispId id : {kDprGetLongDouble, kDprGetFixedDouble}) {
    Variant out(2.5);
    EXPECT_EQ(Call(*a, id, {d, Variant(-8), Variant::ByRef(&out, VT_R8)}), S_FALSE) << id;
    EXPECT_EQ(out, Variant(0.0)) << id;
  }
}

TEST_F(DeviceServerTest, IdentityRingsAndSelectionAsTheLibraryKeepsThem) {
  auto a = NewClient();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  ASSERT_EQ(Call(*a, kOpen, {Variant(1)}), S_OK);
  const Variant d(1);
  EXPECT_EQ(OutOf(*a, kGetZimoType, {d}, VT_I4), Variant(6));
  EXPECT_EQ(OutOf(*a, kGetZimoType, {Variant(0)}, VT_I4), Variant(2));
  Variant v;
  ASSERT_EQ(Call(*a, kIsSpran, {d}, &v, kPropertyGet), S_OK);
  EXPECT_EQ(v, Variant(1));
  ASSERT_EQ(Call(*a, kIsSpran, {Variant(0)}, &v, kPropertyGet), S_OK);
  EXPECT_EQ(v, Variant(0));
  ASSERT_EQ(Call(*a, kDprAvailable, {d}, &v, kPropertyGet), S_OK);
  EXPECT_EQ(v, Variant(1));
  EXPECT_EQ(OutOf(*a, kGetRomVersion, {d}, VT_BSTR), Text("1.940"));
  EXPECT_EQ(OutOf(*a, kGetRomDate, {d}, VT_BSTR), Text("05/14/2003"));
  EXPECT_EQ(OutOf(*a, kGetZimoLocation, {d}, VT_I4), Variant(4));
  EXPECT_EQ(OutOf(*a, kGetEnumeration, {d}, VT_I4), Variant(1));
  // The window: host bytes 0 to 16384, card words $60000 to $61000.
  EXPECT_EQ(OutOf(*a, kDprAddressRange, {d, Variant(1), Variant(1)}, VT_I4), Variant(16384));
  EXPECT_EQ(OutOf(*a, kDprAddressRange, {d, Variant(0), Variant(0)}, VT_I4), Variant(0x60000));
  EXPECT_EQ(OutOf(*a, kDprAddressRange, {d, Variant(1), Variant(0)}, VT_I4), Variant(0x61000));

  Variant text, success;
  ASSERT_EQ(Call(*a, kGetVariableStr,
                 {Variant(0), Variant(int16_t{'I'}), Variant(10), Variant::ByRef(&text, VT_BSTR),
                  Variant::ByRef(&success, VT_I4)}),
            S_OK);
  EXPECT_EQ(text, Text("3713707"));
  EXPECT_EQ(success, Variant(1));

  // A change record goes round the shared ring to any reader.
  auto b = NewClient();
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(Call(*a, kChangeStore, {d, Text("I130=5")}), S_OK);
  EXPECT_EQ(OutOf(*b, kChangeGet, {d}, VT_BSTR), Text("I130=5"));
  EXPECT_EQ(Call(*a, kChangeStore, {Variant(8), Text("")}), E_POINTER);

  // No display here: nothing is chosen and the caller's number stays.
  Variant chosen(5);
  EXPECT_EQ(Call(*a, kSelectDevice, {Variant(0), Variant::ByRef(&chosen, VT_I4)}), S_FALSE);
  EXPECT_EQ(chosen, Variant(5));
}

std::string WriteProgram(const std::string& folder, const std::string& name,
                         const std::vector<std::string>& lines) {
  const std::string path = folder + "/" + name;
  std::ofstream out(path, std::ios::binary);
  for (const std::string& l : lines) out << l << "\r\n";
  return path;
}

// Every event of the log: its DISPID and, for all of them, the device.
std::vector<int32_t> DevicesOf(const EventLog& log) {
  std::vector<int32_t> devices;
  for (const Recorded& e : log.events()) devices.push_back(e.args[0].i4());
  return devices;
}

TEST_F(DeviceServerTest, EventsGoToTheClientWhoseCallStartedTheOperation) {
  auto a = NewClient();
  auto b = NewClient();
  ASSERT_NE(b, nullptr);
  EventLog a_events, b_events;
  std::shared_ptr<Dispatch> a_for_handler = a;
  Variant handler_answer;
  std::atomic<bool> ask_in_handler{false};
  auto a_sink = a_events.MakeSink([&](DispId id, std::span<Variant>) {
    if (id == kEventProgress && ask_in_handler.exchange(false)) {
      Variant t;
      std::vector<Variant> args = {Variant(0), Text("I10"), Variant::ByRef(&t, VT_BSTR)};
      a_for_handler->Invoke(kGetResponse, kMethod, args, nullptr, nullptr);
      handler_answer = t;
    }
  });
  uint32_t a_cookie = 0, b_cookie = 0;
  ASSERT_EQ(a->Advise(kIid_IZimoDeviceEvents, a_sink, &a_cookie), S_OK);
  ASSERT_EQ(b->Advise(kIid_IZimoDeviceEvents, b_events.MakeSink(), &b_cookie), S_OK);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  ASSERT_EQ(Call(*b, kOpen, {Variant(0)}), S_OK);  // B opened card 0 last

  const std::string program = WriteProgram(Home(), "three.pmc", {"P1=1", "P2=2", "P3=3"});
  ask_in_handler = true;
  ASSERT_EQ(
      Call(*a, kDownload,
           {Variant(0), Text(program.c_str()), Variant(0), Variant(0), Variant(0), Variant(1)}),
      S_OK);
  EXPECT_TRUE(Contains(control_.Log(0), "P3=3"));
  std::vector<Recorded> got = a_events.events();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().id, kEventMessage);
  EXPECT_EQ(got.back().id, kEventProgress);
  EXPECT_EQ(got.back().args[1], Variant(100));
  EXPECT_EQ(DevicesOf(a_events), std::vector<int32_t>(got.size(), 0));
  EXPECT_EQ(handler_answer, Text("3713707\r"));  // the handler's own call was answered
  EXPECT_TRUE(b_events.events().empty());

  // A threaded download: B opening card 1 meanwhile changes nothing for A.
  a_events.Clear();
  std::vector<std::string> many;
  for (int i = 0; i < 200; ++i)
    many.push_back("P" + std::to_string(10 + i) + "=" + std::to_string(i));
  const std::string long_program = WriteProgram(Home(), "many.pmc", many);
  ASSERT_EQ(Call(*a, kDownloadAsynch,
                 {Variant(0), Text(long_program.c_str()), Variant(0), Variant(0), Variant(0),
                  Variant(1)}),
            S_OK);
  ASSERT_EQ(Call(*b, kOpen, {Variant(1)}), S_OK);
  // The run's last report is the final progress, after its "END.".
  ASSERT_TRUE(Eventually([&] {
    bool ended = false;
    for (const Recorded& e : a_events.events()) {
      if (e.id == kEventMessage && e.args[1] == Text("END.")) ended = true;
      if (ended && e.id == kEventProgress && e.args[1] == Variant(100)) return true;
    }
    return false;
  }));
  EXPECT_EQ(DevicesOf(a_events), std::vector<int32_t>(a_events.events().size(), 0));
  for (const Recorded& e : a_events.events()) {
    if (e.id == kEventMessage) EXPECT_NE(e.args[1], Text("Download thread already running!"));
  }
  EXPECT_TRUE(b_events.events().empty());

  // A refused line: A's Error with the file, the card's error number, the
  // line number and the line's text.
  a_events.Clear();
  const std::string refused = WriteProgram(Home(), "refused.pmc", {"P1=1", "XYZ", "P3=3"});
  EXPECT_EQ(
      Call(*a, kDownload,
           {Variant(0), Text(refused.c_str()), Variant(0), Variant(0), Variant(0), Variant(1)}),
      S_FALSE);
  std::vector<Recorded> errors;
  for (const Recorded& e : a_events.events()) {
    if (e.id == kEventError) errors.push_back(e);
  }
  ASSERT_EQ(errors.size(), 1u);
  // The file is the one sent: the compiled output beside the source.
  const std::string sent = Home() + "/refused.56K";
  EXPECT_EQ(errors[0].args, (std::vector<Variant>{Variant(0), Text(sent.c_str()), Variant(3),
                                                  Variant(2), Text("XYZ")}));
  EXPECT_TRUE(b_events.events().empty());

  // The connection point's refusals.
  EXPECT_EQ(a->Unadvise(kIid_IZimoDeviceEvents, 12345), kNoConnection);
  uint32_t cookie = 0;
  auto stranger = automation::MakeEventSink(kIZimoDevice, {});
  EXPECT_EQ(a->Advise(kIid_IZimoDeviceEvents, stranger, &cookie), kCannotConnect);
  EXPECT_EQ(a->Advise(kIid_IZimoDeviceEvents, nullptr, &cookie), E_POINTER);
  EXPECT_EQ(a->Unadvise(kIid_IZimoDeviceEvents, a_cookie), S_OK);
  EXPECT_EQ(a->Unadvise(kIid_IZimoDeviceEvents, a_cookie), kNoConnection);
}

// The helper process of the next test: opens card 0, takes its lock,
// says so on stdout and waits to be killed.
TEST(DeviceServerHelper, DISABLED_HoldTheLockOfCardZero) {
  const char* flag = std::getenv("ZIMO_DEVICE_LOCK_HELPER");
  ASSERT_NE(flag, nullptr) << "run by the test below";
  std::shared_ptr<Dispatch> o;
  ASSERT_EQ(automation::CreateInstance("ZimoServer.Zimo", &o), S_OK);
  ASSERT_EQ(Call(*o, kOpen, {Variant(0)}), S_OK);
  ASSERT_EQ(Call(*o, kLockDevice, {Variant(0)}), S_OK);
  std::ofstream(flag) << "locked\n";
  for (;;) ::pause();
}

TEST_F(DeviceServerTest, AClientThatDiesHoldingTheLockReleasesIt) {
  auto a = NewClient();  // starts the server
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(Call(*a, kOpen, {Variant(0)}), S_OK);
  EventLog a_events;
  uint32_t cookie = 0;
  ASSERT_EQ(a->Advise(kIid_IZimoDeviceEvents, a_events.MakeSink(), &cookie), S_OK);

  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  const std::string flag = Home() + "/helper-locked";
  platform::SpawnOptions options;
  options.environment = {"ZIMO_DEVICE_LOCK_HELPER=" + flag};
  options.quiet = true;
  auto helper =
      platform::Spawn({self, "--gtest_also_run_disabled_tests",
                       "--gtest_filter=DeviceServerHelper.DISABLED_HoldTheLockOfCardZero"},
                      options);
  ASSERT_TRUE(helper.ok()) << helper.status().ToString();
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(flag); }));

  // The server's thread holds "MutexZimo0" for the helper: this process's
  // own library open and exchange wait until the helper's object is gone.
  std::atomic<bool> done{false};
  std::string reply;
  std::thread exchange([&] {
    if (OpenZimoDevice(0) == 1) {
      char buffer[256] = {};
      ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
      reply = buffer;
      CloseZimoDevice(0);
    }
    done = true;
  });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(done.load());
  ASSERT_TRUE(helper->Signal(SIGKILL).ok());
  (void)helper->Wait(20s);
  EXPECT_TRUE(Eventually([&] { return done.load(); }));
  exchange.join();
  EXPECT_EQ(reply, "3713707\r");
  // The library here let go of the server's service object it held.
  corvan::App().End();
  EXPECT_TRUE(a_events.events().empty());

  // The server ends 5000 ms after its last client, closing the cards.
  pid_t server_pid = 0;
  {
    auto table = platform::FileMapping::Open("ZimoSharedMemory");
    ASSERT_TRUE(table.ok());
    std::memcpy(&server_pid, static_cast<const uint8_t*>(table->data()) + 0x1DFF8, 4);
  }
  objects_.clear();
  a.reset();
  for (auto& c : connections_) c.Close();
  const auto released = std::chrono::steady_clock::now();
  auto code = automation::WaitForStartedServer(server_pid, 30s);
  ASSERT_TRUE(code.ok()) << code.status().ToString();
  EXPECT_EQ(*code, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - released, 5s);
  // Its open references are gone: the driver host lets the cards go.
  EXPECT_EQ(control_.Command("remove 0"), "ok");
}

}  // namespace
}  // namespace zimo::server::testing
