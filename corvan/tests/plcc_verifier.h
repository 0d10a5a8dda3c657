// A structure check of compiled PLC code, written from the card's word
// formats and independent of the compiler's emitters: it decodes the cells,
// finds every jump and call, and tells whether each lands somewhere a
// compiled program may go.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace zimo::corvan::plcc::testing {

// What a block may jump to besides its own instructions.
struct VerifierTargets {
  std::uint32_t slot_table = 0;  // S: slots at S + 2n
  std::uint32_t chain_end = 0;   // E
  std::set<std::uint32_t> routines;
  // The display and command routines, whose call is followed by a jump
  // over the text.
  std::set<std::uint32_t> text_routines;
};

// First words that carry an extension word.
inline bool TakesExtension(std::uint32_t w) {
  static const std::set<std::uint32_t> kTwoWords = {
      // immediates into registers
      0x56F400, 0x50F400, 0x45F400, 0x44F400, 0x47F400, 0x55F400, 0x51F400, 0x57F400, 0x64F400,
      0x65F400, 0x61F400, 0x74F400, 0x75F400, 0x47F4C8, 0x05F425, 0x0140C6, 0x0140C2, 0x45F403,
      0x61F403,
      // absolute X:, Y:, L: and P: addresses
      0x547000, 0x5C7000, 0x56F000, 0x5EF000, 0x45F000, 0x4DF000, 0x44F000, 0x4CF000, 0x57F000,
      0x5FF000, 0x47F000, 0x4FF000, 0x47F017, 0x4FF017, 0x48F000, 0x42F000, 0x487000, 0x6CF000,
      0x69F000, 0x07F084, 0x07F085, 0x07F08D, 0x07F08E, 0x07F08F, 0x07F094, 0x07708C, 0x077094,
      // jumps, calls, loops, bit-field extraction
      0x0AF080, 0x0AF0A1, 0x0AF0A2, 0x0AF0A7, 0x0AF0A9, 0x0AF0AA, 0x0AF0AF, 0x0BF080, 0x0D10C0,
      0x060590, 0x0C1881};
  return kTwoWords.count(w) != 0;
}

// Checks code[0..) placed at `origin`; empty when sound, else what is wrong.
inline std::string VerifyPlccCode(const std::vector<std::uint32_t>& code, std::uint32_t origin,
                                  const VerifierTargets& t) {
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (code[i] > 0xFFFFFF) return "cell " + std::to_string(i) + " carries flag bits";
  }
  std::set<std::uint32_t> starts;
  struct Jump {
    std::size_t at;
    std::uint32_t target;
  };
  std::vector<Jump> jumps;
  std::size_t i = 0;
  bool after_text_call = false;
  while (i < code.size()) {
    const std::uint32_t w = code[i];
    starts.insert(origin + static_cast<std::uint32_t>(i));
    const std::size_t length = TakesExtension(w) ? 2 : 1;
    if (i + length > code.size())
      return "instruction at " + std::to_string(i) + " runs past the end";
    const std::uint32_t ext = length == 2 ? code[i + 1] : 0;
    const std::uint32_t here = origin + static_cast<std::uint32_t>(i);
    if (w == 0x0AF080 || (w & 0xFFFFF0) == 0x0AF0A0 || w == 0x0BF080) {
      jumps.push_back({i, ext});
    } else if (w >= 0x0D0000 && w < 0x0D1000) {
      jumps.push_back({i, w & 0xFFF});  // short JSR
    } else if (w == 0x0D10C0) {
      jumps.push_back({i, (here + ext) & 0xFFFFFF});
    }
    // A command or display hands its text to the card, then jumps over it;
    // older cards leave a command in Y:$75A / Y:$75B.
    const bool text_call = ((w == 0x0BF080 && t.text_routines.count(ext) != 0) ||
                            (w == 0x5C7000 && (ext == 0x75A || ext == 0x75B))) &&
                           code.size() > i + 2 && code[i + 2] == 0x0AF080;
    if (after_text_call && w == 0x0AF080) {
      // The words up to the jump's target are text.
      if (ext <= here + 1 || ext > origin + code.size()) return "text jump out of the block";
      i = ext - origin;
      after_text_call = false;
      continue;
    }
    after_text_call = text_call;
    if (w == 0x050C03) {  // BRA *+3 over two text words
      i += 3;
      continue;
    }
    i += length;
  }
  if (i != code.size()) return "decoding does not end at the block's end";
  for (const Jump& j : jumps) {
    const std::uint32_t a = j.target;
    const bool inside = starts.count(a) != 0;
    const bool slot = a >= t.slot_table && a < t.slot_table + 64 && (a - t.slot_table) % 2 == 0;
    const bool fixed = (a >= 8 && a <= 12) || a == 0x4000B || a == 0x40015 || a == 0x4001D;
    if (!(inside || slot || a == t.chain_end || fixed || t.routines.count(a) != 0)) {
      char text[96];
      std::snprintf(text, sizeof text, "jump at cell %zu to $%06X lands nowhere", j.at,
                    static_cast<unsigned>(a));
      return text;
    }
  }
  return "";
}

}  // namespace zimo::corvan::plcc::testing
