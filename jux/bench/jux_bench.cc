// "I10" round trips through jux170 on each channel, each beside its floor:
// the same work by the shortest sound road in the same run.
//  - bus: the port accesses jux170 makes (a status poll for waiting input,
//    then per character a status poll and a data access), sent by the
//    benchmark itself as single-entry requests to the helper driver;
//  - DPR: the benchmark's own mailbox exchange on the mapped window, polling
//    the mailbox words with the same pause between polls that jux170 makes
//    (a record's time-out counts polls, so a poll cannot be a bare spin);
//  - serial: a direct exchange on the pseudo-terminal, in the line mode
//    jux170 sets: CTRL-X and "I10" CR out, what comes read until the ACK.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "../tests/jux_cards.h"
#include "jux/jux170.h"
#include "platform/device_io.h"
#include "platform/file_mapping.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace {

namespace p = zimo::platform;
using jux_testing::LegacyMachine;
using jux_testing::OpenLegacyRecord;

// The pause jux170 makes between two polls of the mailbox.
constexpr std::chrono::microseconds kPollPause{100};

// One home and one machine for the whole run (the library's helper-driver
// session is process-wide, as is the card table).
struct Machine {
  zimo::testing::TempHome home;
  LegacyMachine legacy;
  bool plugged = legacy.Plug();
};

Machine& TheMachine() {
  static Machine* machine = new Machine;
  return *machine;
}

tagMCardInfo* OpenRecord(benchmark::State& state, int method) {
  if (!TheMachine().plugged) {
    state.SkipWithError("no legacy card");
    return nullptr;
  }
  tagMCardInfo* r = OpenLegacyRecord("BENCH", method, 3, 500);
  if (r == nullptr || !r->connected) state.SkipWithError("the card did not come on line");
  return r;
}

void JuxRoundTrips(benchmark::State& state, tagMCardInfo* r) {
  char buffer[64];
  for (auto _ : state) {
    if (!PGetResponse(r, buffer, 63, "I10")) {
      state.SkipWithError("no reply");
      break;
    }
  }
}

void BM_BusJux(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(state, 0);
  if (r == nullptr) return;
  JuxRoundTrips(state, r);
  JUXShutDown(&r);
}
BENCHMARK(BM_BusJux)->UseRealTime();

// The helper driver's port requests, one access each.
class Ports {
 public:
  explicit Ports(p::DeviceFile device) : device_(std::move(device)) {}
  ~Ports() {
    if (!claimed_) return;
    uint8_t release[8] = {};
    release[4] = range_;
    device_.DeviceIoControl(0xF003BBE0, release, 8, nullptr, 0);
  }
  bool Claim(uint32_t first, uint32_t count) {
    uint8_t claim[20] = {};
    std::memcpy(claim + 12, &first, 4);
    std::memcpy(claim + 16, &count, 4);
    uint8_t reply[16] = {};
    device_.DeviceIoControl(0xF003BBDC, claim, 20, reply, 16);
    claimed_ = reply[0] != 0;
    range_ = reply[12];
    return claimed_;
  }
  uint8_t Read(uint16_t offset) { return Access(1, offset, 0); }
  void Write(uint16_t offset, uint8_t value) { Access(8, offset, value); }

  // Requests made so far.
  long accesses() const { return accesses_; }

 private:
  uint8_t Access(uint8_t op, uint16_t offset, uint8_t value) {
    ++accesses_;
    uint8_t list[24] = {};
    list[8] = 1;
    list[12] = range_;
    list[13] = op;
    std::memcpy(list + 14, &offset, 2);
    list[16] = value;
    device_.DeviceIoControl(0xF003BBC4, list, 24, list, 24);
    return list[16];
  }
  p::DeviceFile device_;
  uint8_t range_ = 0;
  bool claimed_ = false;
  long accesses_ = 0;
};

void BM_BusFloor(benchmark::State& state) {
  if (!TheMachine().plugged) return state.SkipWithError("no legacy card");
  auto device = p::DeviceFile::Open("\\\\.\\_Default");
  if (!device.ok()) return state.SkipWithError("no helper driver");
  Ports ports(std::move(*device));
  if (!ports.Claim(528, 8)) return state.SkipWithError("ports taken");
  constexpr uint16_t kStatus = 2, kData = 7;
  for (auto _ : state) {
    (void)ports.Read(kStatus);  // nothing left over from before
    for (char c : std::string("I10\r")) {
      while (!(ports.Read(kStatus) & 2)) {
      }
      ports.Write(kData, static_cast<uint8_t>(c));
    }
    for (;;) {
      while (!(ports.Read(kStatus) & 1)) {
      }
      if (ports.Read(kData) == 6) break;
    }
  }
  // 27 for "I10": one poll, four characters out, nine in.
  if (state.iterations() > 0) {
    state.counters["requests"] = static_cast<double>(ports.accesses()) / state.iterations();
  }
}
BENCHMARK(BM_BusFloor)->UseRealTime();

void BM_DprJux(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(state, 1);
  if (r == nullptr) return;
  JuxRoundTrips(state, r);
  JUXShutDown(&r);
}
BENCHMARK(BM_DprJux)->UseRealTime();

void BM_DprFloor(benchmark::State& state) {
  tagMCardInfo* r = OpenRecord(state, 1);  // sets the card's mailbox up
  if (r == nullptr) return;
  auto window = p::FileMapping::Open("ZimoIsaDprD4000");
  if (!window.ok()) {
    JUXShutDown(&r);
    return state.SkipWithError("no window");
  }
  auto* w = static_cast<uint8_t*>(window->data());
  auto word = [w](size_t at) -> volatile uint16_t& {
    return *reinterpret_cast<volatile uint16_t*>(w + at);
  };
  constexpr size_t kFlag = 1580, kText = 1584, kEntry = 1744;
  for (auto _ : state) {
    while (word(kFlag) == 1) std::this_thread::sleep_for(kPollPause);
    std::memcpy(w + kText, "I10", 4);
    word(kFlag) = 1;
    for (;;) {
      uint16_t entry;
      while ((entry = word(kEntry)) == 0) std::this_thread::sleep_for(kPollPause);
      word(kEntry) = 0;
      if (entry == 6) break;
    }
  }
  JUXShutDown(&r);
}
BENCHMARK(BM_DprFloor)->UseRealTime();

// A card on a pseudo-terminal registered as COM2, in the run's one home.
struct SerialCard {
  bool home_ready = (TheMachine(), true);
  jux_testing::PtyCard pty;
  bool attached = pty.Attach(2).ok();
};

void BM_SerialJux(benchmark::State& state) {
  SerialCard s;
  if (!s.attached) return state.SkipWithError("no pseudo-terminal");
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  image.method = 2;
  image.com_port = 2;
  image.baud_rate = 38400;
  image.retries = 3;
  tagMCardInfo* r = JUXInit(&image);
  if (r == nullptr || !r->connected) return state.SkipWithError("the card did not come on line");
  JuxRoundTrips(state, r);
  JUXShutDown(&r);
}
BENCHMARK(BM_SerialJux)->UseRealTime();

void BM_SerialFloor(benchmark::State& state) {
  SerialCard s;
  if (!s.attached) return state.SkipWithError("no pseudo-terminal");
  auto port = p::SerialPort::Open("COM2");
  if (!port.ok()) return state.SkipWithError("no port");
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
  if (!port->SetCommState(line).ok()) return state.SkipWithError("line settings");
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
    bool done = false;
    while (!done) {
      auto got = port->Read(reply, sizeof(reply));
      if (!got.ok() || *got == 0) {
        state.SkipWithError("no reply");
        return;
      }
      done = std::memchr(reply, 6, *got) != nullptr;
    }
  }
}
BENCHMARK(BM_SerialFloor)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
