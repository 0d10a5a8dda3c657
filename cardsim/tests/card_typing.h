// Typing into a test's card as a terminal would: lines the card must take
// without an error, its answer lines, and a PLC program more than one test
// runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {

using Lines = std::vector<std::string>;

inline void Type(Card& card, const Lines& lines) {
  for (const std::string& line : lines) EXPECT_EQ(card.Execute(line).error, 0) << line;
}

// The answer lines of a line the card must take.
inline Lines Ask(Card& card, std::string_view line) {
  Reply reply = card.Execute(line);
  EXPECT_EQ(reply.error, 0) << line;
  return reply.lines;
}

// The first answer line ("" when there is none), whatever the error.
inline std::string FirstLine(Card& card, const std::string& line) {
  Reply r = card.Execute(line);
  return r.lines.empty() ? std::string() : r.lines.front();
}

// The rough-phase PLC 31: it opens motor 1's loop, swaps I129/I179 for offsets of +-3000 by I172,
// waits two counted delays of 5000 loops, puts the offsets back and disables itself.
inline const Lines& RoughPhasePlc() {
  static const Lines program = {"OPEN PLC 31 CLEAR",
                                "CMD\"#1o0\"",
                                "P129=I129",
                                "P179=I179",
                                "IF (I172 > 128)",
                                "  I129=3000",
                                "  I179=-3000",
                                "ELSE",
                                "  I129=-3000",
                                "  I179=3000",
                                "ENDIF",
                                "P1=0",
                                "WHILE (P1 < 5000)   ; do a delay",
                                "  P1=P1+1",
                                "ENDWHILE",
                                "I129=P129",
                                "P1=0",
                                "WHILE (P1 < 5000)",
                                "  P1=P1+1",
                                "ENDWHILE",
                                "M171=0",
                                "I179=P179",
                                "DISABLE PLC 31",
                                "P998=10",
                                "CLS",
                                "P998=0"};
  return program;
}

}  // namespace zimo::cardsim
