// The slope network beside the plain work it is made of: a 90 x 20
// multiply-add over the same number of inputs, in the same run.
#include <benchmark/benchmark.h>

#include <array>
#include <random>

#include "tuning/tuning.h"

namespace {

std::array<float, 90> Inputs() {
  std::array<float, 90> x{};
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(1e5f, 8e6f);
  for (auto& v : x) v = value(random);
  return x;
}

void BM_SlopeNetwork(benchmark::State& state) {
  auto x = Inputs();
  float estimate = 0.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x.data());
    zimo::corvan::tuning::SlopeNetwork(nullptr, x.data(), &estimate);
    benchmark::DoNotOptimize(estimate);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlopeNetwork);

// Baseline: the bare 90 x 20 products summed in double precision.
void BM_PlainMultiplyAdd(benchmark::State& state) {
  auto x = Inputs();
  static std::array<std::array<float, 90>, 20> w;
  std::mt19937 random(11);
  std::uniform_real_distribution<float> weight(-0.25f, 0.25f);
  for (auto& row : w) {
    for (auto& v : row) v = weight(random);
  }
  std::array<double, 20> h{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(x.data());
    for (int j = 0; j < 20; ++j) {
      double a = 0.0;
      for (int i = 0; i < 90; ++i) a += static_cast<double>(w[j][i]) * x[i];
      h[j] = a;
    }
    benchmark::DoNotOptimize(h.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainMultiplyAdd);

}  // namespace

BENCHMARK_MAIN();
