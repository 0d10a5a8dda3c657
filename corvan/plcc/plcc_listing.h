// The assembly listing of compiled blocks (ASMOUT): the instructions of the
// code buffer printed one per line, with labels at jump targets and the
// notes the statement generator left, and the OPEN SERVO header text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plcc/plcc_emit.h"

namespace zimo::corvan::plcc {

// Appends the listing of `code`, whose first word lies at `origin`, to
// `lines` (one entry per line, without line end).
void PrintPlccListing(const PlccCodeBuffer& code, std::uint32_t origin,
                      std::vector<std::string>& lines);

// The OPEN SERVO header as text; returns the header's size in words (the
// addresses of the code after it count from this).
int PrintServoHeader(std::vector<std::string>& lines);

}  // namespace zimo::corvan::plcc
