// The student's algorithm on its way to the card: the demacrotizer's
// pieces, the link list the compiler needs and the compiler's description
// of the lab's card.
#pragma once

#include <cstdint>
#include <string>

#include "plcc/plcc_target.h"

namespace zimo::labhelper {

// The rate number the program frame compares its counters with: the sample
// period in units of 0.88 ms, minus 1.
int FrameRateNumber(float sample_time);

// The text that stands for BEGIN for the given rate number.
std::string ProgramFrame(int rate);

// The 41 routine addresses of a link-list text: hexadecimal numbers between
// blanks and line ends, read up to the 41st, a 0 or the end. False unless
// all 41 were read.
bool ParseLinkList(const char* text, std::size_t size,
                   std::uint32_t (&values)[corvan::plcc::kLabLinkValues]);

// The card the lab's compiler writes for: an older card's PLC area, the
// routines of the link list, the reduced language and its limits.
corvan::plcc::PlccTarget LabTarget(const std::uint32_t (&values)[corvan::plcc::kLabLinkValues]);

}  // namespace zimo::labhelper
