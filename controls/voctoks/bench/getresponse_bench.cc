// GetResponse "I10" by DISPID through the control beside the direct library
// call it wraps, in the same run, both on the stand-in library, so the
// difference is the control's own cost alone (dispatch, gates, lock calls,
// reply clean-up, error check, automation strings). card_getresponse_bench
// does the same against the real library and a simulated card.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "corvan_binding.h"
#include "fake_corvan.h"
#include "platform/module.h"
#include "voctoks_ctrl.h"

namespace {

using zimo::automation::Bstr;
using zimo::automation::Variant;

// The stand-in library's state block.
FakeCorvanState* State(const zimo::platform::Module& library) {
  auto get = library.Function<FakeCorvanState*()>("FakeCorvan");
  if (!get.ok()) {
    std::fprintf(stderr, "%s\n", get.status().ToString().c_str());
    std::exit(1);
  }
  return (*get)();
}

// The stand-in library, loaded for the whole run.
const zimo::platform::Module& Library() {
  static const zimo::platform::Module* const library = [] {
    zimo::voctoks::SetCorvanLibraryName(FAKE_CORVAN_FULL);
    auto loaded = zimo::platform::Module::Load(FAKE_CORVAN_FULL);
    if (!loaded.ok()) {
      std::fprintf(stderr, "%s\n", loaded.status().ToString().c_str());
      std::exit(1);
    }
    auto* module = new zimo::platform::Module(std::move(loaded.value()));
    State(*module)->reply = "4000\r";
    return module;
  }();
  return *library;
}

void BM_DirectGetResponseEx(benchmark::State& s) {
  auto function =
      Library().Function<uint32_t(uint32_t, char*, uint32_t, const char*)>("ZimoGetResponseExA");
  if (!function.ok()) {
    s.SkipWithError("no ZimoGetResponseExA in the stand-in library");
    return;
  }
  auto* get = *function;
  FakeCorvanState* state = State(Library());
  char buffer[17000];
  for (auto _ : s) {
    benchmark::DoNotOptimize(get(0, buffer, 16999, "I10"));
    state->calls.clear();
  }
}
BENCHMARK(BM_DirectGetResponseEx);

void BM_ControlGetResponseByDispid(benchmark::State& s) {
  FakeCorvanState* state = State(Library());
  zimo::voctoks::CVoctoKSCtrl control;
  control.InitNew();
  control.put_SimulateCommunication(false);
  control.put_Enabled(true);
  Variant response;
  Variant args[2] = {Variant::ByRef(&response, zimo::automation::VT_BSTR), Variant(Bstr(u"I10"))};
  Variant result;
  for (auto _ : s) {
    benchmark::DoNotOptimize(control.Invoke(17, zimo::automation::kMethod, args, &result, nullptr));
    state->calls.clear();
  }
}
BENCHMARK(BM_ControlGetResponseByDispid);

}  // namespace

BENCHMARK_MAIN();
