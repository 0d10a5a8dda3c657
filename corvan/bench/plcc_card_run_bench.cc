// Compiled PLC passes on the simulated card: the lab's PID (its input
// branch on P1000 and the student's four lines) compiled by the PLC compiler
// and run as code words, one pass per servo cycle, beside the same source
// run by the card's text-PLC interpreter in the same run. The compiled form
// is meant to be at least as fast.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cardsim/card.h"
#include "plcc/plcc_compiler.h"

namespace {

using namespace zimo::corvan::plcc;
using zimo::cardsim::Card;
using zimo::cardsim::CardModel;

const char kPid[] =
    "if(p1000!<11)\n"
    "P900=M10/32\nP901=M11/32\nP902=M12/32\nP903=M13/32\nP905=M9/32\nP906=M14/32\n"
    "else\n"
    "P900=M10\nP901=M11\nP902=M12\nP903=M13\nP905=M9\nP906=M14\n"
    "endif\n"
    "P10 = P900 - P901\n"
    "P11 = P11 + P10\n"
    "m100 = 0.8*P10 + 0.01 *P11 + 0.2*(P10 - P12)\n"
    "P12 = P10\n";

void SetUp(Card& card) {
  card.Execute("M9..14->* M100->* M10=320 M11=64 M12=1 M13=2 M9=3 M14=4 P1000=11 I5=0");
}

bool Download(Card& card) {
  PlccTarget t = PlccTarget::Older(card.model().version);
  const auto lines = card.Execute("LIST LINK").lines;
  for (std::size_t i = 0; i < lines.size() && i < t.link_list.size(); ++i)
    t.link_list[i] = static_cast<std::uint32_t>(std::strtoul(lines[i].c_str(), nullptr, 16));
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr) return false;
  std::fputs((std::string("OPEN PLCC 0\n") + kPid + "CLOSE\n").c_str(), in);
  std::rewind(in);
  const bool ok = CompilePlccStream(t, in, out, nullptr).result == 0;
  std::rewind(out);
  std::string line;
  for (int c = std::fgetc(out); ok && c != EOF; c = std::fgetc(out)) {
    if (c != '\n') {
      if (c != '\r') line.push_back(static_cast<char>(c));
      continue;
    }
    card.Execute(line);
    line.clear();
  }
  std::fclose(in);
  std::fclose(out);
  return ok && card.Execute("ENABLE PLCC 0").error == 0;
}

void BM_CompiledPidPasses(benchmark::State& state) {
  Card card(CardModel::Older());
  SetUp(card);
  if (!Download(card)) {
    state.SkipWithError("compile or download failed");
    return;
  }
  card.Execute("I5=1");
  for (auto _ : state) card.AdvanceServo(1);
  if (card.Execute("P10").lines != std::vector<std::string>{"8"}) state.SkipWithError("wrong result");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompiledPidPasses);

void BM_TextPidScans(benchmark::State& state) {
  Card card(CardModel::Older());
  SetUp(card);
  card.Execute("OPEN PLC 0");
  card.Execute("CLEAR");
  std::string body = kPid;
  for (std::size_t start = 0, end; start < body.size(); start = end + 1) {
    end = body.find('\n', start);
    card.Execute(body.substr(start, end - start));
  }
  card.Execute("CLOSE");
  card.Execute("ENABLE PLC 0");
  card.Execute("I5=1");
  for (auto _ : state) card.AdvanceServo(1);
  if (card.Execute("P10").lines != std::vector<std::string>{"8"}) state.SkipWithError("wrong result");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextPidScans);

}  // namespace

BENCHMARK_MAIN();
