// Simulated time per wall time: a busy card (8 motors in one system, four
// PLCs with conditions, counted delays and commands, a motion program
// looping PVT moves) beside an idle card, each advanced one second of
// simulated time per iteration. The counter "sim_s_per_s" is the figure.
#include <benchmark/benchmark.h>

#include <string>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

constexpr int kCyclesPerSecond = static_cast<int>(1000.0 / (3713707 / 8388608.0));

void LoadBusyCard(Card& card) {
  for (int m = 1; m <= 8; ++m) {
    card.Execute("&1#" + std::to_string(m) + "->" + std::to_string(m) + "X");
  }
  const char* program[] = {"OPEN PROG 1 CLEAR", "WHILE(P50=0)", "PVT(100)", "INC",  "X(1000):0",
                           "X(-1000):0",        "DWE2",         "ENDWHILE", "CLOSE"};
  for (const char* line : program) card.Execute(line);
  for (int n = 1; n <= 4; ++n) {
    std::string p = std::to_string(n * 10);
    card.Execute("OPEN PLC " + std::to_string(n) + " CLEAR");
    card.Execute("P" + p + "=0");
    card.Execute("WHILE(P" + p + "<1000 AND M0>0)");
    card.Execute("P" + p + "=P" + p + "+1");
    card.Execute("ENDWHILE");
    card.Execute("IF(ABS(P" + p + "-1000)<1 OR P1=2)");
    card.Execute("CMD\"P" + std::to_string(n) + "=P" + std::to_string(n) + "+1\"");
    card.Execute("ENDIF");
    card.Execute("CLOSE");
  }
  card.Execute("M0->X:0,24 I5=3 ENA PLC 1..4 &1B1R");
}

void BM_SimulatedSecond(benchmark::State& state, bool busy) {
  Card card(CardModel::Older());
  if (busy) LoadBusyCard(card);
  for (auto _ : state) card.AdvanceServo(kCyclesPerSecond);
  state.counters["sim_s_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_SimulatedSecond, IdleCard, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulatedSecond, EightMotorsFourPlcsOneProgram, true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zimo::cardsim

BENCHMARK_MAIN();
