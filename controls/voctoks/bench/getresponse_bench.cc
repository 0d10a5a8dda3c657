// GetResponse "I10" by DISPID through the control beside the direct library
// call it wraps, in the same run. Until the communications library carries
// every function the control binds, both sides use the stand-in library, so
// the difference is the control's own cost (dispatch, gates, lock calls,
// reply clean-up, error check, automation strings).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>

#include "corvan_binding.h"
#include "fake_corvan.h"
#include "voctoks_ctrl.h"

namespace {

using zimo::automation::Bstr;
using zimo::automation::Variant;

void* Library() {
  static void* handle = [] {
    zimo::voctoks::SetCorvanLibraryName(FAKE_CORVAN_FULL);
    void* h = dlopen(FAKE_CORVAN_FULL, RTLD_NOW);
    auto state = reinterpret_cast<FakeCorvanState* (*)()>(dlsym(h, "FakeCorvan"))();
    state->reply = "4000\r";
    return h;
  }();
  return handle;
}

void BM_DirectGetResponseEx(benchmark::State& s) {
  using Fn = uint32_t (*)(uint32_t, char*, uint32_t, const char*);
  auto get = reinterpret_cast<Fn>(dlsym(Library(), "ZimoGetResponseExA"));
  auto state = reinterpret_cast<FakeCorvanState* (*)()>(dlsym(Library(), "FakeCorvan"))();
  char buffer[17000];
  for (auto _ : s) {
    benchmark::DoNotOptimize(get(0, buffer, 16999, "I10"));
    state->calls.clear();
  }
}
BENCHMARK(BM_DirectGetResponseEx);

void BM_ControlGetResponseByDispid(benchmark::State& s) {
  Library();
  auto state = reinterpret_cast<FakeCorvanState* (*)()>(dlsym(Library(), "FakeCorvan"))();
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
