// "I10" round trips through jux170 on each channel, each beside its floor:
// the same work by the shortest sound road in the same run.
//  - bus: the port accesses jux170 makes, sent by the benchmark itself as
//    single-entry requests to the helper driver;
//  - DPR: the benchmark's own mailbox exchange on the mapped window;
//  - serial: a direct exchange on the pseudo-terminal, in the line mode
//    jux170 sets: CTRL-X and "I10" CR out, what comes read until the ACK.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/legacy_isa.h"
#include "jux/jux170.h"
#include "platform/device_io.h"
#include "platform/file_mapping.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace {

namespace host = zimo::drivers::host;
namespace p = zimo::platform;

// A driver host in this process with a legacy card at port 528 / 0xD4000.
struct Machine {
  zimo::testing::TempHome home;
  host::DriverHost driver_host;
  host::LegacyCards legacy{driver_host};
  std::shared_ptr<host::Slot> slot;
  std::unique_ptr<host::DeviceServer> devices;
  Machine() {
    host::LoadPortIoHelper(driver_host);
    host::CardConfig config;
    config.bus = host::Bus::kIsa;
    config.legacy_port = 528;
    config.legacy_dpr = 0xD4000;
    slot = legacy.Plug(config);
    devices = std::make_unique<host::DeviceServer>(driver_host.kernel());
    devices->Start();
  }
};

// One machine for the whole run (the library's helper-driver session is
// process-wide, as is the card table).
Machine& TheMachine() {
  static Machine* machine = new Machine;
  return *machine;
}

tagMCardInfo* OpenRecord(int method) {
  TheMachine();
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  std::strcpy(image.name, "BENCH");
  image.method = 2;
  image.retries = 3;
  image.timeout = 500;
  tagMCardInfo* r = JUXInit(&image);
  r->method = method;
  r->bus_base = 528;
  r->dpr_base = 0xD4000;
  r->bus_type = 1;
  POpenChannel(r);
  return r;
}

void BM_BusJux(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(0);
  char buffer[64];
  for (auto _ : state) {
    if (!PGetResponse(r, buffer, 63, "I10")) state.SkipWithError("no reply");
  }
  JUXShutDown(&r);
}
BENCHMARK(BM_BusJux)->UseRealTime();

// One port access as one request, as the helper driver takes them.
struct Ports {
  p::DeviceFile device;
  uint8_t range = 0;
  uint8_t Access(uint8_t op, uint16_t offset, uint8_t value) {
    uint8_t list[24] = {};
    list[8] = 1;
    list[12] = range;
    list[13] = op;
    std::memcpy(list + 14, &offset, 2);
    list[16] = value;
    device.DeviceIoControl(0xF003BBC4, list, 24, list, 24);
    return list[16];
  }
};

void BM_BusFloor(benchmark::State& state) {
  TheMachine();
  Ports ports;
  ports.device = std::move(*p::DeviceFile::Open("\\\\.\\_Default"));
  uint8_t claim[20] = {1, 0, 0, 0, 1};
  const uint32_t first = 528, count = 8;
  std::memcpy(claim + 12, &first, 4);
  std::memcpy(claim + 16, &count, 4);
  uint8_t reply[16] = {};
  ports.device.DeviceIoControl(0xF003BBDC, claim, 20, reply, 16);
  ports.range = reply[12];
  if (reply[0] == 0) state.SkipWithError("ports taken");
  for (auto _ : state) {
    if (reply[0] == 0) break;
    for (char c : std::string("I10\r")) {
      while (!(ports.Access(1, 2, 0) & 2)) {
      }
      ports.Access(8, 7, static_cast<uint8_t>(c));
    }
    for (;;) {
      while (!(ports.Access(1, 2, 0) & 1)) {
      }
      if (ports.Access(1, 7, 0) == 6) break;
    }
  }
  uint8_t release[8] = {};
  release[4] = ports.range;
  ports.device.DeviceIoControl(0xF003BBE0, release, 8, nullptr, 0);
}
BENCHMARK(BM_BusFloor)->UseRealTime();

void BM_DprJux(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(1);
  char buffer[64];
  for (auto _ : state) {
    if (!PGetResponse(r, buffer, 63, "I10")) state.SkipWithError("no reply");
  }
  JUXShutDown(&r);
}
BENCHMARK(BM_DprJux)->UseRealTime();

void BM_DprFloor(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(1);  // sets the card's mailbox up
  auto window = p::FileMapping::Open("ZimoIsaDpr" + std::string("D4000"));
  if (!window.ok()) {
    state.SkipWithError("no window");
    return;
  }
  auto* w = static_cast<uint8_t*>(window->data());
  auto word = [w](size_t at) -> volatile uint16_t& {
    return *reinterpret_cast<volatile uint16_t*>(w + at);
  };
  for (auto _ : state) {
    while (word(1580) == 1) {
    }
    std::memcpy(w + 1584, "I10", 4);
    word(1580) = 1;
    for (;;) {
      uint16_t status;
      while ((status = word(1744)) == 0) {
      }
      word(1744) = 0;
      if (status == 6) break;
    }
  }
  JUXShutDown(&r);
}
BENCHMARK(BM_DprFloor)->UseRealTime();

struct SerialCard {
  zimo::testing::TempHome home;
  zimo::cardsim::Card card{zimo::cardsim::CardModel::Older()};
  std::unique_ptr<zimo::cardsim::PtyAttachment> pty;
  SerialCard() {
    zimo::cardsim::PtyOptions options;
    options.com_port = 2;
    pty = std::move(*zimo::cardsim::PtyAttachment::Start(card, options));
  }
};

void BM_SerialJux(benchmark::State& state) {
  SerialCard s;
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  image.method = 2;
  image.com_port = 2;
  image.baud_rate = 38400;
  image.retries = 3;
  tagMCardInfo* r = JUXInit(&image);
  char buffer[64];
  for (auto _ : state) {
    if (!PGetResponse(r, buffer, 63, "I10")) state.SkipWithError("no reply");
  }
  JUXShutDown(&r);
}
BENCHMARK(BM_SerialJux)->UseRealTime();

void BM_SerialFloor(benchmark::State& state) {
  SerialCard s;
  auto port = p::SerialPort::Open("COM2");
  if (!port.ok()) {
    state.SkipWithError("no port");
    return;
  }
  // The line as jux170 leaves it after bringing the card on line: the card's
  // rate, 8 data bits, no parity, one stop bit, CTS output flow control, no
  // XON/XOFF.
  p::Dcb line = *port->GetCommState();
  line.baud_rate = 38400;
  line.byte_size = 8;
  line.parity = p::dcb::kNoParity;
  line.stop_bits = p::dcb::kOneStopBit;
  line.flags |= p::dcb::kOutxCtsFlow;
  line.flags &= ~(p::dcb::kOutX | p::dcb::kInX);
  if (!port->SetCommState(line).ok()) state.SkipWithError("line settings");
  // A read returns what is queued, or waits for the first characters to come.
  p::CommTimeouts t;
  t.read_interval_timeout = p::kMaxDword;
  t.read_total_timeout_multiplier = p::kMaxDword;
  t.read_total_timeout_constant = 1000;
  (void)port->SetCommTimeouts(t);
  char reply[64];
  for (auto _ : state) {
    // The same bytes jux170 puts on the line: CTRL-X (the card flushes and
    // echoes it), then the command.
    (void)port->TransmitCommChar(24);
    (void)port->Write("I10\r", 4);
    for (;;) {
      auto got = port->Read(reply, sizeof(reply));
      if (!got.ok() || *got == 0) {
        state.SkipWithError("no reply");
        break;
      }
      if (std::memchr(reply, 6, *got) != nullptr) break;
    }
  }
}
BENCHMARK(BM_SerialFloor)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
