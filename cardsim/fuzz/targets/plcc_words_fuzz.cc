// Fuzz target: any words as the code of compiled PLC 1 from $8062 on (the
// first byte picks the card generation). The card runs them for a few servo
// cycles: a PLC that meets a word it cannot run is stopped with its address
// in the log, and the card itself goes on answering; nothing hangs or
// crashes.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/plcc_runner.h"
#include "fuzz_replay.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 1500;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  // Mostly words the compilers emit, with random ones between.
  static const std::uint32_t kWords[] = {0x56F000, 0x547000, 0x487F00, 0x42DF00, 0x280000, 0x200064,
                                         0x0AF0A1, 0x0AF080, 0x0D0C00, 0x0BF080, 0x200036, 0x01DD15,
                                         0x00000C, 0x000000, 0x48DF00, 0x3C0500, 0x0C1881, 0x07F084};
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(random())};
  const int words = static_cast<int>(random() % 40);
  for (int i = 0; i < words; ++i) {
    std::uint32_t w = random() % 3 == 0 ? static_cast<std::uint32_t>(random()) & 0xFFFFFF
                                        : kWords[random() % (sizeof kWords / sizeof kWords[0])];
    if (random() % 4 == 0) w = 0x008062 + random() % 48;  // an address word near the code
    bytes.push_back(static_cast<std::uint8_t>(w >> 16));
    bytes.push_back(static_cast<std::uint8_t>(w >> 8));
    bytes.push_back(static_cast<std::uint8_t>(w));
  }
  return bytes;
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zimo::cardsim;
  if (size == 0) return 0;
  const bool spran = (data[0] & 1) != 0;
  Card card(spran ? CardModel::Spran() : CardModel::Older());
  PlccRunner& run = card.plcc();
  Memory& m = card.memory();
  const std::uint32_t b = run.table_base(), s = run.slot_table(), e = run.chain_end(), c = run.code_start();
  // The table a download leaves with only PLCC 1 compiled, at the code start.
  for (std::uint32_t n = 0; n < 32; ++n) {
    m.Write(Space::kP, b + n, n == 1 ? 0x800000 + c : (n < 31 ? s + 2 * n + 2 : e));
    m.Write(Space::kP, s + 2 * n, 0x0AF080);
    m.Write(Space::kP, s + 2 * n + 1, n == 0 ? e : (n == 1 ? c : s + 2 * n + 2));
  }
  m.Write(Space::kP, e, 0x00000C);
  std::uint32_t at = c;
  for (std::size_t i = 1; i + 3 <= size && at < c + 2000; i += 3, ++at) {
    std::uint32_t w = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
    // Addresses near the older code start move with the SPRAN one.
    if (spran && w >= 0x8062 && w < 0x8062 + 2000) w = w - 0x8062 + c;
    m.Write(Space::kP, at, w);
  }
  card.Execute("I5=3");
  card.AdvanceServo(3);
  for (const std::string& line : run.log()) {
    if (line.rfind("PLCC ", 0) != 0) std::abort();
  }
  if (!run.log().empty() && run.log().front().rfind("PLCC 1 stopped at P:$", 0) != 0 &&
      run.log().front().rfind("PLCC 0 stopped", 0) != 0)
    std::abort();
  // The card runs on.
  if (card.Execute("P1=5").error != 0 || card.Execute("P1").lines != std::vector<std::string>{"5"}) std::abort();
  return 0;
}
