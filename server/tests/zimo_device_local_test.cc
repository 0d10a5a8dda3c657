// The device object inside this process, over a serial simulated card and
// the library linked here: the firmware kind, what Open and Close count,
// what an object that goes without Close or UnlockDevice gives back, and
// the card registry routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "automation/event_sink.h"
#include "core/card_registry.h"
#include "core/comm_library.h"
#include "core/device_clients.h"
#include "core/server_ids.h"
#include "core/zimo_device.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "link/library_app.h"
#include "serial_card_fixture.h"

namespace zimo::server {
namespace {

using namespace std::chrono_literals;
using automation::DispId;
using automation::S_OK;
using automation::Variant;
using corvan::App;
using corvan::testing::LibraryClock;
using corvan::testing::RegisterSerialDevice;
using corvan::testing::SerialCard;
using corvan::testing::StandInServer;

// Device 0: a serial card of `model` on COM1, with the server's table.
class SerialCardHere {
 public:
  explicit SerialCardHere(cardsim::CardModel model) {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    server_ = std::make_unique<StandInServer>();
  }
  ~SerialCardHere() {
    ShutdownZimoDevice(0, 1);
    App().End();
  }
  cardsim::Card& card() { return card_->card(); }

 private:
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

int OpenCount(int device) {
  const corvan::DeviceUserHandle* user = App().User(device);
  return user != nullptr ? static_cast<int>(user->OpenCount) : -1;
}

TEST(ZimoDeviceLocalTest, FirmwareTypeComesFromTheCardsTypeText) {
  const struct {
    const char* suffix;
    int32_t kind;
  } cases[] = {{"", 1}, {" ESA", 2}, {" LHB", 3}};
  for (const auto& c : cases) {
    zimo::testing::TempHome home;
    LibraryClock clock;
    cardsim::CardModel model = cardsim::CardModel::Older();
    model.type_text += c.suffix;
    SerialCardHere card(std::move(model));
    auto device = std::make_shared<ZimoDevice>(nullptr);
    ASSERT_EQ(device->Open(0), S_OK) << c.suffix;
    int32_t kind = -1;
    EXPECT_EQ(device->GetFirmwareType(0, &kind), S_OK);
    EXPECT_EQ(kind, c.kind) << "type text ends in \"" << c.suffix << "\"";
    EXPECT_EQ(device->GetFirmwareType(0, nullptr), automation::E_POINTER);
  }
}

TEST(ZimoDeviceLocalTest, AnObjectThatGoesWithoutCloseOrUnlockGivesBoth) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  SerialCardHere card(cardsim::CardModel::Older());
  auto a = std::make_shared<ZimoDevice>(nullptr);
  auto b = std::make_shared<ZimoDevice>(nullptr);
  ASSERT_EQ(a->Open(0), S_OK);
  ASSERT_EQ(a->Open(0), S_OK);
  EXPECT_EQ(OpenCount(0), 1);  // twice by one object: one reference
  ASSERT_EQ(b->Open(0), S_OK);
  EXPECT_EQ(OpenCount(0), 2);
  EXPECT_EQ(DeviceClients::Instance().Head(0), b.get());

  EXPECT_EQ(a->LockDevice(0), S_OK);
  EXPECT_EQ(a->LockDevice(0), S_OK);
  EXPECT_EQ(a->held_locks(0), 2);
  EXPECT_EQ(b->UnlockDevice(0), S_OK);  // b holds none: a's stay
  EXPECT_EQ(a->held_locks(0), 2);

  // While a holds the lock, another thread's exchange waits.
  std::atomic<bool> done{false};
  std::string reply;
  std::thread other([&] {
    char buffer[256] = {};
    ZimoGetResponseExA(0, buffer, sizeof buffer, "I10");
    reply = buffer;
    done = true;
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(done.load());
  a.reset();  // no Close, no UnlockDevice
  other.join();
  EXPECT_EQ(reply, "3713707\r");
  EXPECT_EQ(OpenCount(0), 1);
  EXPECT_EQ(DeviceClients::Instance().size(0), 1u);
  EXPECT_EQ(DeviceClients::Instance().Head(0), b.get());

  EXPECT_EQ(b->Close(0), S_OK);
  EXPECT_EQ(OpenCount(0), 0);
  EXPECT_EQ(DeviceClients::Instance().size(0), 0u);
}

TEST(ZimoDeviceLocalTest, PrintfSendersRefuseALineTooLongForOneCommand) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  RegisterSerialDevice(0, 1);
  SerialCard card(1, cardsim::CardModel::Older());
  auto server = std::make_unique<StandInServer>();
  ASSERT_EQ(OpenZimoDevice(0), 1);
  char reply[256] = "untouched";
  EXPECT_EQ(CommLibrary::GetResponse(0, reply, sizeof reply, "I%d", 10), 0x80000000u | 8u);
  EXPECT_STREQ(reply, "3713707\r");
  // Card text handed in as an argument is never read as a format.
  EXPECT_EQ(CommLibrary::GetResponse(0, reply, sizeof reply, "%s", "%s%n%s") & 0xF0000000u,
            0xE0000000u);
  EXPECT_EQ(CommLibrary::SendCommand(0, "P%d=%s", 1, "5"), 1);
  EXPECT_TRUE(card.Received("P1=5"));
  const size_t before = card.received().size();
  const std::string tail(252, '7');  // "P1=" + 252 digits: 255 characters fit
  const std::string too_long = tail + "7";
  EXPECT_EQ(CommLibrary::GetResponse(0, reply, sizeof reply, "P1=%s", too_long.c_str()),
            0xF0000000u);
  EXPECT_STREQ(reply, "");
  EXPECT_EQ(CommLibrary::SendCommand(0, "P1=%s", too_long.c_str()), 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(card.received().size(), before);
  EXPECT_EQ(CommLibrary::SendCommand(0, "P1=%s", tail.c_str()), 1);
  EXPECT_TRUE(card.Received("P1=" + tail));
  ShutdownZimoDevice(0, 1);
  App().End();
}

TEST(ZimoDeviceLocalTest, LibraryReportsBecomeEventsOfTheStartingObjectOnly) {
  auto object = std::make_shared<ZimoDevice>(nullptr);
  std::vector<std::vector<automation::Variant>> got;
  auto sink = automation::MakeEventSink(
      k_IZimoDeviceEvents,
      [&got](automation::DispId id, std::span<automation::Variant> args, automation::Variant*) {
        std::vector<automation::Variant> row{automation::Variant(id)};
        row.insert(row.end(), args.begin(), args.end());
        got.push_back(row);
        return S_OK;
      });
  uint32_t cookie = 0;
  ASSERT_EQ(object->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
  std::shared_ptr<LibraryReports> reports = object->ReportsFor(3);
  reports->MessageId(3, 1);
  reports->Message("PLCC Compiling ZIMO file: a.pmc", 0);
  reports->Progress(40);
  reports->Error("a.56K", 31, 7, "P1=");
  using automation::Bstr;
  using automation::Variant;
  const std::vector<std::vector<Variant>> expected = {
      {Variant(1), Variant(3), Variant(Bstr::FromAnsi("Data error or unrecognized command.")),
       Variant(1)},
      {Variant(1), Variant(3), Variant(Bstr::FromAnsi("PLCC Compiling ZIMO file: a.pmc")),
       Variant(0)},
      {Variant(2), Variant(3), Variant(40)},
      {Variant(3), Variant(3), Variant(Bstr::FromAnsi("a.56K")), Variant(31), Variant(7),
       Variant(Bstr::FromAnsi("P1="))},
  };
  EXPECT_EQ(got, expected);
  // Once the object is gone its operation's reports reach no one.
  object.reset();
  reports->Progress(100);
  EXPECT_EQ(got.size(), expected.size());
}

TEST(ZimoDeviceLocalTest, ChecksumsAreSwitchedAndReadAsTheCardsMode) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  SerialCardHere card(cardsim::CardModel::Older());
  auto device = std::make_shared<ZimoDevice>(nullptr);
  ASSERT_EQ(device->Open(0), S_OK);
  const DispId kDoChecksums = 0x25;
  const DispId kSetChecksums = 0x1d;
  auto flag = [&] {
    Variant on(-1);
    std::vector<Variant> args{0};
    EXPECT_EQ(device->Invoke(kDoChecksums, automation::kPropertyGet, args, &on, nullptr), S_OK);
    return on;
  };
  EXPECT_EQ(flag(), Variant(0));
  std::vector<Variant> on{0, 1};
  ASSERT_EQ(device->Invoke(kDoChecksums, automation::kPropertyPut, on, nullptr, nullptr), S_OK);
  EXPECT_EQ(flag(), Variant(1));
  automation::Bstr answer;
  ASSERT_EQ(device->GetResponse(0, automation::Bstr(u"I10"), &answer), S_OK);
  EXPECT_EQ(answer.ToAnsi(), "3713707\r");
  std::vector<Variant> off{0, 0};
  ASSERT_EQ(device->Invoke(kSetChecksums, automation::kMethod, off, nullptr, nullptr), S_OK);
  EXPECT_EQ(flag(), Variant(0));
  ASSERT_EQ(device->Close(0), S_OK);
}

// Stations on nodes 0 and 1 (type 1) and 4 (type 2) of the
// older card's 14: the node rows, a station's I-variables, and the saved
// configuration, whose progress reaches the object that asked for it.
TEST(ZimoDeviceLocalTest, RingStationsThroughTheNodeRows) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  SerialCardHere here(cardsim::CardModel::Older());
  for (int node : {0, 1, 4}) here.card().AddRingStation(node, node == 4 ? 2 : 1);
  auto device = std::make_shared<ZimoDevice>(nullptr);
  ASSERT_EQ(device->Open(0), S_OK);

  int32_t stations = -1, active = -1;
  ASSERT_EQ(device->GetVarloNodes(0, &stations, &active), S_OK);
  EXPECT_EQ(active, 3);
  EXPECT_EQ(stations, 2);
  struct Node {
    int32_t node, enabled, io, id;
  };
  for (const Node& n : {Node{0, 1, 0, 1}, Node{1, 1, 0, 1}, Node{2, -1, -1, -1}, Node{4, 1, 0, 2},
                        Node{13, -1, -1, -1}, Node{63, -1, -1, -1}}) {
    int32_t enabled = 9, io = 9, id = 9;
    ASSERT_EQ(device->GetVarloNodeInfo(0, n.node, &enabled, &io, &id), S_OK);
    EXPECT_EQ((std::vector<int32_t>{enabled, io, id}),
              (std::vector<int32_t>{n.enabled, n.io, n.id}))
        << "node " << n.node;
  }
  Variant table;
  ASSERT_EQ(device->AerivoAnalyze(0, &table, &active), S_OK);
  EXPECT_EQ(active, 3);
  ASSERT_EQ(table.vt(), automation::VT_ARRAY | automation::VT_UI1);
  ASSERT_EQ(table.array().bytes().size(), 776u);
  int32_t type_of_4 = 0;
  std::memcpy(&type_of_4, table.array().bytes().data() + 4 * (130 + 4), 4);
  EXPECT_EQ(type_of_4, 2);

  using automation::Bstr;
  int32_t value = 0;
  ASSERT_EQ(device->GetVarloIVariableLong(0, 4, 3, -1, &value), S_OK);
  EXPECT_EQ(value, 2);
  int32_t success = 0;
  ASSERT_EQ(device->SetVarloIVariableString(0, 4, 920, Bstr(u"1.5"), &success), S_OK);
  EXPECT_EQ(success, 1);
  Bstr text;
  ASSERT_EQ(device->GetVarloIVariableString(0, 4, 920, Bstr(u"none"), &text), S_OK);
  EXPECT_EQ(text.ToAnsi(), "1.5");
  ASSERT_EQ(device->GetVarloIVariableString(0, 9, 920, Bstr(u"none"), &text), S_OK);
  EXPECT_EQ(text.ToAnsi(), "none");

  std::vector<int32_t> progress;
  auto sink = automation::MakeEventSink(k_IZimoDeviceEvents,
                                        [&progress](DispId id, std::span<Variant> args, Variant*) {
                                          if (id == kEventProgress)
                                            progress.push_back(args[1].i4());
                                          return S_OK;
                                        });
  uint32_t cookie = 0;
  ASSERT_EQ(device->Advise(kIid_IZimoDeviceEvents, sink, &cookie), S_OK);
  const std::string file = (home.path() / "ring.cfg").string();
  ASSERT_EQ(device->UploadVarloConfig(0, Bstr::FromAnsi(file), &success), S_OK);
  EXPECT_EQ(success, 1);
  EXPECT_TRUE(std::filesystem::exists(file));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 0);
  for (int32_t p : progress) EXPECT_TRUE(p >= 0 && p <= 100) << p;
  ASSERT_EQ(device->Close(0), S_OK);
}

// Compiled PLCs 2 and 5 laid out in the older card's memory by hand (as
// the compiler would leave them), 2 enabled: the compiled-PLC list hands
// out the two present entries in number order, then zeros.
TEST(ZimoDeviceLocalTest, CompiledPlcListWalksThePresentEntries) {
  zimo::testing::TempHome home;
  LibraryClock clock;
  SerialCardHere here(cardsim::CardModel::Older());
  auto device = std::make_shared<ZimoDevice>(nullptr);
  ASSERT_EQ(device->Open(0), S_OK);
  corvan::SharedDeviceBlock* b = App().Block(0);
  ASSERT_NE(b, nullptr);
  const uint32_t base = 0x8000;
  b->PlcTableBase = base;
  b->PlcChainEnd = base + 96;
  b->PlcSlotTable = base + 32;
  b->PlcCodeStart = base + 0x70;
  const uint32_t code_end = base + 0x270;
  char line[128];
  automation::Bstr answer;
  auto write = [&](uint32_t address, uint32_t word) {
    std::snprintf(line, sizeof line, "WP$%X,$%X", address, word);
    ASSERT_EQ(device->GetResponse(0, automation::Bstr::FromAnsi(line), &answer), S_OK) << line;
  };
  write(base + 2, 0x800000 | (base + 0x100));
  write(base + 5, 0x800000 | (base + 0x80));
  write(base + 32 + 2 * 2 + 1, base + 0x100);           // PLC 2 jumps into its code
  write(base + 32 + 2 * 5 + 1, base + 32 + 2 * 5 + 2);  // PLC 5 to the next slot
  write(base + 97, code_end - (base + 0x70));           // the end of all code, from C

  int32_t plcs = -1, compiled = -1, i5 = -1;
  ASSERT_EQ(device->GetPlcStatus(0, &plcs, &compiled, &i5), S_OK);
  EXPECT_EQ(compiled, 2);
  int32_t out[6];
  auto entry = [&out] { return std::vector<int32_t>(out, out + 6); };
  std::fill(std::begin(out), std::end(out), 9);
  ASSERT_EQ(device->GetFirstPlcc(0, &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]), S_OK);
  EXPECT_EQ(entry(), (std::vector<int32_t>{1, 1, 0x8100, 0x826F, 0x170, 1}));
  ASSERT_EQ(device->GetNextPlcc(0, &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]), S_OK);
  EXPECT_EQ(entry(), (std::vector<int32_t>{1, 0, 0x8080, 0x80FF, 0x80, 0}));
  std::fill(std::begin(out), std::end(out), 9);
  ASSERT_EQ(device->GetNextPlcc(0, &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]), S_OK);
  EXPECT_EQ(entry(), (std::vector<int32_t>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(device->GetNextPlcc(0, &out[0], nullptr, &out[2], &out[3], &out[4], &out[5]),
            automation::E_POINTER);
  ASSERT_EQ(device->Close(0), S_OK);
}

TEST(ZimoDeviceLocalTest, WordFormatsConvertTheCardsHexText) {
  auto device = std::make_shared<ZimoDevice>(nullptr);
  using Method = HRESULT (ZimoDevice::*)(const automation::Bstr&, double*);
  const struct {
    Method method;
    const char16_t* text;
    double value;
  } cases[] = {
      {&ZimoDevice::strtod48l, u"FFFFFF000001", -16777215.0},
      {&ZimoDevice::strtod48l, u"000001000000", 16777216.0},
      {&ZimoDevice::strtod24, u"FFFFFE", -2.0},
      {&ZimoDevice::strtod24, u"7FFFFF", 8388607.0},
      // Mantissa 0x400 with exponent 0x801: 2^10 / 2^35 * 2^2.
      {&ZimoDevice::strtod48f, u"000000400801", std::ldexp(1.0, -23)},
      // The double word: high half in digits 3-6, low half in digits 9-12.
      {&ZimoDevice::strtod32dp, u"00FFFF00FFFE", -2.0},
      // The split single 1.5 (0x3FC00000).
      {&ZimoDevice::strto32f, u"003FC0000000", 1.5},
  };
  for (const auto& c : cases) {
    double value = 12345.0;
    EXPECT_EQ((device.get()->*c.method)(automation::Bstr(c.text), &value), S_OK);
    EXPECT_EQ(value, c.value) << std::string(c.text,
                                             c.text + std::char_traits<char16_t>::length(c.text));
  }
  double value = 0;
  EXPECT_EQ(device->strtod48l(automation::Bstr(), &value), automation::E_POINTER);
  EXPECT_EQ(device->strtod48l(automation::Bstr(u"FFFFFF000001"), nullptr), automation::E_POINTER);

  int32_t bit = -1;
  EXPECT_EQ(device->GetBitValue(automation::Bstr(u"8000"), 15, &bit), S_OK);
  EXPECT_EQ(bit, 1);
  EXPECT_EQ(device->GetBitValue(automation::Bstr(u"8000"), 14, &bit), S_OK);
  EXPECT_EQ(bit, 0);

  // One dword from the caller: the pair's upper dword is 0, never read
  // from beyond the caller's value. 0x400801 is the word above.
  int32_t word = 0x400801;
  ASSERT_EQ(device->DPRFloat(&word, 2.0, &value), S_OK);
  EXPECT_EQ(value, std::ldexp(1.0, -22));
  EXPECT_EQ(word, 0x400801);
}

TEST(CardRegistryTest, ReadingCreatesNoKeyAndWritingMakesOne) {
  zimo::testing::TempHome home;
  auto d2 = platform::RegistryKey::Create(platform::kHkeyLocalMachine,
                                          std::string(kDriverKeyPath) + "\\Device2");
  ASSERT_TRUE(d2.ok());
  ASSERT_TRUE(d2->SetDword("DPRNumCoordSys", 2).ok());
  ASSERT_TRUE(d2->SetString("Text", "x").ok());
  ASSERT_EQ(CountConfiguredDevices(), 1);

  uint32_t value = 0;
  EXPECT_EQ(ReadCardDword(5, "DPRNumCoordSys", &value, 77), 0);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(CountConfiguredDevices(), 1);  // the read made no key
  EXPECT_EQ(ReadCardDword(2, "DPRNumCoordSys", &value, 77), 1);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(ReadCardDword(2, "Text", &value, 9), 0);  // not a DWORD
  EXPECT_EQ(value, 9u);
  EXPECT_EQ(ReadCardDword(8, "DPRNumCoordSys", &value, 4), 0);
  EXPECT_EQ(value, 4u);

  EXPECT_EQ(WriteCardDword(5, "DPRNumCoordSys", 1), 1);
  EXPECT_EQ(CountConfiguredDevices(), 2);
  EXPECT_EQ(ReadCardDword(5, "DPRNumCoordSys", &value, 0), 1);
  EXPECT_EQ(value, 1u);
  auto made = platform::RegistryKey::Open(platform::kHkeyLocalMachine,
                                          std::string(kDriverKeyPath) + "\\Device5");
  ASSERT_TRUE(made.ok());
  EXPECT_EQ(made->ClassText().value(), "Motion Drivers");

  auto device = std::make_shared<ZimoDevice>(nullptr);
  int32_t keys = -1;
  EXPECT_EQ(device->GetNumDeviceKeys(&keys), S_OK);
  EXPECT_EQ(keys, 2);
}

}  // namespace
}  // namespace zimo::server
