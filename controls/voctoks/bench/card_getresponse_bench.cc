// GetResponse "I10" by DISPID through the control bound to the real
// Corvan32, beside a direct ZimoGetResponseExA from the same loaded library
// on the same device, in the same run, taken in turns so both meet the same
// machine load. The card is the simulated one on a pseudo-terminal; the
// ratio is the control's own cost on top of a real exchange.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/paired_times.h"
#include "corvan_binding.h"
#include "platform/module.h"
#include "tests/serial_card_fixture.h"
#include "voctoks_ctrl.h"

namespace {

using zimo::automation::Bstr;
using zimo::automation::Variant;
namespace testing = zimo::corvan::testing;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

using GetResponseEx = uint32_t (*)(uint32_t, char*, uint32_t, const char*);

// The card on COM1 as device 0, a stand-in server, the real library loaded
// and the control bound to it with the device open.
struct Rig {
  Rig() {
    testing::RegisterSerialDevice(0, 1);
    card = std::make_unique<testing::SerialCard>(1);
    server = std::make_unique<testing::StandInServer>();
    const std::string path = (zimo::testing::BinDir() / "libcorvan32.so").string();
    zimo::voctoks::SetCorvanLibraryName(path);
    auto loaded = zimo::platform::Module::Load(path);
    if (!loaded.ok()) Fail(loaded.status().ToString());
    library = std::move(loaded.value());
    auto function = library.Function<uint32_t(uint32_t, char*, uint32_t, const char*)>(
        "ZimoGetResponseExA");
    if (!function.ok()) Fail("no ZimoGetResponseExA");
    direct = *function;
    control = std::make_unique<zimo::voctoks::CVoctoKSCtrl>();
    control->InitNew();
    control->put_SimulateCommunication(false);
    control->put_DeviceNumber(0);
    control->put_Enabled(true);
    bool enabled = false;
    control->get_Enabled(&enabled);
    if (!enabled) Fail("the control did not open device 0");
  }
  ~Rig() {
    control.reset();
    server.reset();
    card.reset();
  }

  zimo::testing::TempHome home;
  std::unique_ptr<testing::SerialCard> card;
  std::unique_ptr<testing::StandInServer> server;
  zimo::platform::Module library;
  GetResponseEx direct = nullptr;
  std::unique_ptr<zimo::voctoks::CVoctoKSCtrl> control;
};

Rig& TheRig() {
  static Rig* const rig = new Rig;
  return *rig;
}

void BM_PairedGetResponse(benchmark::State& state) {
  Rig& rig = TheRig();
  zimo::bench::PairedTimes times;
  using Clock = zimo::bench::PairedTimes::Clock;
  char buffer[17000];
  Variant response;
  Variant args[2] = {Variant::ByRef(&response, zimo::automation::VT_BSTR), Variant(Bstr(u"I10"))};
  Variant result;
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    const auto hr = rig.control->Invoke(17, zimo::automation::kMethod, args, &result, nullptr);
    const Clock::time_point t1 = Clock::now();
    const uint32_t word = rig.direct(0, buffer, 16999, "I10");
    const Clock::time_point t2 = Clock::now();
    if (hr != zimo::automation::S_OK || !result.boolean() || (word & 0x0FFFFFFF) != 8) {
      state.SkipWithError("an exchange failed");
      return;
    }
    times.AddLibrary(t1 - t0);
    times.AddDirect(t2 - t1);
  }
  times.Report(state);
}
BENCHMARK(BM_PairedGetResponse)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
