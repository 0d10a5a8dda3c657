// Cost of registry calls against a file of realistic size: a read that finds
// the file unchanged, a write (lock, check, rewrite, rename), and a read after
// another process changed the file (full re-parse).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "../testing/temp_home.h"
#include "platform/home.h"
#include "platform/registry.h"

namespace zimo::platform {
namespace {

// Eight devices with their NC keys and per-location keys of values.
RegistryKey Populate(int values_per_key) {
  auto root = RegistryKey::Create(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZIMO");
  for (int d = 0; d < 8; ++d) {
    char name[64];
    std::snprintf(name, sizeof name, "Device%d\\Nc0\\Axes", d);
    auto key = RegistryKey::Create(root->handle(), name);
    std::snprintf(name, sizeof name, "ZimoPCI%d", d);
    auto loc = RegistryKey::Create(root->handle(), name);
    for (int v = 0; v < values_per_key; ++v) {
      std::snprintf(name, sizeof name, "Value%03d", v);
      (void)loc->SetDword(name, static_cast<uint32_t>(v));
    }
  }
  return RegistryKey::Open(root->handle(), "ZimoPCI3").value();
}

void BM_ReadUnchanged(benchmark::State& state) {
  zimo::testing::TempHome home;
  RegistryKey key = Populate(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(key.GetDword("Value007"));
}
BENCHMARK(BM_ReadUnchanged)->Arg(20)->Arg(100);

void BM_Write(benchmark::State& state) {
  zimo::testing::TempHome home;
  RegistryKey key = Populate(static_cast<int>(state.range(0)));
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(key.SetDword("Value007", ++n));
}
BENCHMARK(BM_Write)->Arg(20)->Arg(100);

void BM_ReadAfterOutsideChange(benchmark::State& state) {
  zimo::testing::TempHome home;
  RegistryKey key = Populate(static_cast<int>(state.range(0)));
  std::filesystem::path file = RegistryFile();
  for (auto _ : state) {
    state.PauseTiming();
    // Touching the file stands for another process's write.
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now());
    state.ResumeTiming();
    benchmark::DoNotOptimize(key.GetDword("Value007"));
  }
}
BENCHMARK(BM_ReadAfterOutsideChange)->Arg(20)->Arg(100);

}  // namespace
}  // namespace zimo::platform
BENCHMARK_MAIN();
