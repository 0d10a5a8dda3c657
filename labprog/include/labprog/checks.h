// The checks of an entered number. A failed check beeps, shows why in a
// message box (through the process's message service; the answer goes to
// the link's LastLinkStatus) and returns false; the dialog then gives the
// field the focus back.
#pragma once

#include <string>
#include <string_view>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// `value` must lie between 0 and a maximum chosen by `kind`:
//   0  the card's P variable numbered by |limit| ("P74" for 74)
//   1  that number / 3276 (DAC counts to volts)
//   2  that number in user units
//   3  32767
//   4  `limit` (counts) in user units
//   5  `limit` itself
// In demonstration mode kinds 0 to 2 ask nothing and take the number in the
// shared reply text as it last stood (0 when it holds none). An unknown
// kind, or a limit too large to name a P variable, checks only the minimum.
bool CheckValueInRange(LabProgram& program, float value, float limit, int kind);

// The leading number of `text` must lie within [low, high]; `name` says
// what the number is ("Segment time").
bool CheckTextBounds(LabProgram& program, std::string_view text, const std::string& name, float low,
                     float high);

}  // namespace zimo::labprog
