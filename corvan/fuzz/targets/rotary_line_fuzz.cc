// Fuzz target: the motion-text converter. The input's first byte picks the
// card generation; the rest is one line of text. Whatever the text, the
// parse and the encoding stay inside their buffers, end in a known result,
// and every unit leaves its top 16 bits clear.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dpr/rotary_encoder.h"
#include "dpr/rotary_parser.h"
#include "fuzz_replay.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool KnownError(int r) {
  switch (r) {
    case -37:
    case -60:
    case -61:
    case -62:
    case -63:
    case -66:
    case -67:
    case -68:
    case -69:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const zimo::corvan::RotaryDialect dialect =
      (data[0] & 1) != 0 ? zimo::corvan::kRotarySpran : zimo::corvan::kRotaryOlder;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);

  std::array<zimo::corvan::RotaryToken, zimo::corvan::kRotaryTokenLimit> tokens{};
  const int parsed = zimo::corvan::RotaryParseLine(dialect, line.c_str(), tokens.data());
  Check(parsed == 0 || KnownError(parsed));
  if (parsed == 0) {
    bool ended = false;
    for (const auto& t : tokens) {
      if (t.code == 0) {
        ended = true;
        break;
      }
    }
    Check(ended);
  }

  // Exactly the block's size, so that a sanitizer sees any write beyond.
  auto block = std::make_unique<std::uint8_t[]>(zimo::corvan::kRotaryBlockBytes);
  const int words = zimo::corvan::RotaryConvertLine(dialect, line.c_str(), block.get());
  Check(words < 0 ? KnownError(words) : words % 2 == 0 && words <= 152);
  if (parsed != 0) Check(words == parsed);
  for (int u = 0; u < words / 2; ++u) Check(block[8 * u + 6] == 0 && block[8 * u + 7] == 0);
  return 0;
}

// Generated inputs for the replay driver: lines made of the language's
// keywords, letters, numbers and punctuation.
namespace zimo::testing {

const int kFuzzGeneratedInputs = 20000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* const kPieces[] = {"IF(",
                                        "WHILE(",
                                        "P1",
                                        "M2",
                                        "Q3",
                                        "I4",
                                        "P(",
                                        "M(",
                                        "=",
                                        "==",
                                        "&=",
                                        "|=",
                                        "^=",
                                        "-",
                                        "+",
                                        "*",
                                        "/",
                                        "%",
                                        "&",
                                        "|",
                                        "^",
                                        "(",
                                        ")",
                                        "(-",
                                        ">",
                                        "<",
                                        "!=",
                                        "~",
                                        " AND ",
                                        " OR ",
                                        "X10",
                                        "Y-1.5",
                                        "Z$1F",
                                        "TA",
                                        "DWELL",
                                        ":",
                                        "CCR",
                                        "LINEAR",
                                        "HOME 1,3",
                                        "HOMEZ 1..40",
                                        "DISABLE PLC 1..3,5",
                                        "ENA PLCC 0",
                                        "ABS(X,Y)",
                                        "INC(R)",
                                        "FRAX",
                                        "AROTATE 99",
                                        "CIRCLE",
                                        "SIN(",
                                        "ATAN2(",
                                        "1E12",
                                        "1E-12",
                                        "0.",
                                        ".",
                                        " ",
                                        ",",
                                        "\r",
                                        ";",
                                        "\xC4",
                                        "x",
                                        "N",
                                        "CALL",
                                        "1",
                                        "1024",
                                        "8191"};
  std::vector<std::uint8_t> input;
  input.push_back(static_cast<std::uint8_t>(random()));
  const int pieces = 1 + static_cast<int>(random() % 60);
  for (int i = 0; i < pieces; ++i) {
    const std::string piece = kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
    input.insert(input.end(), piece.begin(), piece.end());
  }
  return input;
}

}  // namespace zimo::testing
